// What a system power transition did, device by device: the power requests each device received
// and the states its drivers recorded.
#pragma once

#include "pnp/pnp_manager.h"

#include <ostream>
#include <vector>

namespace qelsim {

// The tree, one device a line with its recorded system and device states, each followed by the
// requests it received, numbered in the order in which the machine sent them.
void printPowerReport(std::ostream& out, const std::vector<winsim::pnp::DeviceInfo>& devices);

} // namespace qelsim
