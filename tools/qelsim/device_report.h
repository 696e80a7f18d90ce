// The device tree as `devices` shows it: JSON for programs, a tree with the ports' resources for
// people.
#pragma once

#include "pnp/pnp_manager.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace qelsim {

// "{5F28B317-42AF-404D-92A2-09E3153AB862}".
std::string guidText(const GUID& guid);

// One device as an element of the "devices" list.
nlohmann::ordered_json deviceJson(const winsim::pnp::DeviceInfo& device);
// {"devices": [...]} in tree order.
nlohmann::ordered_json devicesJson(const std::vector<winsim::pnp::DeviceInfo>& devices);

// The tree, one device a line with its state, service and start status, each port device
// followed by its register block, shared register and interrupt.
void printDeviceTree(std::ostream& out, const std::vector<winsim::pnp::DeviceInfo>& devices);

// "registers 0x0310-0x0317, shared register 0x0304, interrupt level 5 vector 5": what the port
// driver received, from a port device's PORT_CONFIG fields.
std::string portResourcesText(const std::map<std::string, uint64_t>& portConfig);

} // namespace qelsim
