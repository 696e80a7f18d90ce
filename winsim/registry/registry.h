// The machine registry: one tree of keys under HKEY_LOCAL_MACHINE, shared by the simulated
// kernel, the Plug and Play manager and the user-mode registry calls.
//
// Paths are backslash-separated and relative to HKEY_LOCAL_MACHINE, e.g.
// "SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020D0003\\Device Parameters". The empty
// path names HKEY_LOCAL_MACHINE itself; an empty component ("A\\\\B", "\\A", "A\\") or a name
// longer than 255 characters is invalid. Names match without regard to case.
//
// Thread safety: one registry-wide lock guards the tree and every key in it; all members of
// Registry and Key may be called from several threads.
#pragma once

#include "registry/key.h"
#include "registry/status.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {

// The name of the registry file in a machine folder.
inline constexpr std::string_view registry_file_name = "registry.json";

// The deepest key the registry holds, counted in keys below HKEY_LOCAL_MACHINE.
inline constexpr std::size_t max_key_depth = 512;

struct CreateOptions {
    // A volatile key and everything below it is never saved. Keys that the create makes on the
    // way (missing intermediate keys) get the same flag.
    bool is_volatile = false;
    // The class of the last key of the path, if the create makes it.
    std::string class_name;
};

struct CreateResult {
    Status status = Status::ok;
    std::shared_ptr<Key> key; // set when status is ok
    bool created = false;     // false: an existing key was opened (its flags and class kept)
};

enum class DeleteMode {
    leaf_only, // as Windows NT: a key that has subkeys is not deleted (Status::has_subkeys)
    subtree,   // as Windows 9x: the key and everything below it
};

struct FileResult {
    Status status = Status::ok;
    std::string message; // what went wrong, for a person; empty on success
    bool ok() const { return status == Status::ok; }
};

class Registry {
  public:
    Registry();
    // Keys still held elsewhere become deleted keys.
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // HKEY_LOCAL_MACHINE.
    std::shared_ptr<Key> root() const;

    // The key at the path, or nullptr if it is missing or the path is invalid.
    std::shared_ptr<Key> open_key(std::string_view path) const;
    // The key at the path below base (nullptr base: HKEY_LOCAL_MACHINE; empty path: base itself).
    // not_found, invalid_parameter, or key_deleted when base has been deleted.
    Status open_key(const std::shared_ptr<Key>& base, std::string_view path,
                    std::shared_ptr<Key>& out) const;

    // Opens the key, creating it and any missing keys on the way.
    CreateResult create_key(std::string_view path, const CreateOptions& options = {});
    CreateResult create_key(const std::shared_ptr<Key>& base, std::string_view path,
                            const CreateOptions& options = {});

    // Deletes the key at the path (below base, if given; an empty path deletes base itself).
    // HKEY_LOCAL_MACHINE cannot be deleted (access_denied). Held pointers to the deleted keys
    // see deleted() and fail with key_deleted.
    Status delete_key(std::string_view path, DeleteMode mode);
    Status delete_key(const std::shared_ptr<Key>& base, std::string_view path, DeleteMode mode);

    // Paths of the keys whose DACL is "none" (open to all), in regedit order.
    std::vector<std::string> keys_open_to_all() const;

    // Writes the non-volatile tree (values, classes, security) to a JSON file, atomically
    // (a temporary file renamed over the old one).
    FileResult save(const std::filesystem::path& file) const;
    // Replaces the whole tree by the one in the file. On any failure the registry is left as it
    // was: not_found for a missing file, io_error for an unreadable one, corrupt otherwise.
    // Keys held from before a successful load become deleted keys.
    FileResult load(const std::filesystem::path& file);

    // regedit's REGEDIT4 text of the key at the path and everything below it (the empty path:
    // the whole registry). not_found for an unknown path, invalid_parameter for a bad one.
    // Lines end with "\n".
    Status export_regedit4(std::string_view path, std::string& out) const;

  private:
    Status resolve(const std::shared_ptr<Key>& base, std::string_view path,
                   std::shared_ptr<Key>& out) const;

    std::shared_ptr<std::mutex> lock_;
    std::shared_ptr<Key> root_;
};

} // namespace winsim::reg
