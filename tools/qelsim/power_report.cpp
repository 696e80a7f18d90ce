#include "power_report.h"

#include <iomanip>
#include <map>

namespace qelsim {

namespace {

using winsim::pnp::DeviceInfo;

std::size_t depthOf(const DeviceInfo& device, const std::map<std::string, const DeviceInfo*>& all) {
    std::size_t depth = 0;
    for (const DeviceInfo* at = &device; at->parent && depth < all.size(); ++depth) {
        const auto parent = all.find(*at->parent);
        if (parent == all.end()) {
            break;
        }
        at = parent->second;
    }
    return depth;
}

} // namespace

void printPowerReport(std::ostream& out, const std::vector<DeviceInfo>& devices) {
    std::map<std::string, const DeviceInfo*> byInstance;
    for (const auto& device : devices) {
        byInstance[device.instance] = &device;
    }
    for (const auto& device : devices) {
        const std::string indent(2 * depthOf(device, byInstance), ' ');
        out << indent << device.instance << ": system "
            << winsim::pnp::systemPowerName(device.power.system) << ", device "
            << winsim::pnp::devicePowerName(device.power.device) << "\n";
        for (const auto& request : device.power.requests) {
            out << indent << "  " << std::setw(3) << request.step << ". " << std::left
                << std::setw(19) << winsim::pnp::powerMinorName(request.minor) << std::setw(23)
                << winsim::pnp::powerStateName(request.type, request.state) << std::right
                << winsim::pnp::statusName(request.status)
                << (request.fromDriver ? "  (asked for by a driver)" : "") << "\n";
        }
    }
}

} // namespace qelsim
