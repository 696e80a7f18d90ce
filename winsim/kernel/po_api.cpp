// The power manager's routines of <wdm.h>.
#include "kernel/kernel.h"

using winsim::kernel::Check;
using winsim::kernel::Kernel;
namespace fault_call = winsim::kernel::fault_call;

extern "C" {

POWER_STATE NTAPI PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type,
                                  POWER_STATE State) {
    return Kernel::current().power().setPowerState(DeviceObject, Type, State);
}

VOID NTAPI PoStartNextPowerIrp(PIRP Irp) {
    Kernel& k = Kernel::current();
    if (!k.irps().isLive(Irp)) {
        k.verifier().report(Check::UnknownObject, "PoStartNextPowerIrp with no live IRP");
        return;
    }
    k.power().startNextPowerIrp(Irp);
}

NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    return Kernel::current().power().callDriver(DeviceObject, Irp);
}

NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                 POWER_STATE PowerState, PREQUEST_POWER_COMPLETE CompletionFunction,
                                 PVOID Context, PIRP* Irp) {
    Kernel& k = Kernel::current();
    if (const auto failure = k.faults().shouldFail(fault_call::PoRequestPowerIrp)) {
        k.power().noteRequestFailed(DeviceObject, MinorFunction, PowerState, *failure);
        return *failure;
    }
    return k.power().requestPowerIrp(DeviceObject, MinorFunction, PowerState, CompletionFunction,
                                     Context, Irp);
}

} // extern "C"
