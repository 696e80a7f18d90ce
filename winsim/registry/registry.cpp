#include "registry/registry.h"

#include "registry/tree.h"

#include <algorithm>

namespace winsim::reg {

namespace {

using Guard = std::lock_guard<std::mutex>;

std::size_t depth_of(const std::string& path) {
    if (path.empty()) {
        return 0;
    }
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
}

} // namespace

Registry::Registry()
    : lock_(std::make_shared<std::mutex>()),
      root_(Tree::make_key(lock_, "HKEY_LOCAL_MACHINE", false, "")) {}

Registry::~Registry() {
    const Guard guard(*lock_);
    Tree::remove(*root_);
}

std::shared_ptr<Key> Registry::root() const {
    return root_;
}

// Finds the key at the path below base (nullptr: the root). Called with the lock held.
Status Registry::resolve(const std::shared_ptr<Key>& base, std::string_view path,
                         std::shared_ptr<Key>& out) const {
    std::shared_ptr<Key> key = base ? base : root_;
    if (Tree::lock_of(*key) != lock_) {
        return Status::invalid_parameter; // a key of another registry
    }
    if (Tree::is_deleted(*key)) {
        return Status::key_deleted;
    }
    const auto parts = split_key_path(path);
    if (!parts) {
        return Status::invalid_parameter;
    }
    for (const std::string_view part : *parts) {
        key = Tree::find_child(*key, part);
        if (!key) {
            return Status::not_found;
        }
    }
    out = std::move(key);
    return Status::ok;
}

std::shared_ptr<Key> Registry::open_key(std::string_view path) const {
    std::shared_ptr<Key> key;
    return open_key(nullptr, path, key) == Status::ok ? key : nullptr;
}

Status Registry::open_key(const std::shared_ptr<Key>& base, std::string_view path,
                          std::shared_ptr<Key>& out) const {
    const Guard guard(*lock_);
    return resolve(base, path, out);
}

CreateResult Registry::create_key(std::string_view path, const CreateOptions& options) {
    return create_key(nullptr, path, options);
}

CreateResult Registry::create_key(const std::shared_ptr<Key>& base, std::string_view path,
                                  const CreateOptions& options) {
    const Guard guard(*lock_);
    CreateResult result;
    std::shared_ptr<Key> key;
    result.status = resolve(base, "", key);
    if (result.status != Status::ok) {
        return result;
    }
    const auto parts = split_key_path(path);
    if (!parts || depth_of(Tree::path_of(*key)) + parts->size() > max_key_depth) {
        result.status = Status::invalid_parameter;
        return result;
    }
    for (std::size_t i = 0; i < parts->size(); ++i) {
        const std::string_view part = (*parts)[i];
        std::shared_ptr<Key> child = Tree::find_child(*key, part);
        if (!child) {
            const bool last = i + 1 == parts->size();
            child = Tree::make_key(lock_, std::string(part), options.is_volatile,
                                   last ? options.class_name : std::string());
            Tree::add_child(*key, child);
            result.created = last;
        }
        key = std::move(child);
    }
    result.key = std::move(key);
    return result;
}

Status Registry::delete_key(std::string_view path, DeleteMode mode) {
    return delete_key(nullptr, path, mode);
}

Status Registry::delete_key(const std::shared_ptr<Key>& base, std::string_view path,
                            DeleteMode mode) {
    const Guard guard(*lock_);
    std::shared_ptr<Key> key;
    const Status status = resolve(base, path, key);
    if (status != Status::ok) {
        return status;
    }
    if (key == root_) {
        return Status::access_denied;
    }
    if (mode == DeleteMode::leaf_only && !Tree::subkeys_of(*key).empty()) {
        return Status::has_subkeys;
    }
    Tree::remove(*key);
    return Status::ok;
}

std::vector<std::string> Registry::keys_open_to_all() const {
    const Guard guard(*lock_);
    std::vector<std::string> paths;
    Tree::walk(*root_, [&](const Key& key) {
        if (Tree::dacl_of(key) == Dacl::none) {
            paths.push_back(Tree::path_of(key));
        }
    });
    return paths;
}

} // namespace winsim::reg
