/*
 * power.cpp - power requests. The driver touches no hardware for power: the
 * card device reports states and passes everything to the PCI driver, a
 * port device records its states and completes every request itself. Both
 * kinds of device are power-pageable, so both handlers run at PASSIVE_LEVEL.
 */
#include "qelmf.h"

/* Device state the card asks for in a system state: D0 when working, else D3. */
QEL_PAGED_CODE static DEVICE_POWER_STATE DeviceStateFor(SYSTEM_POWER_STATE SystemState) {
    PAGED_CODE();
    return (LONG)SystemState <= (LONG)PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
}

QEL_PAGED_CODE NTSTATUS CardPower(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                                  PCARD_EXTENSION Card) {
    PAGED_CODE();
    NTSTATUS status;

    /*
     * The power manager hears of every set and queried state, system states
     * included. Wait-wake and power-sequence requests carry no power type or
     * state, so there is nothing to report for them.
     */
    if (Stack->MinorFunction == IRP_MN_SET_POWER || Stack->MinorFunction == IRP_MN_QUERY_POWER) {
        PoSetPowerState(DeviceObject, Stack->Parameters.Power.Type, Stack->Parameters.Power.State);
    }

    if (Card->Header.PnpState == StateNotStarted) {
        PoStartNextPowerIrp(Irp);
        IoSkipCurrentIrpStackLocation(Irp);
        return PoCallDriver(Card->LowerDevice, Irp);
    }

    IncrementIoCount(Card);
    if (Stack->MinorFunction == IRP_MN_SET_POWER &&
        Stack->Parameters.Power.Type == SystemPowerState) {
        /*
         * The device request enters the card's stack at its top and comes
         * through here on its way down; the system request does not wait for
         * it, and a failure to make it does not hold the system request up.
         */
        POWER_STATE deviceState;
        deviceState.DeviceState = DeviceStateFor(Stack->Parameters.Power.State.SystemState);
        PoRequestPowerIrp(Card->LowerDevice, IRP_MN_SET_POWER, deviceState, NULL, NULL, NULL);
    }
    PoStartNextPowerIrp(Irp);
    IoSkipCurrentIrpStackLocation(Irp);
    status = PoCallDriver(Card->LowerDevice, Irp);
    DecrementIoCount(Card);
    return status;
}

QEL_PAGED_CODE NTSTATUS PortPower(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_STACK_LOCATION Stack,
                                  PPORT_EXTENSION Port) {
    PAGED_CODE();

    switch (Stack->MinorFunction) {
    case IRP_MN_SET_POWER:
        if (Stack->Parameters.Power.Type == SystemPowerState) {
            Port->Header.SysPowerState = Stack->Parameters.Power.State.SystemState;
        } else if (Stack->Parameters.Power.Type == DevicePowerState) {
            PoSetPowerState(DeviceObject, DevicePowerState, Stack->Parameters.Power.State);
            Port->Header.DevPowerState = Stack->Parameters.Power.State.DeviceState;
        }
        Irp->IoStatus.Status = STATUS_SUCCESS;
        break;

    case IRP_MN_QUERY_POWER:
        /* A port never refuses a power change. */
        Irp->IoStatus.Status = STATUS_SUCCESS;
        break;

    default:
        /* Wait-wake, power sequence: nothing to do, the status stands. */
        break;
    }

    NTSTATUS status = Irp->IoStatus.Status;
    PoStartNextPowerIrp(Irp);
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}
