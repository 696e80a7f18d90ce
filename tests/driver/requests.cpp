#include "requests.h"

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <memory>

namespace qeltest {

Reply send(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, const StackSetup& setup,
           ULONG_PTR information, NTSTATUS preset) {
    auto& kernel = winsim::kernel::Kernel::current();
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    irp->IoStatus.Status = preset;
    irp->IoStatus.Information = information;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    *next = IO_STACK_LOCATION{};
    next->MajorFunction = major;
    next->MinorFunction = minor;
    if (setup) {
        setup(*next);
    }

    // Signalled once the completion has reached the top and the request is the sender's again.
    auto done = std::make_shared<KEVENT>();
    KeInitializeEvent(done.get(), NotificationEvent, FALSE);
    kernel.irps().setOnTop(irp, [done](PIRP) { KeSetEvent(done.get(), IO_NO_INCREMENT, FALSE); });
    Reply reply;
    reply.returned = major == IRP_MJ_POWER ? PoCallDriver(top, irp) : IoCallDriver(top, irp);
    if (reply.returned == STATUS_PENDING ||
        kernel.irps().state(irp) == winsim::kernel::IrpState::Completed) {
        KeWaitForSingleObject(done.get(), Executive, KernelMode, FALSE, nullptr);
    } else {
        ADD_FAILURE() << "the request came back uncompleted, with " << std::hex << reply.returned;
    }

    reply.status = irp->IoStatus.Status;
    reply.information = irp->IoStatus.Information;
    reply.completions = kernel.irps().completionCount(irp).value_or(0);
    reply.startNextPower = kernel.irps().startNextPowerIrpCount(irp).value_or(0);
    kernel.irps().setOnTop(irp, {});
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    return reply;
}

Reply sendPower(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state,
                NTSTATUS preset) {
    return send(
        device, IRP_MJ_POWER, minor,
        [&](IO_STACK_LOCATION& stack) {
            stack.Parameters.Power.Type = type;
            stack.Parameters.Power.State = state;
        },
        0, preset);
}

POWER_STATE systemState(SYSTEM_POWER_STATE state) {
    POWER_STATE power{};
    power.SystemState = state;
    return power;
}

POWER_STATE deviceState(DEVICE_POWER_STATE state) {
    POWER_STATE power{};
    power.DeviceState = state;
    return power;
}

} // namespace qeltest
