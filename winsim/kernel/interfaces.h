// Device interfaces: IoRegisterDeviceInterface and IoSetDeviceInterfaceState.
//
// A registration gives the symbolic link "\??\" + instance path with '\' replaced by '#' + "#" +
// the class GUID in upper case (+ "\" + reference string, if any), and records it in the registry
// under SYSTEM\CurrentControlSet\Control\DeviceClasses\{GUID}\##?#<instance path with #>#{GUID}
// (value DeviceInstance), with a subkey "#" + reference string (value SymbolicLink, and a
// volatile Control subkey whose Linked value says whether the interface is enabled).
#pragma once

#include "wdm.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {
class Registry;
}

namespace winsim::kernel {

// "{1B829016-693A-4069-9813-65EEB255C8B8}"
std::string guidText(const GUID& guid);

struct InterfaceInfo {
    std::string symbolicLink; // "\??\..." as IoRegisterDeviceInterface returns it
    GUID classGuid{};
    std::string reference; // "" when none
    std::string instancePath;
    PDEVICE_OBJECT pdo = nullptr;
    bool enabled = false;
};

class DeviceInterfaces {
  public:
    explicit DeviceInterfaces(reg::Registry& registry);

    NTSTATUS registerInterface(PDEVICE_OBJECT pdo, const std::string& instancePath,
                               const GUID& guid, const std::string& reference, std::string& link);
    // STATUS_OBJECT_NAME_EXISTS when enabling an enabled interface, STATUS_OBJECT_NAME_NOT_FOUND
    // when disabling a disabled one or for an unknown link. `changed` gets the new state.
    NTSTATUS setState(std::string_view link, bool enable, InterfaceInfo& changed);
    // Disables every enabled interface of the PDO (the PnP manager does this on removal).
    std::vector<InterfaceInfo> disableAllOf(PDEVICE_OBJECT pdo);

    std::optional<InterfaceInfo> find(std::string_view link) const; // case-insensitive
    bool isEnabled(std::string_view link) const;
    std::vector<InterfaceInfo> of(PDEVICE_OBJECT pdo) const;
    std::vector<InterfaceInfo> ofClass(const GUID& guid) const;
    std::vector<InterfaceInfo> all() const;

  private:
    NTSTATUS writeLinked(const InterfaceInfo& info); // lock held

    reg::Registry& registry_;
    mutable std::mutex lock_;
    std::map<std::string, InterfaceInfo> byLink_; // upper-cased link
};

} // namespace winsim::kernel
