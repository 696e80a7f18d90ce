// Resolving HKEY values (predefined keys and open handles) to registry keys.
#pragma once

#include <windows.h>

#include "registry/key.h"

#include <memory>

namespace winsim::user {

struct ResolvedKey {
    std::shared_ptr<reg::Key> key;
    REGSAM access = 0;
};

// ERROR_SUCCESS, ERROR_INVALID_HANDLE for an unknown handle, ERROR_FILE_NOT_FOUND for a
// predefined key the simulated machine does not have.
LONG resolve_key(HKEY handle, ResolvedKey& out);

bool is_predefined_key(HKEY handle);

// ERROR_ACCESS_DENIED unless the handle was opened with every right in needed.
inline LONG check_access(const ResolvedKey& key, REGSAM needed) {
    return (key.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// resolve_key, then check_access: the key of a handle opened with every right in needed, or the
// first error of the two.
LONG resolve_key_with_access(HKEY handle, REGSAM needed, ResolvedKey& out);

} // namespace winsim::user
