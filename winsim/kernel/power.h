// The power manager's primitives: PoSetPowerState (the last system and device state per device
// object), PoStartNextPowerIrp, PoCallDriver and PoRequestPowerIrp, with an ordered log of every
// call that tests and the machine can read.
//
// PoRequestPowerIrp builds an IRP_MJ_POWER request and sends it to the top of the given device's
// stack on a kernel worker thread; when it completes, the completion function (if any) is called
// with the final status, and the request is freed. It returns STATUS_PENDING, as Windows does.
#pragma once

#include "wdm.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace winsim::kernel {

class ObjectManager;
class IrpManager;
class WorkQueue;
struct DevicePower;

enum class PowerCallKind {
    SetPowerState,     // device, type, state (the new one)
    StartNextPowerIrp, // device (the current location's), irp
    CallDriver,        // device (the target), irp, minor, type, state
    RequestPowerIrp,   // device (as given), minor, state, status (of the call)
    RequestCompleted,  // device (as given), minor, state, status (the request's final one)
};

struct PowerCall {
    std::uint64_t sequence = 0;
    PowerCallKind kind = PowerCallKind::SetPowerState;
    PDEVICE_OBJECT device = nullptr;
    PIRP irp = nullptr;
    UCHAR minor = 0;
    POWER_STATE_TYPE type = SystemPowerState;
    POWER_STATE state{};
    NTSTATUS status = 0;
};

class PowerManager {
  public:
    PowerManager(ObjectManager& objects, IrpManager& irps, WorkQueue& work);

    POWER_STATE setPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type, POWER_STATE state);
    void startNextPowerIrp(PIRP irp);
    NTSTATUS callDriver(PDEVICE_OBJECT device, PIRP irp);
    // After the failure-injection check: builds and queues the request.
    NTSTATUS requestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                             PREQUEST_POWER_COMPLETE completion, PVOID context, PIRP* irp);
    void noteRequestFailed(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state, NTSTATUS status);

    std::vector<PowerCall> log() const;
    std::vector<PowerCall> logOf(PDEVICE_OBJECT device) const;
    void clearLog();
    // The last states PoSetPowerState recorded (Unspecified until then); nullopt for a device
    // object no longer in memory.
    std::optional<DevicePower> state(PDEVICE_OBJECT device) const;

  private:
    void append(PowerCall call);

    ObjectManager& objects_;
    IrpManager& irps_;
    WorkQueue& work_;
    mutable std::mutex lock_;
    std::vector<PowerCall> log_;
    std::uint64_t sequence_ = 0;
};

} // namespace winsim::kernel
