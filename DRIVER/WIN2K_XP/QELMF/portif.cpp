/*
 * portif.cpp - the port interface: how the port driver above a port device
 * learns the port's registers and the card's interrupt.
 */
#include "qelmf.h"

/*
 * Resident. A foreign interface type is not ours to answer: the request
 * keeps its status. Each successful query hands out one reference, which
 * holds off the port's removal until the port driver gives it back.
 */
NTSTATUS PortQueryInterface(PPORT_EXTENSION Port, PIO_STACK_LOCATION Stack, PIRP Irp) {
    if (RtlCompareMemory(Stack->Parameters.QueryInterface.InterfaceType, &GUID_CARD_INTERFACE,
                         sizeof(GUID)) != sizeof(GUID)) {
        return Irp->IoStatus.Status;
    }
    if (Stack->Parameters.QueryInterface.Size < QEL_PORT_INTERFACE_SIZE) {
        return STATUS_INVALID_PARAMETER;
    }

    /* Size and Version stay as the requester set them. */
    PPORT_INTERFACE portIf = (PPORT_INTERFACE)Stack->Parameters.QueryInterface.Interface;
    portIf->Context = Port;
    portIf->InterfaceReference = PortInterfaceReference;
    portIf->InterfaceDereference = PortInterfaceDereference;
    portIf->GetPortConfig = GetPortConfig;
    PortInterfaceReference(Port);

    Irp->IoStatus.Information = 0;
    return STATUS_SUCCESS;
}

/* Resident; the port driver may call these at up to DISPATCH_LEVEL. */
VOID NTAPI PortInterfaceReference(PVOID Context) {
    InterlockedIncrement(&((PPORT_EXTENSION)Context)->InterfaceRefs);
}

VOID NTAPI PortInterfaceDereference(PVOID Context) {
    InterlockedDecrement(&((PPORT_EXTENSION)Context)->InterfaceRefs);
}

/*
 * Port i owns the 8 registers at the card's I/O range + 8 * i; cards of 4
 * or 8 ports have one register shared by all ports at the range + 4; every
 * port gets the card's one interrupt. The card's fields change only while
 * the card starts, and only started ports' drivers call this: no lock.
 */
QEL_PAGED_CODE BOOLEAN NTAPI GetPortConfig(PVOID Context, PPORT_CONFIG Config) {
    PAGED_CODE();
    PPORT_EXTENSION port = (PPORT_EXTENSION)Context;
    PCARD_EXTENSION card = (PCARD_EXTENSION)port->ParentFdo->DeviceExtension;
    LONGLONG blockOffset = 8 * (LONGLONG)port->PortIndex;

    RtlZeroMemory(Config, sizeof(PORT_CONFIG));
    Config->LocationCode = card->LocationCode;
    Config->RawPortBase.QuadPart = card->RawIoBase.QuadPart + blockOffset;
    Config->TrPortBase.QuadPart = card->TrIoBase.QuadPart + blockOffset;
    if (card->NumberOfPorts >= 4) {
        Config->RawSharedRegister.QuadPart = card->RawIoBase.QuadPart + 4;
        Config->TrSharedRegister.QuadPart = card->TrIoBase.QuadPart + 4;
    }
    Config->PortFlags = card->PortFlags;
    Config->PortIndex = port->PortIndex;
    Config->RawInterruptLevel = card->RawInterruptLevel;
    Config->RawInterruptVector = card->RawInterruptVector;
    Config->RawInterruptAffinity = card->RawInterruptAffinity;
    Config->TrInterruptLevel = card->TrInterruptLevel;
    Config->TrInterruptVector = card->TrInterruptVector;
    Config->TrInterruptAffinity = card->TrInterruptAffinity;
    return TRUE;
}
