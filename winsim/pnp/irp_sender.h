// Sending one Plug and Play request to the top of a device's stack and waiting for its answer,
// as the Plug and Play manager does: IoStatus.Status preset to STATUS_NOT_SUPPORTED, so that a
// request nobody handles comes back with it.
#pragma once

#include <wdm.h>

#include <functional>
#include <string>

namespace winsim::pnp {

struct PnpReply {
    NTSTATUS status = STATUS_NOT_SUPPORTED;
    ULONG_PTR information = 0;
};

// Sends IRP_MJ_PNP / minor to the top of the stack that pdo is the bottom of. fill sets the
// request's parameters in its first stack location.
PnpReply sendPnp(PDEVICE_OBJECT pdo, UCHAR minor,
                 const std::function<void(IO_STACK_LOCATION&)>& fill = {});

// "IRP_MN_START_DEVICE" and the like.
std::string minorName(UCHAR minor);

} // namespace winsim::pnp
