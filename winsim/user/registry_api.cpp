// advapi32's registry calls, 8-bit forms, over the machine registry.
#include "registry/registry.h"
#include "user/ansi_data.h"
#include "user/api.h"
#include "user/registry_keys.h"

#include <cstring>
#include <string>

namespace winsim::user {
namespace {

std::string_view name_or_empty(LPCSTR name) {
    return name == nullptr ? std::string_view() : name;
}

LONG to_error(reg::Status status) {
    return static_cast<LONG>(reg::to_win32_error(status));
}

// Copies data out as the registry calls do: the size is always reported; a buffer that is too
// small gives ERROR_MORE_DATA and is left as it was.
LONG copy_data(const reg::Bytes& data, LPBYTE buffer, LPDWORD size) {
    if (size == nullptr) {
        return buffer == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    const DWORD needed = static_cast<DWORD>(data.size());
    if (buffer == nullptr) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    const DWORD room = *size;
    *size = needed;
    if (room < needed) {
        return ERROR_MORE_DATA;
    }
    if (needed != 0) {
        std::memcpy(buffer, data.data(), needed);
    }
    return ERROR_SUCCESS;
}

LONG open_key(HKEY parent, LPCSTR sub_key, REGSAM desired, PHKEY result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    ResolvedKey base;
    if (LONG error = resolve_key(parent, base); error != ERROR_SUCCESS) {
        return error;
    }
    std::shared_ptr<reg::Key> key;
    if (reg::Status status = sys().registry().open_key(base.key, name_or_empty(sub_key), key);
        status != reg::Status::ok) {
        return to_error(status);
    }
    *result = sys().state().keys.add(std::move(key), map_key_access(desired));
    return ERROR_SUCCESS;
}

} // namespace
} // namespace winsim::user

using namespace winsim::user;
namespace reg = winsim::reg;

extern "C" {

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (auto error = injected("RegOpenKeyA")) {
        return static_cast<LONG>(*error);
    }
    return open_key(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    if (auto error = injected("RegOpenKeyExA")) {
        return static_cast<LONG>(*error);
    }
    return open_key(hKey, lpSubKey, samDesired, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    if (auto error = injected("RegCreateKeyExA")) {
        return static_cast<LONG>(*error);
    }
    if (phkResult == nullptr || lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    ResolvedKey base;
    if (LONG error = resolve_key(hKey, base); error != ERROR_SUCCESS) {
        return error;
    }
    reg::CreateOptions options;
    options.is_volatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    if (lpClass != nullptr) {
        options.class_name = lpClass;
    }
    // Opening an existing key needs no right on the parent; making one needs the right to
    // create subkeys.
    std::shared_ptr<reg::Key> existing;
    if (sys().registry().open_key(base.key, lpSubKey, existing) != reg::Status::ok) {
        if (LONG error = check_access(base, KEY_CREATE_SUB_KEY); error != ERROR_SUCCESS) {
            return error;
        }
    }
    reg::CreateResult created = sys().registry().create_key(base.key, lpSubKey, options);
    if (created.status != reg::Status::ok) {
        return to_error(created.status);
    }
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = created.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *phkResult = sys().state().keys.add(std::move(created.key), map_key_access(samDesired));
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (auto error = injected("RegCreateKeyA")) {
        return static_cast<LONG>(*error);
    }
    if (lpSubKey == nullptr || *lpSubKey == '\0') {
        return open_key(hKey, "", MAXIMUM_ALLOWED, phkResult);
    }
    return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED,
                           nullptr, phkResult, nullptr);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (auto error = injected("RegCloseKey")) {
        return static_cast<LONG>(*error);
    }
    if (is_predefined_key(hKey)) {
        return ERROR_SUCCESS;
    }
    return sys().state().keys.close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    if (auto error = injected("RegQueryValueExA")) {
        return static_cast<LONG>(*error);
    }
    if (lpData != nullptr && lpcbData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, KEY_QUERY_VALUE, key); error != ERROR_SUCCESS) {
        return error;
    }
    reg::Value value;
    if (reg::Status status = key.key->query_value(name_or_empty(lpValueName), value);
        status != reg::Status::ok) {
        return to_error(status);
    }
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    return copy_data(to_ansi_data(value.type, value.data), lpData, lpcbData);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
    if (auto error = injected("RegSetValueExA")) {
        return static_cast<LONG>(*error);
    }
    if (lpData == nullptr && cbData != 0) {
        return ERROR_NOACCESS;
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, KEY_SET_VALUE, key); error != ERROR_SUCCESS) {
        return error;
    }
    const std::span<const std::uint8_t> given(lpData, lpData == nullptr ? 0 : cbData);
    const reg::Bytes stored = from_ansi_data(dwType, given);
    return to_error(key.key->set_value(name_or_empty(lpValueName), dwType, stored));
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (auto error = injected("RegDeleteValueA")) {
        return static_cast<LONG>(*error);
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, KEY_SET_VALUE, key); error != ERROR_SUCCESS) {
        return error;
    }
    return to_error(key.key->delete_value(name_or_empty(lpValueName)));
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
    if (auto error = injected("RegEnumKeyExA")) {
        return static_cast<LONG>(*error);
    }
    if (lpName == nullptr || lpcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, KEY_ENUMERATE_SUB_KEYS, key);
        error != ERROR_SUCCESS) {
        return error;
    }
    std::string name;
    if (reg::Status status = key.key->enum_subkey(dwIndex, name); status != reg::Status::ok) {
        return to_error(status);
    }
    if (*lpcchName <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass != nullptr && lpcchClass != nullptr) {
        std::shared_ptr<reg::Key> sub;
        std::string class_name;
        if (sys().registry().open_key(key.key, name, sub) == reg::Status::ok) {
            class_name = sub->class_name();
        }
        if (*lpcchClass <= class_name.size()) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpClass, class_name.c_str(), class_name.size() + 1);
        *lpcchClass = static_cast<DWORD>(class_name.size());
    }
    if (lpftLastWriteTime != nullptr) {
        *lpftLastWriteTime = FILETIME{};
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    if (auto error = injected("RegEnumKeyA")) {
        return static_cast<LONG>(*error);
    }
    DWORD length = cchName;
    return RegEnumKeyExA(hKey, dwIndex, lpName, &length, nullptr, nullptr, nullptr, nullptr);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (auto error = injected("RegEnumValueA")) {
        return static_cast<LONG>(*error);
    }
    if (lpValueName == nullptr || lpcchValueName == nullptr ||
        (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, KEY_QUERY_VALUE, key); error != ERROR_SUCCESS) {
        return error;
    }
    reg::Value value;
    if (reg::Status status = key.key->enum_value(dwIndex, value); status != reg::Status::ok) {
        return to_error(status);
    }
    if (*lpcchValueName <= value.name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, value.name.c_str(), value.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(value.name.size());
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    return copy_data(to_ansi_data(value.type, value.data), lpData, lpcbData);
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (auto error = injected("RegDeleteKeyA")) {
        return static_cast<LONG>(*error);
    }
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ResolvedKey base;
    if (LONG error = resolve_key(hKey, base); error != ERROR_SUCCESS) {
        return error;
    }
    const reg::DeleteMode mode = sys().version() == WindowsVersion::win9x
                                     ? reg::DeleteMode::subtree
                                     : reg::DeleteMode::leaf_only;
    return to_error(sys().registry().delete_key(base.key, lpSubKey, mode));
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
    if (auto error = injected("RegQueryInfoKeyA")) {
        return static_cast<LONG>(*error);
    }
    ResolvedKey key;
    if (LONG error = resolve_key_with_access(hKey, KEY_QUERY_VALUE, key); error != ERROR_SUCCESS) {
        return error;
    }
    reg::KeyInfo info;
    if (reg::Status status = key.key->query_info(info); status != reg::Status::ok) {
        return to_error(status);
    }
    if (lpClass != nullptr && lpcchClass != nullptr) {
        if (*lpcchClass <= info.class_name.size()) {
            *lpcchClass = static_cast<DWORD>(info.class_name.size());
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpClass, info.class_name.c_str(), info.class_name.size() + 1);
    }
    if (lpcchClass != nullptr) {
        *lpcchClass = static_cast<DWORD>(info.class_name.size());
    }
    if (lpcSubKeys != nullptr) {
        *lpcSubKeys = static_cast<DWORD>(info.subkeys);
    }
    if (lpcbMaxSubKeyLen != nullptr) {
        *lpcbMaxSubKeyLen = static_cast<DWORD>(info.max_subkey_name_length);
    }
    if (lpcbMaxClassLen != nullptr) {
        *lpcbMaxClassLen = 0;
    }
    if (lpcValues != nullptr) {
        *lpcValues = static_cast<DWORD>(info.values);
    }
    if (lpcbMaxValueNameLen != nullptr) {
        *lpcbMaxValueNameLen = static_cast<DWORD>(info.max_value_name_length);
    }
    if (lpcbMaxValueLen != nullptr) {
        // Strings shrink to half their stored size when read through the A calls; the stored
        // size is a safe upper bound, as on Windows.
        *lpcbMaxValueLen = static_cast<DWORD>(info.max_value_data_size);
    }
    if (lpcbSecurityDescriptor != nullptr) {
        *lpcbSecurityDescriptor = static_cast<DWORD>(reg::security_descriptor_size);
    }
    if (lpftLastWriteTime != nullptr) {
        *lpftLastWriteTime = FILETIME{};
    }
    return ERROR_SUCCESS;
}

} // extern "C"
