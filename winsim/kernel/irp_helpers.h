// Requests as the Plug and Play manager and tests send them: built for the top of a device's
// stack and sent synchronously (a request that pends is waited for).
#pragma once

#include "wdm.h"

#include <functional>

namespace winsim::kernel {

// A request with as many stack locations as the stack on top of `device` needs, its first stack
// location set to IRP_MJ_PNP and the minor function, and IoStatus.Status = STATUS_NOT_SUPPORTED,
// as Windows presets Plug and Play requests. Free it with IoFreeIrp.
PIRP buildPnpIrp(PDEVICE_OBJECT device, UCHAR minor);
// The same for IRP_MJ_POWER (IoStatus.Status = STATUS_NOT_SUPPORTED too); for set-power and
// query-power requests the type, state and shutdown action are filled in.
PIRP buildPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state,
                   POWER_ACTION action = PowerActionNone);

// Sends the request to the top of `device`'s stack (IoGetAttachedDeviceReference), waits for it
// if it pends, and returns its final IoStatus. The request is not freed. A request that comes
// back without STATUS_PENDING and yet was not completed is an IrpNotCompleted violation.
IO_STATUS_BLOCK sendIrpSync(PDEVICE_OBJECT device, PIRP irp);

// Build, send and free in one: `setup` may fill in the first stack location's parameters (and
// the request's IoStatus, e.g. a relations list that a filter above should see).
IO_STATUS_BLOCK sendPnpSync(PDEVICE_OBJECT device, UCHAR minor,
                            const std::function<void(PIRP, PIO_STACK_LOCATION)>& setup = {});
IO_STATUS_BLOCK sendPowerSync(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE_TYPE type,
                              POWER_STATE state, POWER_ACTION action = PowerActionNone);

} // namespace winsim::kernel
