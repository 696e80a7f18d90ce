/*
 * cardpnp.cpp - Plug and Play handling of the card device: start-up (port
 * count, "PORTS", resources, device interface), stop, removal and the
 * bus-relations query that creates and reports the port devices.
 */
#include "qelmf.h"

/* Registry value in the card's device key that the property page reads. */
static const WCHAR PortsValueName[] = L"PORTS";

/* Access asked for the card's device key; kernel-mode handles are not access-checked. */
#define QEL_DEVICE_KEY_ACCESS STANDARD_RIGHTS_WRITE

/* Start-up: the PCI driver starts the card first, then the card is read. */
QEL_PAGED_CODE static NTSTATUS StartCard(PIRP Irp, PIO_STACK_LOCATION Stack, PCARD_EXTENSION Card) {
    PAGED_CODE();
    NTSTATUS status = ForwardIrpAndWait(Card->LowerDevice, Irp);
    if (NT_SUCCESS(status)) {
        Card->NumberOfPorts = ReadPortCount(Card);
        if (Card->NumberOfPorts == 0) {
            status = STATUS_DEVICE_CONFIGURATION_ERROR;
        }
    }
    if (NT_SUCCESS(status)) {
        HANDLE key;
        /* The property page reads the count here; a card that cannot publish it still starts. */
        if (NT_SUCCESS(IoOpenDeviceRegistryKey(Card->UnderlyingPdo, PLUGPLAY_REGKEY_DEVICE,
                                               QEL_DEVICE_KEY_ACCESS, &key))) {
            WriteRegistryValue(key, PortsValueName, REG_DWORD, &Card->NumberOfPorts, sizeof(ULONG));
            ZwClose(key);
        }
        SaveCardResources(Card, Stack);
        status = EnableCardInterface(Card);
        if (NT_SUCCESS(status)) {
            Card->Header.PnpState = StateStarted;
        }
        /* The port devices are created by the bus-relations query that follows. */
    }
    Irp->IoStatus.Status = status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    DecrementIoCount(Card);
    return status;
}

/* Stop: waits until no other request holds the card; everything else stays. */
QEL_PAGED_CODE static VOID StopCard(PCARD_EXTENSION Card) {
    PAGED_CODE();
    DecrementIoCount(Card);
    KeWaitForSingleObject(&Card->StopEvent, Executive, KernelMode, FALSE, NULL);
    IncrementIoCount(Card);
    Card->Header.PnpState = StateStopped;
}

/* Removal: deletes the port devices and the card device. */
QEL_PAGED_CODE static NTSTATUS RemoveCard(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                          PCARD_EXTENSION Card) {
    PAGED_CODE();
    if (Card->Header.PnpState != StateSurpriseRemoved) {
        DisableCardInterface(Card);
    }
    Card->Header.PnpState = StateDeleted;

    /* This request's count and the initial one. */
    DecrementIoCount(Card);
    DecrementIoCount(Card);
    KeWaitForSingleObject(&Card->RemoveEvent, Executive, KernelMode, FALSE, NULL);

    ExAcquireFastMutex(&Card->ChildLock);
    for (ULONG i = 0; i < QEL_MAX_CHILDREN; i++) {
        if (Card->ChildPdos[i] != NULL) {
            IoDeleteDevice(Card->ChildPdos[i]);
            Card->ChildPdos[i] = NULL;
        }
    }
    ExReleaseFastMutex(&Card->ChildLock);

    Irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(Irp);
    NTSTATUS status = IoCallDriver(Card->LowerDevice, Irp);

    ReleaseUnlocatedCount(Card);
    IoDetachDevice(Card->LowerDevice);
    IoDeleteDevice(DeviceObject);
    return status;
}

QEL_PAGED_CODE NTSTATUS CardPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                                PCARD_EXTENSION Card) {
    PAGED_CODE();
    NTSTATUS status;

    IncrementIoCount(Card);
    switch (Stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartCard(Irp, Stack, Card);

    case IRP_MN_REMOVE_DEVICE:
        return RemoveCard(DeviceObject, Irp, Card);

    /* The card never refuses a query-stop or a query-remove. */
    case IRP_MN_QUERY_REMOVE_DEVICE:
        Card->Header.PnpState = StateRemovePending;
        status = STATUS_SUCCESS;
        break;

    case IRP_MN_QUERY_STOP_DEVICE:
        Card->Header.PnpState = StateStopPending;
        status = STATUS_SUCCESS;
        break;

    /* A cancel leads back to started, whatever state it finds. */
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        Card->Header.PnpState = StateStarted;
        status = STATUS_SUCCESS;
        break;

    case IRP_MN_STOP_DEVICE:
        StopCard(Card);
        status = STATUS_SUCCESS;
        break;

    case IRP_MN_SURPRISE_REMOVAL:
        DisableCardInterface(Card);
        Card->Header.PnpState = StateSurpriseRemoved;
        status = STATUS_SUCCESS;
        break;

    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (Stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
            status = EnumeratePorts(Irp, Card);
            break;
        }
        /* Other relations are the PCI driver's business. */
        IoSkipCurrentIrpStackLocation(Irp);
        status = IoCallDriver(Card->LowerDevice, Irp);
        DecrementIoCount(Card);
        return status;

    default:
        IoSkipCurrentIrpStackLocation(Irp);
        status = IoCallDriver(Card->LowerDevice, Irp);
        DecrementIoCount(Card);
        return status;
    }

    Irp->IoStatus.Status = status;
    if (!NT_SUCCESS(status)) {
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        DecrementIoCount(Card);
        return status;
    }
    IoCopyCurrentIrpStackLocationToNext(Irp);
    status = IoCallDriver(Card->LowerDevice, Irp);
    DecrementIoCount(Card);
    return status;
}

QEL_PAGED_CODE NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT LowerDevice, PIRP Irp) {
    PAGED_CODE();
    KEVENT event;

    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, ForwardCompletion, &event, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(LowerDevice, Irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
        status = Irp->IoStatus.Status;
    }
    return status;
}

/* Resident: may run at DISPATCH_LEVEL in the lower driver's completion. */
NTSTATUS NTAPI ForwardCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Event) {
    UNREFERENCED_PARAMETER(DeviceObject);
    if (Irp->PendingReturned) {
        IoMarkIrpPending(Irp);
    }
    KeSetEvent((PKEVENT)Event, 1, FALSE);
    /* The request goes back to ForwardIrpAndWait's caller, who completes it. */
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/*
 * The card names its port count in the word at 0x2C (subsystem vendor ID in
 * the low half, subsystem ID in the high half): vendor 0 and an ID of 1, 2,
 * 4 or 8. Anything else, an unreadable word included, is no card of ours.
 */
QEL_PAGED_CODE ULONG ReadPortCount(PCARD_EXTENSION Card) {
    PAGED_CODE();
    ULONG word = 0;

    ReadCardConfig(Card->Header.Self, &word, QEL_PORT_COUNT_OFFSET, sizeof(word));
    switch (word) {
    case 0x00010000:
        return 1;
    case 0x00020000:
        return 2;
    case 0x00040000:
        return 4;
    case 0x00080000:
        return 8;
    default:
        return 0;
    }
}

/* Reads PCI configuration space through the top of the card's own stack. */
QEL_PAGED_CODE NTSTATUS ReadCardConfig(PDEVICE_OBJECT DeviceObject, PVOID Buffer, ULONG Offset,
                                       ULONG Length) {
    PAGED_CODE();
    KEVENT event;
    IO_STATUS_BLOCK ioStatus;
    NTSTATUS status;

    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(DeviceObject);
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, top, NULL, 0, NULL, &event, &ioStatus);
    if (irp == NULL) {
        status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MinorFunction = IRP_MN_READ_CONFIG;
        next->Parameters.ReadWriteConfig.WhichSpace = PCI_WHICHSPACE_CONFIG;
        next->Parameters.ReadWriteConfig.Buffer = Buffer;
        next->Parameters.ReadWriteConfig.Offset = Offset;
        next->Parameters.ReadWriteConfig.Length = Length;
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        status = IoCallDriver(top, irp);
        if (status == STATUS_PENDING) {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
            status = ioStatus.Status;
        }
    }
    ObDereferenceObject(top);
    return status;
}

QEL_PAGED_CODE NTSTATUS WriteRegistryValue(HANDLE Key, PCWSTR Name, ULONG Type, PVOID Data,
                                           ULONG Size) {
    PAGED_CODE();
    UNICODE_STRING source;
    UNICODE_STRING name;

    RtlInitUnicodeString(&source, Name);
    name.Length = 0;
    name.MaximumLength = (USHORT)(source.Length + sizeof(WCHAR));
    name.Buffer = (PWSTR)ExAllocatePoolWithTag(PagedPool, name.MaximumLength, QEL_POOL_TAG);
    if (name.Buffer == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyUnicodeString(&name, &source);
    NTSTATUS status = ZwSetValueKey(Key, &name, 0, Type, Data, Size);
    ExFreePool(name.Buffer);
    return status;
}

/* Where one resource list's walk stores what it finds. */
typedef struct _RESOURCE_TARGETS {
    PPHYSICAL_ADDRESS IoBase;
    PULONG InterruptLevel;
    PULONG InterruptVector;
    KAFFINITY* InterruptAffinity;
} RESOURCE_TARGETS;

/*
 * Walks the first full descriptor of a list: the first I/O port range gives
 * the base and the flags, every interrupt overwrites the interrupt (the last
 * one wins); other types do not concern the ports. A list without any
 * descriptor (Count 0) has no first descriptor to read and counts as absent.
 */
QEL_PAGED_CODE static VOID SaveResourceList(PCARD_EXTENSION Card, PCM_RESOURCE_LIST List,
                                            const RESOURCE_TARGETS* Targets) {
    PAGED_CODE();
    if (List == NULL || List->Count == 0) {
        return;
    }
    PCM_PARTIAL_RESOURCE_LIST partials = &List->List[0].PartialResourceList;
    BOOLEAN portSeen = FALSE;
    for (ULONG i = 0; i < partials->Count; i++) {
        PCM_PARTIAL_RESOURCE_DESCRIPTOR d = &partials->PartialDescriptors[i];
        switch (d->Type) {
        case CmResourceTypePort:
            if (!portSeen) {
                portSeen = TRUE;
                *Targets->IoBase = d->u.Port.Start;
                Card->PortFlags = d->Flags;
            }
            break;
        case CmResourceTypeInterrupt:
            *Targets->InterruptLevel = d->u.Interrupt.Level;
            *Targets->InterruptVector = d->u.Interrupt.Vector;
            *Targets->InterruptAffinity = d->u.Interrupt.Affinity;
            break;
        default:
            break;
        }
    }
}

QEL_PAGED_CODE VOID SaveCardResources(PCARD_EXTENSION Card, PIO_STACK_LOCATION Stack) {
    PAGED_CODE();
    const RESOURCE_TARGETS raw = {&Card->RawIoBase, &Card->RawInterruptLevel,
                                  &Card->RawInterruptVector, &Card->RawInterruptAffinity};
    const RESOURCE_TARGETS translated = {&Card->TrIoBase, &Card->TrInterruptLevel,
                                         &Card->TrInterruptVector, &Card->TrInterruptAffinity};

    SaveResourceList(Card, Stack->Parameters.StartDevice.AllocatedResources, &raw);
    SaveResourceList(Card, Stack->Parameters.StartDevice.AllocatedResourcesTranslated, &translated);
}

QEL_PAGED_CODE NTSTATUS EnableCardInterface(PCARD_EXTENSION Card) {
    PAGED_CODE();
    NTSTATUS status = IoSetDeviceInterfaceState(&Card->InterfaceName, TRUE);
    /* Already enabled: a start after a stop. */
    if (status == STATUS_OBJECT_NAME_EXISTS) {
        status = STATUS_SUCCESS;
    }
    return status;
}

/* Harmless a second time: the name is gone after the first. */
QEL_PAGED_CODE VOID DisableCardInterface(PCARD_EXTENSION Card) {
    PAGED_CODE();
    if (Card->InterfaceName.Buffer != NULL) {
        IoSetDeviceInterfaceState(&Card->InterfaceName, FALSE);
        ExFreePool(Card->InterfaceName.Buffer);
        RtlZeroMemory(&Card->InterfaceName, sizeof(UNICODE_STRING));
    }
}

/* Bytes of a DEVICE_RELATIONS with room for Count entries (at least the one it declares). */
QEL_PAGED_CODE static SIZE_T RelationsSize(ULONG Count) {
    PAGED_CODE();
    ULONG extra = Count > 1 ? Count - 1 : 0;
    return sizeof(DEVICE_RELATIONS) + (SIZE_T)extra * sizeof(PDEVICE_OBJECT);
}

/*
 * Bus relations: creates the port devices still missing and reports every
 * port device of the card after what drivers above put into the list. A
 * port whose device could not be created is left out of this answer; the
 * next query tries it again.
 */
QEL_PAGED_CODE NTSTATUS EnumeratePorts(PIRP Irp, PCARD_EXTENSION Card) {
    PAGED_CODE();
    ExAcquireFastMutex(&Card->ChildLock);

    PCHAR prefix = BuildInstancePrefix(Card);
    if (prefix == NULL) {
        ExReleaseFastMutex(&Card->ChildLock);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    PDEVICE_RELATIONS old = (PDEVICE_RELATIONS)Irp->IoStatus.Information;
    ULONG prev = old != NULL ? old->Count : 0;

    for (ULONG i = 0; i < Card->NumberOfPorts; i++) {
        if (Card->ChildPdos[i] == NULL) {
            CreatePortDevice(Card, i, prefix);
        }
    }
    ExFreePool(prefix);

    PDEVICE_RELATIONS list = (PDEVICE_RELATIONS)ExAllocatePoolWithTag(
        PagedPool, RelationsSize(prev + Card->NumberOfPorts), QEL_POOL_TAG);
    if (list == NULL) {
        ExReleaseFastMutex(&Card->ChildLock);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    ULONG count = 0;
    for (ULONG i = 0; i < prev; i++) {
        list->Objects[count++] = old->Objects[i];
    }
    for (ULONG i = 0; i < Card->NumberOfPorts; i++) {
        if (Card->ChildPdos[i] != NULL) {
            ObReferenceObject(Card->ChildPdos[i]);
            list->Objects[count++] = Card->ChildPdos[i];
        }
    }
    list->Count = count;

    ExReleaseFastMutex(&Card->ChildLock);
    if (old != NULL) {
        ExFreePool(old);
    }
    Irp->IoStatus.Information = (ULONG_PTR)list;
    return STATUS_SUCCESS;
}
