// What the user-mode side needs of the Plug and Play manager: the devices of the running tree
// and the re-enumeration of one of them. The machine installs an adapter over its PnpManager
// (pnp_device_tree.h); tests may install a small tree of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim::user {

struct DeviceNode {
    std::string instance;              // "PCI\\VEN_...\\..."
    std::optional<std::string> parent; // nullopt for the root
    bool present = true;               // false once the device has been removed
    // What the bus driver reported; used when the device's instance key lacks the value.
    std::string description;
    std::string location;
    std::string service;
    std::vector<std::string> hardware_ids;
    std::vector<std::string> compatible_ids;
};

class DeviceTree {
  public:
    virtual ~DeviceTree() = default;
    // Tree order: parents before children.
    virtual std::vector<DeviceNode> devices() const = 0;
    // Sends the device a bus-relations query; the NTSTATUS of the request.
    virtual std::int32_t reenumerate(const std::string& instance) = 0;
};

} // namespace winsim::user
