// The device power requests that drivers ask for with PoRequestPowerIrp, as the power manager's
// log shows them: the system power transition waits for them and records them per device.
#pragma once

#include <wdm.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace winsim::kernel {
class PowerManager;
}

namespace winsim::pnp {

struct RequestedPower {
    PDEVICE_OBJECT device = nullptr; // as the driver gave it: the request entered its stack's top
    UCHAR minor = 0;
    DEVICE_POWER_STATE state = PowerDeviceUnspecified;
    NTSTATUS status = STATUS_SUCCESS; // final status, or the refusal of PoRequestPowerIrp
};

// The sequence number of the last entry of the log (0 when empty): a mark to read from.
std::uint64_t powerLogMark(const kernel::PowerManager& power);

// Waits until every request made after `mark` has completed. False when one is still running
// after `limit`.
bool waitForRequestedPower(const kernel::PowerManager& power, std::uint64_t mark,
                           std::chrono::milliseconds limit);

// The requests made after `mark` that have finished (completed, or refused at once), in the order
// in which they finished.
std::vector<RequestedPower> finishedRequestedPower(const kernel::PowerManager& power,
                                                   std::uint64_t mark);

} // namespace winsim::pnp
