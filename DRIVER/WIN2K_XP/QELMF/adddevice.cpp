/*
 * adddevice.cpp - creation of the card device on the card's PCI device, and
 * the reading of the card's PCI location.
 */
#include "qelmf.h"

/*
 * Gives back the card's share of UnlocatedCardCount, if it holds one. Called
 * by the card's removal and by every failure path of AddCardDevice that comes
 * after the share was taken.
 */
QEL_PAGED_CODE VOID ReleaseUnlocatedCount(PCARD_EXTENSION Card) {
    PAGED_CODE();
    if (Card->HoldsUnlocatedCount) {
        Card->HoldsUnlocatedCount = FALSE;
        InterlockedDecrement(&UnlocatedCardCount);
    }
}

QEL_PAGED_CODE NTSTATUS NTAPI AddCardDevice(PDRIVER_OBJECT DriverObject,
                                            PDEVICE_OBJECT PhysicalDeviceObject) {
    PAGED_CODE();
    PDEVICE_OBJECT device = NULL;
    PCARD_EXTENSION card;
    NTSTATUS status;

    status = IoCreateDevice(DriverObject, sizeof(CARD_EXTENSION), NULL, FILE_DEVICE_BUS_EXTENDER, 0,
                            FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    card = (PCARD_EXTENSION)device->DeviceExtension;
    RtlZeroMemory(card, sizeof(CARD_EXTENSION));
    card->Header.Self = device;
    card->Header.IsFdo = TRUE;
    card->Header.PnpState = StateNotStarted;
    card->Header.SysPowerState = PowerSystemWorking;
    card->Header.DevPowerState = PowerDeviceD0;

    POWER_STATE powerState;
    powerState.DeviceState = PowerDeviceD0;
    PoSetPowerState(device, DevicePowerState, powerState);

    card->UnderlyingPdo = PhysicalDeviceObject;
    if (!NT_SUCCESS(ReadCardLocation(card))) {
        /*
         * The card keeps LocationCode 0, and so would every other card whose
         * location cannot be read: their ports would report equal instance
         * IDs, which Windows takes as a fatal error. One such card may live
         * at a time; a second one is refused before anything is attached.
         */
        if (InterlockedIncrement(&UnlocatedCardCount) > 1) {
            InterlockedDecrement(&UnlocatedCardCount);
            IoDeleteDevice(device);
            return STATUS_DUPLICATE_OBJECTID;
        }
        card->HoldsUnlocatedCount = TRUE;
    }

    ExInitializeFastMutex(&card->ChildLock);
    card->OutstandingIo = 1;
    KeInitializeEvent(&card->RemoveEvent, SynchronizationEvent, FALSE);
    KeInitializeEvent(&card->StopEvent, SynchronizationEvent, TRUE);

    device->Flags |= DO_POWER_PAGABLE;

    card->LowerDevice = IoAttachDeviceToDeviceStack(device, PhysicalDeviceObject);
    if (card->LowerDevice == NULL) {
        ReleaseUnlocatedCount(card);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }

    status = IoRegisterDeviceInterface(PhysicalDeviceObject, &GUID_CARD_INTERFACE, NULL,
                                       &card->InterfaceName);
    if (!NT_SUCCESS(status)) {
        ReleaseUnlocatedCount(card);
        IoDetachDevice(card->LowerDevice);
        IoDeleteDevice(device);
        return status;
    }

    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return status;
}

/* Converts the digits [Start, Start + Count) in base 10. */
QEL_PAGED_CODE static NTSTATUS ConvertDigits(PWSTR Start, ULONG Count, PULONG Value) {
    PAGED_CODE();
    UNICODE_STRING digits;
    digits.Buffer = Start;
    digits.Length = (USHORT)(Count * sizeof(WCHAR));
    digits.MaximumLength = digits.Length;
    return RtlUnicodeStringToInteger(&digits, 10, Value);
}

/*
 * The location text names the PCI bus, device and function, in this order,
 * as the first three runs of decimal digits ("PCI bus 2, device 13, function
 * 0"). LocationCode = bus << 8 | device << 3 | function; the ports' instance
 * IDs and bus information are made from it. The scan stops at the end of the
 * text and never reads past what the property returned.
 */
QEL_PAGED_CODE NTSTATUS ReadCardLocation(PCARD_EXTENSION Card) {
    PAGED_CODE();
    ULONG length = 0;
    NTSTATUS status;

    status = IoGetDeviceProperty(Card->UnderlyingPdo, DevicePropertyLocationInformation, 0, NULL,
                                 &length);
    if (status != STATUS_BUFFER_TOO_SMALL || length == 0) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    PWSTR text = (PWSTR)ExAllocatePoolWithTag(PagedPool, length, QEL_POOL_TAG);
    if (text == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG returned = 0;
    status = IoGetDeviceProperty(Card->UnderlyingPdo, DevicePropertyLocationInformation, length,
                                 text, &returned);
    if (!NT_SUCCESS(status)) {
        /* Nothing was read: the buffer holds no text to scan. */
        ExFreePool(text);
        return status;
    }

    ULONG chars = (returned < length ? returned : length) / sizeof(WCHAR);
    ULONG numbers[3] = {0, 0, 0};
    ULONG found = 0;
    ULONG pos = 0;
    status = STATUS_SUCCESS;
    while (found < 3 && NT_SUCCESS(status)) {
        while (pos < chars && text[pos] != L'\0' && (text[pos] < L'0' || text[pos] > L'9')) {
            pos++;
        }
        if (pos >= chars || text[pos] == L'\0') {
            break; /* the text ends before the next number */
        }
        ULONG start = pos;
        while (pos < chars && text[pos] >= L'0' && text[pos] <= L'9') {
            pos++;
        }
        ULONG end = pos;
        if (pos < chars && text[pos] != L'\0') {
            text[pos] = L'\0'; /* the run ends here; the next scan starts after it */
            pos++;
        }
        status = ConvertDigits(&text[start], end - start, &numbers[found]);
        if (NT_SUCCESS(status)) {
            found++;
        }
    }

    if (found == 3) {
        Card->LocationCode = (((numbers[0] << 5) | numbers[1]) << 3) | numbers[2];
        status = STATUS_SUCCESS;
    } else if (NT_SUCCESS(status)) {
        status = STATUS_UNSUCCESSFUL;
    }
    ExFreePool(text);
    return status;
}
