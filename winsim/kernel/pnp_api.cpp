// The I/O manager's Plug and Play routines of <wdm.h>: device interfaces, device properties,
// device registry keys and invalidation. They ask the PnP manager through the PnpBridge.
#include "kernel/call_frames.h"
#include "kernel/kernel.h"
#include "kernel/wide.h"
#include "registry/registry.h"

#include <cstring>

using winsim::kernel::Check;
using winsim::kernel::Kernel;
using winsim::kernel::PnpBridge;
namespace fault_call = winsim::kernel::fault_call;

namespace {

const std::string enumPath = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string currentControlSet = "SYSTEM\\CurrentControlSet\\";
const std::string hardwareProfile =
    "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\";

// The bridge, when it knows the device object as a PDO.
PnpBridge* bridgeFor(Kernel& k, PDEVICE_OBJECT pdo) {
    PnpBridge* bridge = k.pnpBridge();
    if (bridge == nullptr || !k.objects().isLive(pdo) || !bridge->isPdo(pdo)) {
        return nullptr;
    }
    return bridge;
}

} // namespace

extern "C" {

NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject,
                                         CONST GUID* InterfaceClassGuid,
                                         PUNICODE_STRING ReferenceString,
                                         PUNICODE_STRING SymbolicLinkName) {
    Kernel& k = Kernel::current();
    if (const auto failure = k.faults().shouldFail(fault_call::IoRegisterDeviceInterface)) {
        return *failure;
    }
    PnpBridge* bridge = bridgeFor(k, PhysicalDeviceObject);
    if (bridge == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (InterfaceClassGuid == nullptr || SymbolicLinkName == nullptr) {
        k.verifier().report(Check::InvalidCall, "IoRegisterDeviceInterface without a GUID or name");
        return STATUS_INVALID_PARAMETER;
    }
    std::string reference;
    if (ReferenceString != nullptr && ReferenceString->Buffer != nullptr) {
        reference = winsim::kernel::narrow(*ReferenceString);
    }
    std::string link;
    const NTSTATUS status = k.interfaces().registerInterface(
        PhysicalDeviceObject, bridge->instancePath(PhysicalDeviceObject), *InterfaceClassGuid,
        reference, link);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // The caller frees the name's buffer with ExFreePool.
    const std::vector<WCHAR> text = winsim::kernel::widen(link);
    const std::size_t bytes = text.size() * sizeof(WCHAR);
    auto* buffer = static_cast<PWSTR>(k.pool().allocate(PagedPool, bytes, winsim::kernel::tagSystem,
                                                        winsim::kernel::currentDriver()));
    if (buffer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memcpy(buffer, text.data(), bytes);
    SymbolicLinkName->Buffer = buffer;
    SymbolicLinkName->MaximumLength = static_cast<USHORT>(bytes);
    SymbolicLinkName->Length = static_cast<USHORT>(bytes - sizeof(WCHAR));
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
    Kernel& k = Kernel::current();
    if (const auto failure = k.faults().shouldFail(fault_call::IoSetDeviceInterfaceState)) {
        return *failure;
    }
    if (SymbolicLinkName == nullptr || SymbolicLinkName->Buffer == nullptr) {
        k.verifier().report(Check::InvalidCall, "IoSetDeviceInterfaceState without a name");
        return STATUS_INVALID_PARAMETER;
    }
    winsim::kernel::InterfaceInfo changed;
    const NTSTATUS status = k.interfaces().setState(winsim::kernel::narrow(*SymbolicLinkName),
                                                    Enable != FALSE, changed);
    if (status == STATUS_SUCCESS) {
        if (PnpBridge* bridge = k.pnpBridge()) {
            bridge->interfaceStateChanged(changed);
        }
    }
    return status;
}

NTSTATUS NTAPI IoGetDeviceProperty(PDEVICE_OBJECT DeviceObject,
                                   DEVICE_REGISTRY_PROPERTY DeviceProperty, ULONG BufferLength,
                                   PVOID PropertyBuffer, PULONG ResultLength) {
    Kernel& k = Kernel::current();
    if (const auto failure = k.faults().shouldFail(fault_call::IoGetDeviceProperty)) {
        return *failure;
    }
    if (ResultLength == nullptr) {
        k.verifier().report(Check::InvalidCall, "IoGetDeviceProperty without ResultLength");
        return STATUS_INVALID_PARAMETER;
    }
    PnpBridge* bridge = bridgeFor(k, DeviceObject);
    if (bridge == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    std::vector<std::uint8_t> data;
    const NTSTATUS status = bridge->property(DeviceObject, DeviceProperty, data);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    *ResultLength = static_cast<ULONG>(data.size());
    if (data.size() > BufferLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (!data.empty()) {
        std::memcpy(PropertyBuffer, data.data(), data.size());
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                       ACCESS_MASK DesiredAccess, PHANDLE DevInstRegKey) {
    Kernel& k = Kernel::current();
    if (const auto failure = k.faults().shouldFail(fault_call::IoOpenDeviceRegistryKey)) {
        return *failure;
    }
    PnpBridge* bridge = bridgeFor(k, DeviceObject);
    if (bridge == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const bool profile = (DevInstKeyType & PLUGPLAY_REGKEY_CURRENT_HWPROFILE) != 0;
    const ULONG kind = DevInstKeyType & ~static_cast<ULONG>(PLUGPLAY_REGKEY_CURRENT_HWPROFILE);
    std::string path;
    bool create = true;
    if (kind == PLUGPLAY_REGKEY_DEVICE) {
        path = enumPath + bridge->instancePath(DeviceObject);
        if (!profile) {
            path += "\\Device Parameters";
        }
    } else if (kind == PLUGPLAY_REGKEY_DRIVER) {
        path = bridge->driverKeyPath(DeviceObject);
        if (path.empty()) {
            return STATUS_OBJECT_NAME_NOT_FOUND; // no driver installed for the device
        }
        create = profile; // the driver key itself is made by setup, not here
    } else {
        return STATUS_INVALID_PARAMETER;
    }
    if (profile && path.compare(0, currentControlSet.size(), currentControlSet) == 0) {
        path = hardwareProfile + path.substr(currentControlSet.size());
    }
    std::shared_ptr<winsim::reg::Key> key;
    if (create) {
        auto created = k.registry().create_key(path);
        if (created.status != winsim::reg::Status::ok) {
            return static_cast<NTSTATUS>(winsim::reg::to_ntstatus(created.status));
        }
        key = std::move(created.key);
    } else {
        key = k.registry().open_key(path);
        if (!key) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
    }
    *DevInstRegKey =
        k.handles().insert(std::move(key), DesiredAccess, winsim::kernel::currentDriver());
    return STATUS_SUCCESS;
}

VOID NTAPI IoInvalidateDeviceRelations(PDEVICE_OBJECT DeviceObject, DEVICE_RELATION_TYPE Type) {
    if (PnpBridge* bridge = Kernel::current().pnpBridge()) {
        bridge->invalidateRelations(DeviceObject, Type);
    }
}

VOID NTAPI IoInvalidateDeviceState(PDEVICE_OBJECT PhysicalDeviceObject) {
    if (PnpBridge* bridge = Kernel::current().pnpBridge()) {
        bridge->invalidateState(PhysicalDeviceObject);
    }
}

} // extern "C"
