// The device's keys in the registry: its instance key under Enum, with what the bus reported and,
// the first time the device is seen, what its installation adds (service, setup class, driver key
// under Control\Class).
#pragma once

#include "pnp/driver_database.h"

#include <wdm.h>

#include <optional>
#include <string>
#include <vector>

namespace winsim::reg {
class Registry;
}

namespace winsim::pnp {

inline constexpr const char* enumRoot = "SYSTEM\\CurrentControlSet\\Enum\\";
inline constexpr const char* classRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
inline constexpr const char* servicesRoot = "SYSTEM\\CurrentControlSet\\Services\\";

// What the bus driver reported about a device.
struct ReportedDevice {
    std::string instance; // instance path
    std::vector<std::string> hardwareIds;
    std::vector<std::string> compatibleIds;
    std::string description;             // "" when not answered
    std::optional<std::string> location; // nothing when not answered
    std::optional<DEVICE_CAPABILITIES> capabilities;
};

// What the device runs with.
struct Installation {
    std::string service;
    std::string className;
    std::string classGuid;
    std::string driverKey; // "{class guid}\NNNN"
    bool fresh = false;    // installed just now
};

// The value "Capabilities" holds: one bit per capability flag, as Windows packs them.
std::uint32_t capabilityBits(const DEVICE_CAPABILITIES& caps);

// Writes the reported values into the instance key and, on first sight, installs the device from
// the database. Nothing when no package matches (the device then has no driver).
std::optional<Installation> recordDevice(reg::Registry& registry, const DriverDatabase& database,
                                         const ReportedDevice& device);

// Records the prefix given to a device's children in its instance key ("ParentIdPrefix").
void recordParentIdPrefix(reg::Registry& registry, const std::string& instance,
                          const std::string& prefix);

} // namespace winsim::pnp
