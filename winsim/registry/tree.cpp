#include "registry/tree.h"

#include <algorithm>
#include <utility>

namespace winsim::reg {

std::shared_ptr<Key> Tree::make_key(const std::shared_ptr<std::mutex>& lock, std::string name,
                                    bool is_volatile, std::string class_name) {
    return std::make_shared<Key>(Key::Token{}, lock, std::move(name), is_volatile,
                                 std::move(class_name));
}

std::string Tree::path_of(const Key& key) {
    if (key.deleted_) {
        return key.deleted_path_;
    }
    std::vector<const Key*> chain;
    for (const Key* k = &key; k->parent_ != nullptr; k = k->parent_) {
        chain.push_back(k);
    }
    std::string path;
    std::reverse(chain.begin(), chain.end());
    for (const Key* k : chain) {
        path = join_key_path(path, k->name_);
    }
    return path;
}

std::shared_ptr<Key> Tree::find_child(const Key& parent, std::string_view name) {
    const auto it = parent.subkeys_.find(name);
    return it == parent.subkeys_.end() ? nullptr : it->second;
}

void Tree::add_child(Key& parent, std::shared_ptr<Key> child) {
    child->parent_ = &parent;
    std::string name = child->name_;
    parent.subkeys_.emplace(std::move(name), std::move(child));
}

void Tree::remove(Key& key) {
    key.deleted_path_ = path_of(key);
    clear(key);
    key.deleted_ = true;
    Key* parent = key.parent_;
    key.parent_ = nullptr;
    if (parent != nullptr) {
        // Last: the parent's map may hold the only reference to the key.
        const auto it = parent->subkeys_.find(key.name_);
        if (it != parent->subkeys_.end()) {
            parent->subkeys_.erase(it);
        }
    }
}

void Tree::clear(Key& key) {
    auto subkeys = std::move(key.subkeys_);
    key.subkeys_.clear();
    for (auto& [name, child] : subkeys) {
        remove(*child); // its parent pointer still gives its path
    }
    key.values_.clear();
}

void Tree::take_contents(Key& into, Key& from) {
    into.values_ = std::move(from.values_);
    into.dacl_ = from.dacl_;
    into.subkeys_ = std::move(from.subkeys_);
    for (auto& [name, child] : into.subkeys_) {
        child->parent_ = &into;
    }
    from.values_.clear();
    from.subkeys_.clear();
}

Status Tree::set_value(Key& key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data) {
    if (key.deleted_) {
        return Status::key_deleted;
    }
    const auto it = std::find_if(key.values_.begin(), key.values_.end(),
                                 [&](const Value& v) { return names_equal(v.name, name); });
    if (it != key.values_.end()) {
        it->type = type;
        it->data.assign(data.begin(), data.end());
    } else {
        key.values_.push_back(Value{std::string(name), type, Bytes(data.begin(), data.end())});
    }
    return Status::ok;
}

void Tree::walk(const Key& key, const std::function<void(const Key&)>& visit) {
    visit(key);
    for (const auto& [name, child] : key.subkeys_) {
        walk(*child, visit);
    }
}

} // namespace winsim::reg
