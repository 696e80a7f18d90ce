// A registry key. Keys are handed out as std::shared_ptr<Key>: the memory stays valid while it is
// held, even after the key is deleted from the tree. Every operation on a deleted key then fails
// with Status::key_deleted, as an open handle to a deleted key does on Windows.
//
// All members are safe to call from several threads: they take the registry-wide lock.
#pragma once

#include "registry/names.h"
#include "registry/security.h"
#include "registry/status.h"
#include "registry/value_codec.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {

struct Value {
    std::string name; // "" is the key's default value
    std::uint32_t type = value_type::none;
    Bytes data;
};

// What ZwQueryKey / RegQueryInfoKey report about a key. Lengths are in characters, sizes in bytes.
struct KeyInfo {
    std::string class_name;
    std::size_t subkeys = 0;
    std::size_t values = 0;
    std::size_t max_subkey_name_length = 0;
    std::size_t max_value_name_length = 0;
    std::size_t max_value_data_size = 0;
};

struct Tree;

class Key {
    struct Token {
        explicit Token() = default;
    };

  public:
    // Keys are made by the registry only (the token is private to it).
    Key(Token token, std::shared_ptr<std::mutex> lock, std::string name, bool is_volatile,
        std::string class_name);
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // The name as created ("HKEY_LOCAL_MACHINE" for the root).
    const std::string& name() const { return name_; }
    // The path below HKEY_LOCAL_MACHINE ("" for the root); for a deleted key, the path it had.
    std::string path() const;
    bool deleted() const;
    bool is_volatile() const { return volatile_; }
    const std::string& class_name() const { return class_name_; }

    Status query_info(KeyInfo& out) const;

    // Subkeys in the order regedit lists them: sorted by name without regard to case.
    // Past the last one: Status::no_more_items.
    Status enum_subkey(std::size_t index, std::string& name) const;
    std::vector<std::string> subkey_names() const; // empty for a deleted key

    // Values in the order they were first set. Setting an existing value (name matched without
    // regard to case) keeps its place and the case of its name.
    Status set_value(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data);
    Status query_value(std::string_view name, Value& out) const;
    Status delete_value(std::string_view name);
    Status enum_value(std::size_t index, Value& out) const;
    std::vector<Value> values() const; // empty for a deleted key

    // Typed helpers over set_value / query_value. Text is Latin-1 (ASCII included). A read of a
    // value stored with another type (or a REG_DWORD not 4 bytes long) gives Status::wrong_type.
    // set_string takes value_type::sz or value_type::expand_sz; get_string reads either.
    Status set_string(std::string_view name, std::string_view text,
                      std::uint32_t type = value_type::sz);
    Status get_string(std::string_view name, std::string& out) const;
    Status set_dword(std::string_view name, std::uint32_t value);
    Status get_dword(std::string_view name, std::uint32_t& out) const;
    // An empty string inside the list gives Status::invalid_parameter (it cannot be stored).
    Status set_multi_string(std::string_view name, const std::vector<std::string>& strings);
    Status get_multi_string(std::string_view name, std::vector<std::string>& out) const;

    // Security: the descriptor as an opaque blob (see security.h), set back from such a blob, or
    // replaced by no DACL (open to all).
    Status get_security(std::vector<std::uint8_t>& out) const;
    Status set_security(std::span<const std::uint8_t> blob);
    Status set_open_to_all();
    bool open_to_all() const;

  private:
    friend struct Tree;

    const std::shared_ptr<std::mutex> lock_; // the registry-wide lock
    const std::string name_;
    const bool volatile_;
    const std::string class_name_;

    // Guarded by *lock_.
    Key* parent_ = nullptr; // set while the key is in the tree
    bool deleted_ = false;
    std::string deleted_path_;
    Dacl dacl_ = Dacl::normal;
    std::vector<Value> values_;
    std::map<std::string, std::shared_ptr<Key>, NameLess> subkeys_;
};

} // namespace winsim::reg
