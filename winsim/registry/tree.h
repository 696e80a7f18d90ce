// Internal to the registry library: operations on the key tree. Every function expects the
// registry-wide lock to be held by the caller.
#pragma once

#include "registry/key.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace winsim::reg {

struct Tree {
    static std::shared_ptr<Key> make_key(const std::shared_ptr<std::mutex>& lock, std::string name,
                                         bool is_volatile, std::string class_name);

    static const std::shared_ptr<std::mutex>& lock_of(const Key& key) { return key.lock_; }
    static bool is_deleted(const Key& key) { return key.deleted_; }
    static std::string path_of(const Key& key);

    static std::shared_ptr<Key> find_child(const Key& parent, std::string_view name);
    // Adds a child; the caller makes sure no child of that name exists.
    static void add_child(Key& parent, std::shared_ptr<Key> child);
    static const std::map<std::string, std::shared_ptr<Key>, NameLess>& subkeys_of(const Key& key) {
        return key.subkeys_;
    }

    // Removes the key from its parent and marks it and everything below it deleted.
    static void remove(Key& key);
    // Marks every subkey of the key deleted and drops them; the key's own values are cleared.
    static void clear(Key& key);
    // Moves the values, security and subkeys of a detached key into another one.
    static void take_contents(Key& into, Key& from);

    static Dacl dacl_of(const Key& key) { return key.dacl_; }
    static void set_dacl(Key& key, Dacl dacl) { key.dacl_ = dacl; }
    static const std::vector<Value>& values_of(const Key& key) { return key.values_; }
    static Status set_value(Key& key, std::string_view name, std::uint32_t type,
                            std::span<const std::uint8_t> data);

    // Visits the key and then its subkeys in enumeration order (pre-order).
    static void walk(const Key& key, const std::function<void(const Key&)>& visit);
};

} // namespace winsim::reg
