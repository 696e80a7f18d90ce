// What the kernel asks of the Plug and Play manager. The PnP manager implements this and hands
// it to Kernel::setPnpBridge; without one, no device object counts as a PDO.
//
// Registry paths are relative to HKEY_LOCAL_MACHINE, as winsim::reg::Registry expects them.
// The kernel never calls the bridge with one of its own locks held.
#pragma once

#include "wdm.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winsim::kernel {

struct InterfaceInfo;

struct PnpBridge {
    virtual ~PnpBridge() = default;

    // Whether the PnP manager knows the device object as a physical device object (one that a
    // bus driver reported and that has a device instance).
    virtual bool isPdo(PDEVICE_OBJECT pdo) = 0;
    // The PDO's device instance path, e.g. "PCI\VEN_1234&DEV_5678&SUBSYS_00041234&REV_01\3&1&68".
    virtual std::string instancePath(PDEVICE_OBJECT pdo) = 0;
    // The property as IoGetDeviceProperty returns it (strings as NUL-terminated UTF-16LE,
    // multi-strings with their final NUL, numbers as 4 little-endian bytes), or a failure status
    // (e.g. STATUS_INVALID_PARAMETER for a property the device does not have).
    virtual NTSTATUS property(PDEVICE_OBJECT pdo, DEVICE_REGISTRY_PROPERTY property,
                              std::vector<std::uint8_t>& data) = 0;
    // The full path of the PDO's driver key, e.g.
    // "SYSTEM\CurrentControlSet\Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}\0001";
    // empty when the device has none (no driver installed).
    virtual std::string driverKeyPath(PDEVICE_OBJECT pdo) = 0;

    // IoInvalidateDeviceRelations / IoInvalidateDeviceState. The PnP manager should act later
    // (on another thread), as Windows does, not inside the call.
    virtual void invalidateRelations(PDEVICE_OBJECT pdo, DEVICE_RELATION_TYPE type) = 0;
    virtual void invalidateState(PDEVICE_OBJECT pdo) = 0;

    // Notifications; nothing to do by default.
    virtual void deviceDeleted(PDEVICE_OBJECT device) { (void)device; }
    virtual void interfaceStateChanged(const InterfaceInfo& info) { (void)info; }
};

} // namespace winsim::kernel
