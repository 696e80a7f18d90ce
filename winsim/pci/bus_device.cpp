// The PCI bus driver's function device on the PCI root bus: starts with the bus below it and
// reports one physical device object per card that is plugged in.
#include "pci/pci_internal.h"

#include <algorithm>
#include <new>

namespace winsim::pci {

namespace {

NTSTATUS NTAPI signalEvent(PDEVICE_OBJECT, PIRP irp, PVOID event) {
    if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    KeSetEvent(static_cast<PKEVENT>(event), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forwardAndWait(PDEVICE_OBJECT lower, PIRP irp) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signalEvent, &event, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS passDown(BusExtension* bus, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(bus->lower, irp);
}

// Creates the devices of newly plugged cards and answers with every plugged card, each
// referenced for the requester. Devices that a driver above already put into the list stay first.
NTSTATUS reportCards(BusExtension* bus, PIRP irp) {
    purgeRemovedCards(bus);
    const std::size_t slots = std::min(slotCount(), maxSlots);
    std::vector<PDEVICE_OBJECT> present;
    for (std::size_t i = 0; i < slots; ++i) {
        const auto slot = slotAt(i);
        if (!slot || !slot->present) {
            continue;
        }
        if (bus->cards[i] == nullptr && !NT_SUCCESS(createCardDevice(bus, i))) {
            continue;
        }
        present.push_back(bus->cards[i]);
    }
    auto* old = reinterpret_cast<PDEVICE_RELATIONS>(irp->IoStatus.Information);
    const ULONG previous = old != nullptr ? old->Count : 0;
    const ULONG count = previous + static_cast<ULONG>(present.size());
    const SIZE_T size = sizeof(DEVICE_RELATIONS) + (count > 0 ? count - 1 : 0) * sizeof(PVOID);
    auto* relations =
        static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, size, poolTag));
    if (relations == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    relations->Count = count;
    for (ULONG i = 0; i < previous; ++i) {
        relations->Objects[i] = old->Objects[i];
    }
    for (std::size_t i = 0; i < present.size(); ++i) {
        ObReferenceObject(present[i]);
        relations->Objects[previous + i] = present[i];
    }
    if (old != nullptr) {
        ExFreePool(old);
    }
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

NTSTATUS removeBus(PDEVICE_OBJECT device, BusExtension* bus, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    const NTSTATUS status = passDown(bus, irp);
    for (auto& card : bus->cards) {
        if (card != nullptr) {
            deleteCardDevice(card);
            card = nullptr;
        }
    }
    IoDetachDevice(bus->lower);
    IoDeleteDevice(device);
    return status;
}

} // namespace

NTSTATUS busPnp(PDEVICE_OBJECT device, PIRP irp) {
    auto* bus = static_cast<BusExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        const NTSTATUS status = forwardAndWait(bus->lower, irp);
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
        if (stack->Parameters.QueryDeviceRelations.Type != BusRelations) {
            return passDown(bus, irp);
        }
        const NTSTATUS status = reportCards(bus, irp);
        irp->IoStatus.Status = status;
        if (!NT_SUCCESS(status)) {
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return status;
        }
        return passDown(bus, irp);
    }
    case IRP_MN_REMOVE_DEVICE:
        return removeBus(device, bus, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(bus, irp);
    default:
        return passDown(bus, irp);
    }
}

} // namespace winsim::pci
