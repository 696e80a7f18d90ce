// Results of registry operations and their NT and Win32 equivalents.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

namespace winsim::reg {

enum class Status {
    ok,
    not_found,         // key or value missing, or the file to load is missing
    invalid_parameter, // bad path, bad name, bad security descriptor, bad data
    key_deleted,       // the key was deleted from the tree while it was held
    has_subkeys,       // NT-style delete of a key that still has subkeys
    access_denied,     // the root key cannot be deleted
    no_more_items,     // enumeration index past the end
    wrong_type,        // a typed read of a value stored with another type
    corrupt,           // a saved registry file that cannot be read back
    io_error,          // the registry file could not be written or read
};

std::string_view to_string(Status status);
std::ostream& operator<<(std::ostream& out, Status status);

// The NTSTATUS a kernel routine returns for this result.
std::uint32_t to_ntstatus(Status status);

// The Win32 error code a user-mode registry call returns for this result.
std::uint32_t to_win32_error(Status status);

} // namespace winsim::reg
