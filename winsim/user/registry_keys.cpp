#include "user/registry_keys.h"

#include "registry/registry.h"
#include "user/api.h"

namespace winsim::user {

bool is_predefined_key(HKEY handle) {
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
    return (reinterpret_cast<std::uintptr_t>(handle) >> 32) == 0xFFFFFFFFu &&
           value >= 0x80000000u && value <= 0x80000006u;
}

LONG resolve_key(HKEY handle, ResolvedKey& out) {
    Session& session = sys();
    if (handle == HKEY_LOCAL_MACHINE) {
        out = ResolvedKey{session.registry().root(), KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    if (handle == HKEY_CLASSES_ROOT) {
        auto key = session.registry().open_key("SOFTWARE\\Classes");
        if (!key) {
            return ERROR_FILE_NOT_FOUND;
        }
        out = ResolvedKey{std::move(key), KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    if (is_predefined_key(handle)) {
        return ERROR_FILE_NOT_FOUND;
    }
    KeyHandle* open = session.state().keys.find(handle);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    out = ResolvedKey{open->key, open->access};
    return ERROR_SUCCESS;
}

LONG resolve_key_with_access(HKEY handle, REGSAM needed, ResolvedKey& out) {
    if (LONG error = resolve_key(handle, out); error != ERROR_SUCCESS) {
        return error;
    }
    return check_access(out, needed);
}

} // namespace winsim::user
