#include "kernel/irp_helpers.h"

#include "kernel/kernel.h"

#include <memory>

namespace winsim::kernel {

namespace {

PIRP buildFor(PDEVICE_OBJECT device, UCHAR major, UCHAR minor) {
    Kernel& k = Kernel::current();
    PDEVICE_OBJECT top = k.objects().top(device);
    if (top == nullptr) {
        k.verifier().report(Check::UnknownObject, "a request built for an unknown device object");
        return nullptr;
    }
    PIRP irp = k.irps().allocate(top->StackSize);
    if (irp == nullptr) {
        return nullptr;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION first = k.irps().next(irp);
    first->MajorFunction = major;
    first->MinorFunction = minor;
    return irp;
}

} // namespace

PIRP buildPnpIrp(PDEVICE_OBJECT device, UCHAR minor) {
    return buildFor(device, IRP_MJ_PNP, minor);
}

PIRP buildPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state,
                   POWER_ACTION action) {
    PIRP irp = buildFor(device, IRP_MJ_POWER, minor);
    if (irp != nullptr && (minor == IRP_MN_SET_POWER || minor == IRP_MN_QUERY_POWER)) {
        PIO_STACK_LOCATION first = irp->Tail.Overlay.CurrentStackLocation - 1;
        first->Parameters.Power.Type = type;
        first->Parameters.Power.State = state;
        first->Parameters.Power.ShutdownType = action;
    }
    return irp;
}

IO_STATUS_BLOCK sendIrpSync(PDEVICE_OBJECT device, PIRP irp) {
    Kernel& k = Kernel::current();
    IO_STATUS_BLOCK result{};
    if (irp == nullptr) {
        result.Status = STATUS_INSUFFICIENT_RESOURCES;
        return result;
    }
    PDEVICE_OBJECT top = k.objects().attachedReference(device);
    if (top == nullptr) {
        result.Status = STATUS_NO_SUCH_DEVICE;
        return result;
    }
    // Shared with the completion, which may still hold it after a faulty driver's late completion.
    auto done = std::make_shared<KEVENT>();
    k.dispatcher().initEvent(done.get(), NotificationEvent, false);
    k.irps().setOnTop(irp, [done](PIRP) { Kernel::current().dispatcher().setEvent(done.get()); });

    const bool power = irp->CurrentLocation > 1 &&
                       (irp->Tail.Overlay.CurrentStackLocation - 1)->MajorFunction == IRP_MJ_POWER;
    const NTSTATUS status = power ? k.power().callDriver(top, irp) : k.irps().call(top, irp);
    if (status == STATUS_PENDING) {
        k.dispatcher().wait(done.get(), nullptr);
    } else if (k.irps().state(irp) != IrpState::Completed) {
        k.verifier().report(Check::IrpNotCompleted,
                            "a request came back with a status other than STATUS_PENDING, but "
                            "was not completed");
    }
    result = irp->IoStatus;
    k.irps().setOnTop(irp, {});
    k.objects().dereference(top);
    return result;
}

IO_STATUS_BLOCK sendPnpSync(PDEVICE_OBJECT device, UCHAR minor,
                            const std::function<void(PIRP, PIO_STACK_LOCATION)>& setup) {
    PIRP irp = buildPnpIrp(device, minor);
    if (irp == nullptr) {
        IO_STATUS_BLOCK failed{};
        failed.Status = STATUS_INSUFFICIENT_RESOURCES;
        return failed;
    }
    if (setup) {
        setup(irp, irp->Tail.Overlay.CurrentStackLocation - 1);
    }
    const IO_STATUS_BLOCK result = sendIrpSync(device, irp);
    IoFreeIrp(irp);
    return result;
}

IO_STATUS_BLOCK sendPowerSync(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE_TYPE type,
                              POWER_STATE state, POWER_ACTION action) {
    PIRP irp = buildPowerIrp(device, minor, type, state, action);
    if (irp == nullptr) {
        IO_STATUS_BLOCK failed{};
        failed.Status = STATUS_INSUFFICIENT_RESOURCES;
        return failed;
    }
    const IO_STATUS_BLOCK result = sendIrpSync(device, irp);
    IoFreeIrp(irp);
    return result;
}

} // namespace winsim::kernel
