// The port driver: a function device on a port device of the card. It passes every Plug and
// Play request down, and around them takes and gives back the port interface.
#include "qelser/qelser.h"

#include "kernel/kernel.h"
#include "kernel/wide.h"
#include "registry/registry.h"

#include <mutex>
#include <new>
#include <vector>

namespace winsim::qelser {

namespace {

struct PortDevice {
    PDEVICE_OBJECT self = nullptr;
    PDEVICE_OBJECT lower = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    mutable std::mutex lock; // guards the fields below against readers on other threads
    PORT_INTERFACE iface{};
    PortView view;
};

PortDevice* portOf(PDEVICE_OBJECT device) {
    return static_cast<PortDevice*>(device->DeviceExtension);
}

NTSTATUS NTAPI signalEvent(PDEVICE_OBJECT, PIRP irp, PVOID event) {
    if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    KeSetEvent(static_cast<PKEVENT>(event), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forwardAndWait(PortDevice* port, PIRP irp) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signalEvent, &event, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(port->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS passDown(PortDevice* port, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(port->lower, irp);
}

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Asks the port device for the port interface and, when it answers, for the port's
// configuration. The reference the answer carries is kept.
NTSTATUS takeInterface(PortDevice* port) {
    KEVENT event;
    IO_STATUS_BLOCK iosb{};
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp =
        IoBuildSynchronousFsdRequest(IRP_MJ_PNP, port->lower, nullptr, 0, nullptr, &event, &iosb);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PORT_INTERFACE iface{};
    iface.Size = sizeof(PORT_INTERFACE);
    iface.Version = 1;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &GUID_CARD_INTERFACE;
    next->Parameters.QueryInterface.Size = sizeof(PORT_INTERFACE);
    next->Parameters.QueryInterface.Version = 1;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&iface);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    NTSTATUS status = IoCallDriver(port->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    PORT_CONFIG config{};
    const bool configured = NT_SUCCESS(status) && iface.GetPortConfig != nullptr &&
                            iface.GetPortConfig(iface.Context, &config);
    std::lock_guard guard(port->lock);
    port->view.lastQueryStatus = status;
    if (!NT_SUCCESS(status)) {
        return status;
    }
    port->iface = iface;
    port->view.holdsInterface = true;
    ++port->view.interfaceQueries;
    if (configured) {
        port->view.config = config;
    }
    return STATUS_SUCCESS;
}

void giveInterfaceBack(PortDevice* port) {
    PORT_INTERFACE iface{};
    {
        std::lock_guard guard(port->lock);
        if (!port->view.holdsInterface) {
            return;
        }
        port->view.holdsInterface = false;
        iface = port->iface;
    }
    if (iface.InterfaceDereference != nullptr) {
        iface.InterfaceDereference(iface.Context);
    }
}

void setStarted(PortDevice* port, bool started) {
    std::lock_guard guard(port->lock);
    port->view.started = started;
}

// Read access to a registry key.
constexpr ACCESS_MASK key_read = 0x20019;

// A counted string over narrow text; the storage must outlive the string.
UNICODE_STRING counted(std::vector<WCHAR>& storage, const std::string& text) {
    storage = winsim::kernel::widen(text);
    UNICODE_STRING out{};
    winsim::kernel::viewAsUnicode(storage, out);
    return out;
}

// The port's "PortName" from its "Device Parameters" key (value names match without regard to
// case); "" when it has none or it cannot be a DOS name.
std::string readPortName(const PortDevice* port) {
    HANDLE handle = nullptr;
    if (!NT_SUCCESS(
            IoOpenDeviceRegistryKey(port->pdo, PLUGPLAY_REGKEY_DEVICE, key_read, &handle))) {
        return {};
    }
    std::string name;
    if (const auto key = winsim::kernel::Kernel::current().handles().key(handle, "qelser")) {
        if (key->get_string("PortName", name) != winsim::reg::Status::ok) {
            name.clear();
        }
    }
    ZwClose(handle);
    if (name.find_first_of("\\/:") != std::string::npos) {
        return {};
    }
    return name;
}

// Removes the DOS name when it stands for this port now.
void deleteDosName(const PortDevice* port, const std::string& name) {
    const auto targets = winsim::kernel::Kernel::current().symbolicLinks().targets(name);
    if (name.empty() || targets.empty() || targets.front() != port->view.deviceName) {
        return;
    }
    std::vector<WCHAR> storage;
    UNICODE_STRING link = counted(storage, "\\DosDevices\\" + name);
    IoDeleteSymbolicLink(&link);
}

// At the port's start: its COM name as a DOS name of the device and in the SERIALCOMM map.
void nameExternally(PortDevice* port) {
    std::string deviceName;
    {
        std::lock_guard guard(port->lock);
        if (!port->view.comName.empty()) {
            return; // named at an earlier start
        }
        deviceName = port->view.deviceName;
    }
    const std::string portName = readPortName(port);
    if (portName.empty()) {
        return;
    }
    std::vector<WCHAR> linkStorage;
    std::vector<WCHAR> targetStorage;
    UNICODE_STRING link = counted(linkStorage, "\\DosDevices\\" + portName);
    UNICODE_STRING target = counted(targetStorage, deviceName);
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link, &target))) {
        return; // the name is taken: the port runs without one
    }
    winsim::reg::CreateOptions options;
    options.is_volatile = true;
    const auto map =
        winsim::kernel::Kernel::current().registry().create_key(serial_comm_key, options);
    if (map.status == winsim::reg::Status::ok) {
        map.key->set_string(deviceName, portName);
    }
    std::lock_guard guard(port->lock);
    port->view.comName = portName;
}

// When the port goes: its DOS names and its SERIALCOMM entry. The COM name may have been moved
// since the start (the entry then names the new one): both the name made at the start and the
// one in the entry are removed where they still stand for this port.
void removeExternalNames(PortDevice* port) {
    std::string comName;
    {
        std::lock_guard guard(port->lock);
        comName = port->view.comName;
        port->view.comName.clear();
    }
    winsim::kernel::Kernel& k = winsim::kernel::Kernel::current();
    if (const auto map = k.registry().open_key(serial_comm_key)) {
        std::string entered;
        if (map->get_string(port->view.deviceName, entered) == winsim::reg::Status::ok) {
            deleteDosName(port, entered);
            map->delete_value(port->view.deviceName);
        }
    }
    deleteDosName(port, comName);
}

NTSTATUS startPort(PortDevice* port, PIRP irp) {
    NTSTATUS status = forwardAndWait(port, irp);
    if (NT_SUCCESS(status)) {
        giveInterfaceBack(port); // a start after a stop asks again
        status = takeInterface(port);
    }
    setStarted(port, NT_SUCCESS(status));
    if (NT_SUCCESS(status)) {
        // A started port is working: D0, as the port driver tells the power manager.
        POWER_STATE d0{};
        d0.DeviceState = PowerDeviceD0;
        PoSetPowerState(port->self, DevicePowerState, d0);
        nameExternally(port);
    }
    return complete(irp, status);
}

NTSTATUS removePort(PDEVICE_OBJECT device, PortDevice* port, PIRP irp) {
    giveInterfaceBack(port);
    removeExternalNames(port);
    setStarted(port, false);
    irp->IoStatus.Status = STATUS_SUCCESS;
    const NTSTATUS status = passDown(port, irp);
    IoDetachDevice(port->lower);
    port->~PortDevice();
    IoDeleteDevice(device);
    return status;
}

NTSTATUS NTAPI dispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    PortDevice* port = portOf(device);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return startPort(port, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE: {
        bool keep = false;
        {
            std::lock_guard guard(port->lock);
            keep = port->view.keepsReference;
        }
        if (!keep) {
            giveInterfaceBack(port);
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(port, irp);
    }
    case IRP_MN_CANCEL_REMOVE_DEVICE: {
        NTSTATUS status = forwardAndWait(port, irp);
        bool holds = false;
        bool started = false;
        {
            std::lock_guard guard(port->lock);
            holds = port->view.holdsInterface;
            started = port->view.started;
        }
        if (started && !holds) {
            takeInterface(port);
        }
        return complete(irp, NT_SUCCESS(status) ? STATUS_SUCCESS : status);
    }
    case IRP_MN_STOP_DEVICE:
        giveInterfaceBack(port);
        setStarted(port, false);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(port, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        giveInterfaceBack(port);
        removeExternalNames(port);
        setStarted(port, false);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(port, irp);
    case IRP_MN_REMOVE_DEVICE:
        return removePort(device, port, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(port, irp);
    default:
        return passDown(port, irp);
    }
}

// The port driver owns the port's power policy: a system set-power request makes it ask for the
// device state that goes with the system state (D0 when working, D3 otherwise) when the port is
// not in it already. That device request enters the port's stack at its top, here, on its way
// to the port device, and the new device state is reported. Everything passes down.
NTSTATUS NTAPI dispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    PortDevice* port = portOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_SET_POWER) {
        const POWER_STATE state = stack->Parameters.Power.State;
        if (stack->Parameters.Power.Type == SystemPowerState) {
            POWER_STATE wanted{};
            wanted.DeviceState =
                state.SystemState <= PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
            bool change = false;
            {
                std::lock_guard guard(port->lock);
                change = port->view.devicePower != wanted.DeviceState;
            }
            if (change) {
                PoRequestPowerIrp(port->lower, IRP_MN_SET_POWER, wanted, nullptr, nullptr, nullptr);
            }
        } else {
            PoSetPowerState(device, DevicePowerState, state);
            std::lock_guard guard(port->lock);
            port->view.devicePower = state.DeviceState;
        }
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(port->lower, irp);
}

// The highest N tried for "\Device\SerialN".
constexpr unsigned max_serial_devices = 4096;

NTSTATUS NTAPI addPortDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = STATUS_OBJECT_NAME_COLLISION;
    std::string deviceName;
    for (unsigned n = 0; n < max_serial_devices && status == STATUS_OBJECT_NAME_COLLISION; ++n) {
        deviceName = "\\Device\\Serial" + std::to_string(n);
        std::vector<WCHAR> storage;
        UNICODE_STRING name = counted(storage, deviceName);
        status = IoCreateDevice(driver, sizeof(PortDevice), &name, FILE_DEVICE_SERIAL_PORT, 0,
                                FALSE, &device);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* port = new (device->DeviceExtension) PortDevice;
    port->self = device;
    port->pdo = pdo;
    port->view.deviceName = deviceName;
    port->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (port->lower == nullptr) {
        port->~PortDevice();
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

VOID NTAPI unloadDriver(PDRIVER_OBJECT) {}

bool isPortDevice(PDEVICE_OBJECT device) {
    return device != nullptr && device->DriverObject != nullptr &&
           device->DriverObject->MajorFunction[IRP_MJ_PNP] == dispatchPnp;
}

} // namespace

extern "C" NTSTATUS NTAPI QelserDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->MajorFunction[IRP_MJ_PNP] = dispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = dispatchPower;
    driver->DriverUnload = unloadDriver;
    driver->DriverExtension->AddDevice = addPortDevice;
    return STATUS_SUCCESS;
}

std::optional<PortView> inspect(PDEVICE_OBJECT device) {
    if (!isPortDevice(device)) {
        return std::nullopt;
    }
    PortDevice* port = portOf(device);
    std::lock_guard guard(port->lock);
    return port->view;
}

bool setKeepsReference(PDEVICE_OBJECT device, bool keep) {
    if (!isPortDevice(device)) {
        return false;
    }
    PortDevice* port = portOf(device);
    std::lock_guard guard(port->lock);
    port->view.keepsReference = keep;
    return true;
}

} // namespace winsim::qelser
