#include "kernel/interfaces.h"

#include "kernel/wide.h"
#include "registry/registry.h"

#include <cstdio>

namespace winsim::kernel {

namespace {

const std::string deviceClasses = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";

std::string hashed(std::string text) {
    for (auto& c : text) {
        if (c == '\\') {
            c = '#';
        }
    }
    return text;
}

// The interface's key and its reference-string subkey.
std::string interfaceKey(const InterfaceInfo& info) {
    const std::string guid = guidText(info.classGuid);
    return deviceClasses + guid + "\\##?#" + hashed(info.instancePath) + "#" + guid;
}

std::string referenceKey(const InterfaceInfo& info) {
    return interfaceKey(info) + "\\#" + info.reference;
}

} // namespace

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

DeviceInterfaces::DeviceInterfaces(reg::Registry& registry) : registry_(registry) {}

NTSTATUS DeviceInterfaces::registerInterface(PDEVICE_OBJECT pdo, const std::string& instancePath,
                                             const GUID& guid, const std::string& reference,
                                             std::string& link) {
    InterfaceInfo info;
    info.classGuid = guid;
    info.reference = reference;
    info.instancePath = instancePath;
    info.pdo = pdo;
    info.symbolicLink = "\\??\\" + hashed(instancePath) + "#" + guidText(guid);
    if (!reference.empty()) {
        info.symbolicLink += "\\" + reference;
    }

    const std::lock_guard guard(lock_);
    const auto created = registry_.create_key(interfaceKey(info));
    if (created.status != reg::Status::ok) {
        return static_cast<NTSTATUS>(reg::to_ntstatus(created.status));
    }
    created.key->set_string("DeviceInstance", instancePath);
    const auto refKey = registry_.create_key(referenceKey(info));
    if (refKey.status != reg::Status::ok) {
        return static_cast<NTSTATUS>(reg::to_ntstatus(refKey.status));
    }
    // The user-mode form of the link: "\\?\" instead of "\??\".
    refKey.key->set_string("SymbolicLink", "\\\\?\\" + info.symbolicLink.substr(4));

    const std::string key = upcase(info.symbolicLink);
    const auto it = byLink_.find(key);
    if (it != byLink_.end()) {
        it->second.pdo = pdo; // registered again: same link, state kept
        link = it->second.symbolicLink;
    } else {
        link = info.symbolicLink;
        byLink_.emplace(key, std::move(info));
    }
    return STATUS_SUCCESS;
}

NTSTATUS DeviceInterfaces::writeLinked(const InterfaceInfo& info) {
    reg::CreateOptions options;
    options.is_volatile = true;
    const auto control = registry_.create_key(referenceKey(info) + "\\Control", options);
    if (control.status != reg::Status::ok) {
        return static_cast<NTSTATUS>(reg::to_ntstatus(control.status));
    }
    return static_cast<NTSTATUS>(
        reg::to_ntstatus(control.key->set_dword("Linked", info.enabled ? 1 : 0)));
}

NTSTATUS DeviceInterfaces::setState(std::string_view link, bool enable, InterfaceInfo& changed) {
    const std::lock_guard guard(lock_);
    const auto it = byLink_.find(upcase(link));
    if (it == byLink_.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    InterfaceInfo& info = it->second;
    if (info.enabled == enable) {
        return enable ? STATUS_OBJECT_NAME_EXISTS : STATUS_OBJECT_NAME_NOT_FOUND;
    }
    info.enabled = enable;
    const NTSTATUS status = writeLinked(info);
    if (!NT_SUCCESS(status)) {
        info.enabled = !enable;
        return status;
    }
    changed = info;
    return STATUS_SUCCESS;
}

std::vector<InterfaceInfo> DeviceInterfaces::disableAllOf(PDEVICE_OBJECT pdo) {
    const std::lock_guard guard(lock_);
    std::vector<InterfaceInfo> out;
    for (auto& [key, info] : byLink_) {
        if (info.pdo == pdo && info.enabled) {
            info.enabled = false;
            writeLinked(info);
            out.push_back(info);
        }
    }
    return out;
}

std::optional<InterfaceInfo> DeviceInterfaces::find(std::string_view link) const {
    const std::lock_guard guard(lock_);
    const auto it = byLink_.find(upcase(link));
    if (it == byLink_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool DeviceInterfaces::isEnabled(std::string_view link) const {
    const auto info = find(link);
    return info && info->enabled;
}

std::vector<InterfaceInfo> DeviceInterfaces::of(PDEVICE_OBJECT pdo) const {
    const std::lock_guard guard(lock_);
    std::vector<InterfaceInfo> out;
    for (const auto& [key, info] : byLink_) {
        if (info.pdo == pdo) {
            out.push_back(info);
        }
    }
    return out;
}

std::vector<InterfaceInfo> DeviceInterfaces::ofClass(const GUID& guid) const {
    const std::lock_guard guard(lock_);
    std::vector<InterfaceInfo> out;
    for (const auto& [key, info] : byLink_) {
        if (IsEqualGUID(info.classGuid, guid)) {
            out.push_back(info);
        }
    }
    return out;
}

std::vector<InterfaceInfo> DeviceInterfaces::all() const {
    const std::lock_guard guard(lock_);
    std::vector<InterfaceInfo> out;
    for (const auto& [key, info] : byLink_) {
        out.push_back(info);
    }
    return out;
}

} // namespace winsim::kernel
