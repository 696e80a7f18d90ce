// Entry point, dispatch table, add-device and power handling of the PCI bus driver.
#include "pci/pci_internal.h"

#include <new>

namespace winsim::pci {

namespace {

NTSTATUS NTAPI dispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    return kindOf(device) == DeviceKind::bus ? busPnp(device, irp) : cardPnp(device, irp);
}

// Power requests: the bus device passes them on; a card device answers them (card_power.cpp).
NTSTATUS NTAPI dispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    if (kindOf(device) == DeviceKind::card) {
        return cardPower(device, irp);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(static_cast<BusExtension*>(device->DeviceExtension)->lower, irp);
}

NTSTATUS NTAPI addBusDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(BusExtension), nullptr,
                                     FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* bus = new (device->DeviceExtension) BusExtension;
    bus->self = device;
    bus->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (bus->lower == nullptr) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

VOID NTAPI unloadDriver(PDRIVER_OBJECT) {}

} // namespace

extern "C" NTSTATUS NTAPI PciDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->MajorFunction[IRP_MJ_PNP] = dispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = dispatchPower;
    driver->DriverUnload = unloadDriver;
    driver->DriverExtension->AddDevice = addBusDevice;
    return STATUS_SUCCESS;
}

std::optional<Slot> slotOfDevice(PDEVICE_OBJECT pdo) {
    if (pdo == nullptr || pdo->DriverObject == nullptr ||
        pdo->DriverObject->MajorFunction[IRP_MJ_PNP] != dispatchPnp ||
        kindOf(pdo) != DeviceKind::card) {
        return std::nullopt;
    }
    return slotAt(static_cast<CardExtension*>(pdo->DeviceExtension)->slot);
}

NTSTATUS finishRequest(PIRP irp, bool later) {
    if (!later) {
        const NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    IoMarkIrpPending(irp);
    runOnWorker([irp] { IoCompleteRequest(irp, IO_NO_INCREMENT); });
    return STATUS_PENDING;
}

} // namespace winsim::pci
