// Sends requests to a device stack the way the system does, and waits for their completion.
#pragma once

#include <wdm.h>

#include <functional>

namespace qeltest {

struct Reply {
    NTSTATUS returned = 0; // what the first dispatch routine returned
    NTSTATUS status = 0;   // the request's final IoStatus.Status
    ULONG_PTR information = 0;
    unsigned completions = 0;    // IoCompleteRequest calls on it
    unsigned startNextPower = 0; // PoStartNextPowerIrp calls on it
};

using StackSetup = std::function<void(IO_STACK_LOCATION&)>;

// A request of the given major and minor function sent to the top of the device's stack, with
// IoStatus preset (Plug and Play requests come with STATUS_NOT_SUPPORTED).
Reply send(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, const StackSetup& setup = {},
           ULONG_PTR information = 0, NTSTATUS preset = STATUS_NOT_SUPPORTED);

inline Reply sendPnp(PDEVICE_OBJECT device, UCHAR minor, const StackSetup& setup = {},
                     ULONG_PTR information = 0, NTSTATUS preset = STATUS_NOT_SUPPORTED) {
    return send(device, IRP_MJ_PNP, minor, setup, information, preset);
}

Reply sendPower(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state,
                NTSTATUS preset = STATUS_SUCCESS);

POWER_STATE systemState(SYSTEM_POWER_STATE state);
POWER_STATE deviceState(DEVICE_POWER_STATE state);

} // namespace qeltest
