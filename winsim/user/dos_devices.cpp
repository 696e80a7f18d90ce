#include "user/dos_devices.h"

#include "user/api.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace winsim::user {
namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

void DosDevices::define(std::string_view name, std::string target) {
    links_[upper(name)].push_back(std::move(target));
}

bool DosDevices::remove(std::string_view name, const std::string* target) {
    auto it = links_.find(upper(name));
    if (it == links_.end() || it->second.empty()) {
        return false;
    }
    auto& list = it->second;
    if (target == nullptr) {
        list.pop_back();
    } else {
        auto match = std::find(list.rbegin(), list.rend(), *target);
        if (match == list.rend()) {
            return false;
        }
        list.erase(std::next(match).base());
    }
    if (list.empty()) {
        links_.erase(it);
    }
    return true;
}

std::vector<std::string> DosDevices::targets(std::string_view name) const {
    auto it = links_.find(upper(name));
    if (it == links_.end()) {
        return {};
    }
    return std::vector<std::string>(it->second.rbegin(), it->second.rend());
}

std::vector<std::string> DosDevices::names() const {
    std::vector<std::string> out;
    for (const auto& [name, list] : links_) {
        out.push_back(name);
    }
    return out;
}

std::optional<std::string> DosDevices::current(std::string_view name) const {
    const std::vector<std::string> list = targets(name);
    if (list.empty()) {
        return std::nullopt;
    }
    return list.front();
}

} // namespace winsim::user

using namespace winsim::user;

extern "C" {

BOOL WINAPI DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath) {
    if (auto error = injected("DefineDosDeviceA")) {
        return fail(*error);
    }
    if (lpDeviceName == nullptr || *lpDeviceName == '\0') {
        return fail(ERROR_INVALID_PARAMETER);
    }
    DosDevices& devices = sys().dos_devices();
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
    const DosDevices& devices = sys().dos_devices();
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
