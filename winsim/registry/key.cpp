#include "registry/key.h"

#include "registry/tree.h"

#include <algorithm>
#include <utility>

namespace winsim::reg {

namespace {

using Guard = std::lock_guard<std::mutex>;

const Value* find_value(const std::vector<Value>& values, std::string_view name) {
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const Value& v) { return names_equal(v.name, name); });
    return it == values.end() ? nullptr : &*it;
}

} // namespace

Key::Key(Token /*token*/, std::shared_ptr<std::mutex> lock, std::string name, bool is_volatile,
         std::string class_name)
    : lock_(std::move(lock)), name_(std::move(name)), volatile_(is_volatile),
      class_name_(std::move(class_name)) {}

std::string Key::path() const {
    const Guard guard(*lock_);
    return Tree::path_of(*this);
}

bool Key::deleted() const {
    const Guard guard(*lock_);
    return deleted_;
}

Status Key::query_info(KeyInfo& out) const {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    out = KeyInfo{};
    out.class_name = class_name_;
    out.subkeys = subkeys_.size();
    out.values = values_.size();
    for (const auto& [child_name, child] : subkeys_) {
        out.max_subkey_name_length = std::max(out.max_subkey_name_length, child_name.size());
    }
    for (const Value& v : values_) {
        out.max_value_name_length = std::max(out.max_value_name_length, v.name.size());
        out.max_value_data_size = std::max(out.max_value_data_size, v.data.size());
    }
    return Status::ok;
}

Status Key::enum_subkey(std::size_t index, std::string& name) const {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    if (index >= subkeys_.size()) {
        return Status::no_more_items;
    }
    name = std::next(subkeys_.begin(), static_cast<std::ptrdiff_t>(index))->first;
    return Status::ok;
}

std::vector<std::string> Key::subkey_names() const {
    const Guard guard(*lock_);
    std::vector<std::string> names;
    names.reserve(subkeys_.size());
    for (const auto& [child_name, child] : subkeys_) {
        names.push_back(child_name);
    }
    return names;
}

Status Key::set_value(std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) {
    const Guard guard(*lock_);
    return Tree::set_value(*this, name, type, data);
}

Status Key::query_value(std::string_view name, Value& out) const {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    const Value* value = find_value(values_, name);
    if (value == nullptr) {
        return Status::not_found;
    }
    out = *value;
    return Status::ok;
}

Status Key::delete_value(std::string_view name) {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    const auto it = std::find_if(values_.begin(), values_.end(),
                                 [&](const Value& v) { return names_equal(v.name, name); });
    if (it == values_.end()) {
        return Status::not_found;
    }
    values_.erase(it);
    return Status::ok;
}

Status Key::enum_value(std::size_t index, Value& out) const {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    if (index >= values_.size()) {
        return Status::no_more_items;
    }
    out = values_[index];
    return Status::ok;
}

std::vector<Value> Key::values() const {
    const Guard guard(*lock_);
    return values_;
}

Status Key::set_string(std::string_view name, std::string_view text, std::uint32_t type) {
    if (type != value_type::sz && type != value_type::expand_sz) {
        return Status::invalid_parameter;
    }
    return set_value(name, type, encode_string(text));
}

Status Key::get_string(std::string_view name, std::string& out) const {
    Value value;
    const Status status = query_value(name, value);
    if (status != Status::ok) {
        return status;
    }
    if (value.type != value_type::sz && value.type != value_type::expand_sz) {
        return Status::wrong_type;
    }
    out = decode_string(value.data);
    return Status::ok;
}

Status Key::set_dword(std::string_view name, std::uint32_t value) {
    return set_value(name, value_type::dword, encode_dword(value));
}

Status Key::get_dword(std::string_view name, std::uint32_t& out) const {
    Value value;
    const Status status = query_value(name, value);
    if (status != Status::ok) {
        return status;
    }
    const auto number = decode_dword(value.data);
    if (value.type != value_type::dword || !number) {
        return Status::wrong_type;
    }
    out = *number;
    return Status::ok;
}

Status Key::set_multi_string(std::string_view name, const std::vector<std::string>& strings) {
    const auto data = encode_multi_string(strings);
    if (!data) {
        return Status::invalid_parameter;
    }
    return set_value(name, value_type::multi_sz, *data);
}

Status Key::get_multi_string(std::string_view name, std::vector<std::string>& out) const {
    Value value;
    const Status status = query_value(name, value);
    if (status != Status::ok) {
        return status;
    }
    if (value.type != value_type::multi_sz) {
        return Status::wrong_type;
    }
    out = decode_multi_string(value.data);
    return Status::ok;
}

Status Key::get_security(std::vector<std::uint8_t>& out) const {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    out = encode_security_descriptor(dacl_);
    return Status::ok;
}

Status Key::set_security(std::span<const std::uint8_t> blob) {
    const auto dacl = decode_security_descriptor(blob);
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    if (!dacl) {
        return Status::invalid_parameter;
    }
    dacl_ = *dacl;
    return Status::ok;
}

Status Key::set_open_to_all() {
    const Guard guard(*lock_);
    if (deleted_) {
        return Status::key_deleted;
    }
    dacl_ = Dacl::none;
    return Status::ok;
}

bool Key::open_to_all() const {
    const Guard guard(*lock_);
    return dacl_ == Dacl::none;
}

} // namespace winsim::reg
