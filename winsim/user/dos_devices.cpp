// kernel32's DOS device names, which live in the object manager's symbolic links (the session's
// table, Session::dos_devices), and its debug output.
#include "kernel/symbolic_links.h"
#include "user/api.h"

#include <cstring>

using namespace winsim::user;

extern "C" {

BOOL WINAPI DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath) {
    if (auto error = injected("DefineDosDeviceA")) {
        return fail(*error);
    }
    if (lpDeviceName == nullptr || *lpDeviceName == '\0') {
        return fail(ERROR_INVALID_PARAMETER);
    }
    winsim::kernel::SymbolicLinks& devices = sys().dos_devices();
    if ((dwFlags & DDD_REMOVE_DEFINITION) != 0) {
        std::string target;
        const bool exact = lpTargetPath != nullptr;
        if (exact) {
            target = lpTargetPath;
        }
        return devices.remove(lpDeviceName, exact ? &target : nullptr) ? TRUE
                                                                       : fail(ERROR_FILE_NOT_FOUND);
    }
    if (lpTargetPath == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // A target that is not raw is a DOS path, which the object manager sees under \??\.
    std::string target = lpTargetPath;
    if ((dwFlags & DDD_RAW_TARGET_PATH) == 0) {
        target = "\\??\\" + target;
    }
    devices.define(lpDeviceName, std::move(target));
    return TRUE;
}

DWORD WINAPI QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
    if (auto error = injected("QueryDosDeviceA")) {
        SetLastError(*error);
        return 0;
    }
    const winsim::kernel::SymbolicLinks& devices = sys().dos_devices();
    const std::vector<std::string> list =
        lpDeviceName == nullptr ? devices.names() : devices.targets(lpDeviceName);
    if (list.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::string multi;
    for (const auto& item : list) {
        multi += item;
        multi.push_back('\0');
    }
    multi.push_back('\0');
    if (lpTargetPath == nullptr || ucchMax < multi.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpTargetPath, multi.data(), multi.size());
    return static_cast<DWORD>(multi.size());
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (Session* session = current_session(); session != nullptr && lpOutputString != nullptr) {
        session->record_debug_output(lpOutputString);
    }
}

} // extern "C"
