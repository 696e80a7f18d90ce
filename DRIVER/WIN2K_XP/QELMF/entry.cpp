/*
 * entry.cpp - loading and unloading of QELMF, the dispatch routines and the
 * card's outstanding-request count.
 */
#include "qelmf.h"

const GUID GUID_CARD_INTERFACE = {
    0x1B829016, 0x693A, 0x4069, {0x98, 0x13, 0x65, 0xEE, 0xB2, 0x55, 0xC8, 0xB8}};
const GUID GUID_CARD_BUS_TYPE = {
    0x5F28B317, 0x42AF, 0x404D, {0x92, 0xA2, 0x09, 0xE3, 0x15, 0x3A, 0xB8, 0x62}};

UNICODE_STRING RegistryPathCopy;
LONG UnlocatedCardCount;

/* Discarded once the driver is loaded. */
extern "C" QEL_INIT_CODE NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject,
                                                    PUNICODE_STRING RegistryPath) {
    UNICODE_STRING copy;

    /* Room for the path and a terminating NUL. Nothing is set if the copy fails. */
    copy.Length = RegistryPath->Length;
    copy.MaximumLength = (USHORT)(RegistryPath->Length + sizeof(WCHAR));
    copy.Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, copy.MaximumLength, QEL_REGPATH_TAG);
    if (copy.Buffer == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyUnicodeString(&copy, RegistryPath);
    RegistryPathCopy = copy;

    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    DriverObject->DriverUnload = UnloadDriver;
    DriverObject->DriverExtension->AddDevice = AddCardDevice;
    return STATUS_SUCCESS;
}

QEL_PAGED_CODE VOID NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject) {
    PAGED_CODE();
    UNREFERENCED_PARAMETER(DriverObject);

    if (RegistryPathCopy.Buffer != NULL) {
        ExFreePool(RegistryPathCopy.Buffer);
        RegistryPathCopy.Buffer = NULL;
        RegistryPathCopy.Length = 0;
        RegistryPathCopy.MaximumLength = 0;
    }
}

/* Nobody opens the card or a port through this driver. */
QEL_PAGED_CODE NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PAGED_CODE();
    PEXTENSION_HEADER header = (PEXTENSION_HEADER)DeviceObject->DeviceExtension;
    PCARD_EXTENSION card = header->IsFdo ? (PCARD_EXTENSION)header : NULL;

    if (card != NULL) {
        IncrementIoCount(card);
    }
    Irp->IoStatus.Information = 0;
    Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    if (card != NULL) {
        DecrementIoCount(card);
    }
    return STATUS_INVALID_DEVICE_REQUEST;
}

QEL_PAGED_CODE NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PAGED_CODE();
    PEXTENSION_HEADER header = (PEXTENSION_HEADER)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);

    if (header->PnpState == StateDeleted) {
        Irp->IoStatus.Status = STATUS_DELETE_PENDING;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_DELETE_PENDING;
    }
    if (header->IsFdo) {
        return CardPnp(DeviceObject, Irp, stack, (PCARD_EXTENSION)header);
    }
    return PortPnp(DeviceObject, Irp, stack, (PPORT_EXTENSION)header);
}

QEL_PAGED_CODE NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    PAGED_CODE();
    PEXTENSION_HEADER header = (PEXTENSION_HEADER)DeviceObject->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);

    if (header->PnpState == StateDeleted) {
        PoStartNextPowerIrp(Irp);
        Irp->IoStatus.Status = STATUS_DELETE_PENDING;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_DELETE_PENDING;
    }
    if (header->IsFdo) {
        return CardPower(DeviceObject, Irp, stack, (PCARD_EXTENSION)header);
    }
    return PortPower(DeviceObject, Irp, stack, (PPORT_EXTENSION)header);
}

/*
 * The count is 1 while the card is idle. StopEvent follows "no request holds
 * the card" (count 1); RemoveEvent fires once the removal has given back the
 * initial count as well. Resident: called on every path, including the
 * completion of requests.
 */
VOID IncrementIoCount(PCARD_EXTENSION Card) {
    LONG count = InterlockedIncrement(&Card->OutstandingIo);
    if (count == 2) {
        KeClearEvent(&Card->StopEvent);
    }
}

VOID DecrementIoCount(PCARD_EXTENSION Card) {
    LONG count = InterlockedDecrement(&Card->OutstandingIo);
    if (count == 1) {
        KeSetEvent(&Card->StopEvent, IO_NO_INCREMENT, FALSE);
    }
    if (count == 0) {
        KeSetEvent(&Card->RemoveEvent, IO_NO_INCREMENT, FALSE);
    }
}
