// Device instance paths: "<enumerator>\<device>\<instance ID>", and the parent prefix that
// Plug and Play puts before the instance ID of a child whose bus cannot vouch for its uniqueness.
#pragma once

#include <optional>
#include <string>

namespace winsim::pnp {

// The prefix for the children of the device at parentInstance: "3&<8 hex digits>&0", the
// digits derived from the parent's path (without regard to case).
std::string parentIdPrefix(const std::string& parentInstance);

// The child's instance path, or nothing when the IDs cannot form one (a device ID that is not
// "ENUM\DEVICE", an empty instance ID, or a backslash in it). With uniqueId clear the parent's
// prefix goes before the instance ID.
std::optional<std::string> makeInstancePath(const std::string& deviceId,
                                            const std::string& instanceId, bool uniqueId,
                                            const std::string& parentInstance);

// Paths are compared without regard to case.
bool samePath(const std::string& a, const std::string& b);

} // namespace winsim::pnp
