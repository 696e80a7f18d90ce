#include "pnp/requested_power.h"

#include "kernel/power.h"

#include <algorithm>
#include <thread>
#include <unordered_set>

namespace winsim::pnp {

namespace {

using kernel::PowerCall;
using kernel::PowerCallKind;

// Requests made after the mark that have not completed yet.
std::size_t running(const std::vector<PowerCall>& log, std::uint64_t mark) {
    std::unordered_set<PIRP> started;
    for (const PowerCall& call : log) {
        if (call.sequence <= mark) {
            continue;
        }
        if (call.kind == PowerCallKind::RequestPowerIrp && call.status == STATUS_PENDING) {
            started.insert(call.irp);
        } else if (call.kind == PowerCallKind::RequestCompleted) {
            started.erase(call.irp);
        }
    }
    return started.size();
}

} // namespace

std::uint64_t powerLogMark(const kernel::PowerManager& power) {
    const auto log = power.log();
    return log.empty() ? 0 : log.back().sequence;
}

bool waitForRequestedPower(const kernel::PowerManager& power, std::uint64_t mark,
                           std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running(power.log(), mark) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<RequestedPower> finishedRequestedPower(const kernel::PowerManager& power,
                                                   std::uint64_t mark) {
    std::vector<RequestedPower> out;
    for (const PowerCall& call : power.log()) {
        const bool refused =
            call.kind == PowerCallKind::RequestPowerIrp && call.status != STATUS_PENDING;
        if (call.sequence <= mark || (call.kind != PowerCallKind::RequestCompleted && !refused)) {
            continue;
        }
        out.push_back({call.device, call.minor, call.state.DeviceState, call.status});
    }
    return out;
}

} // namespace winsim::pnp
