#include "kernel/power.h"

#include "kernel/irps.h"
#include "kernel/objects.h"
#include "kernel/work_queue.h"

namespace winsim::kernel {

PowerManager::PowerManager(ObjectManager& objects, IrpManager& irps, WorkQueue& work)
    : objects_(objects), irps_(irps), work_(work) {}

void PowerManager::append(PowerCall call) {
    const std::lock_guard guard(lock_);
    call.sequence = ++sequence_;
    log_.push_back(call);
}

POWER_STATE PowerManager::setPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type,
                                        POWER_STATE state) {
    POWER_STATE old{};
    objects_.withPower(device, [&](DevicePower& p) {
        if (type == SystemPowerState) {
            old.SystemState = p.system;
            p.system = state.SystemState;
        } else {
            old.DeviceState = p.device;
            p.device = state.DeviceState;
        }
    });
    PowerCall call;
    call.kind = PowerCallKind::SetPowerState;
    call.device = device;
    call.type = type;
    call.state = state;
    append(call);
    return old;
}

void PowerManager::startNextPowerIrp(PIRP irp) {
    irps_.noteStartNextPowerIrp(irp);
    PowerCall call;
    call.kind = PowerCallKind::StartNextPowerIrp;
    call.irp = irp;
    if (irp->CurrentLocation >= 1 && irp->CurrentLocation <= irp->StackCount) {
        call.device = irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
    }
    append(call);
}

NTSTATUS PowerManager::callDriver(PDEVICE_OBJECT device, PIRP irp) {
    PowerCall call;
    call.kind = PowerCallKind::CallDriver;
    call.device = device;
    call.irp = irp;
    if (irp->CurrentLocation > 1) {
        const IO_STACK_LOCATION& next = *(irp->Tail.Overlay.CurrentStackLocation - 1);
        call.minor = next.MinorFunction;
        call.type = next.Parameters.Power.Type;
        call.state = next.Parameters.Power.State;
    }
    append(call);
    return irps_.call(device, irp);
}

namespace {

// The log entry of a device power request that a driver asked for.
PowerCall requestCall(PowerCallKind kind, PDEVICE_OBJECT device, PIRP irp, UCHAR minor,
                      POWER_STATE state, NTSTATUS status) {
    PowerCall call;
    call.kind = kind;
    call.device = device;
    call.irp = irp;
    call.minor = minor;
    call.type = DevicePowerState;
    call.state = state;
    call.status = status;
    return call;
}

} // namespace

void PowerManager::noteRequestFailed(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                     NTSTATUS status) {
    append(requestCall(PowerCallKind::RequestPowerIrp, device, nullptr, minor, state, status));
}

NTSTATUS PowerManager::requestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                       PREQUEST_POWER_COMPLETE completion, PVOID context,
                                       PIRP* irpOut) {
    if (minor != IRP_MN_SET_POWER && minor != IRP_MN_QUERY_POWER && minor != IRP_MN_WAIT_WAKE) {
        noteRequestFailed(device, minor, state, STATUS_INVALID_PARAMETER);
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT top = objects_.attachedReference(device);
    if (top == nullptr) {
        noteRequestFailed(device, minor, state, STATUS_INVALID_PARAMETER);
        return STATUS_INVALID_PARAMETER;
    }
    PIRP irp = irps_.allocate(top->StackSize);
    if (irp == nullptr) {
        objects_.dereference(top);
        noteRequestFailed(device, minor, state, STATUS_INSUFFICIENT_RESOURCES);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // Power requests start out "not supported", as the power manager sends them.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = irps_.next(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = minor;
    if (minor == IRP_MN_WAIT_WAKE) {
        next->Parameters.WaitWake.PowerState = state.SystemState;
    } else {
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State = state;
        next->Parameters.Power.ShutdownType = PowerActionNone;
    }
    irps_.setOnTop(irp, [this, device, minor, state, completion, context, top](PIRP done) {
        append(requestCall(PowerCallKind::RequestCompleted, device, done, minor, state,
                           done->IoStatus.Status));
        if (completion != nullptr) {
            IO_STATUS_BLOCK status = done->IoStatus;
            completion(device, minor, state, context, &status);
        }
        objects_.dereference(top);
    });
    irps_.setIoManagerOwned(irp);

    append(requestCall(PowerCallKind::RequestPowerIrp, device, irp, minor, state, STATUS_PENDING));

    if (irpOut != nullptr) {
        *irpOut = irp;
    }
    work_.post([this, top, irp] { callDriver(top, irp); });
    return STATUS_PENDING;
}

std::vector<PowerCall> PowerManager::log() const {
    const std::lock_guard guard(lock_);
    return log_;
}

std::vector<PowerCall> PowerManager::logOf(PDEVICE_OBJECT device) const {
    const std::lock_guard guard(lock_);
    std::vector<PowerCall> out;
    for (const auto& c : log_) {
        if (c.device == device) {
            out.push_back(c);
        }
    }
    return out;
}

void PowerManager::clearLog() {
    const std::lock_guard guard(lock_);
    log_.clear();
}

std::optional<DevicePower> PowerManager::state(PDEVICE_OBJECT device) const {
    std::optional<DevicePower> out;
    objects_.withPower(device, [&](DevicePower& p) { out = p; });
    return out;
}

} // namespace winsim::kernel
