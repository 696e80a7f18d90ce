#include "user/pnp_device_tree.h"

#include "pnp/pnp_manager.h"

namespace winsim::user {

std::vector<DeviceNode> PnpDeviceTree::devices() const {
    std::vector<DeviceNode> out;
    for (const auto& info : manager_.devices()) {
        DeviceNode node;
        node.instance = info.instance;
        node.parent = info.parent;
        node.present = info.state != "removed" && info.state != "surprise-removed";
        node.description = info.description;
        node.location = info.location;
        node.service = info.service;
        node.hardware_ids = info.hardwareIds;
        node.compatible_ids = info.compatibleIds;
        out.push_back(std::move(node));
    }
    return out;
}

std::int32_t PnpDeviceTree::reenumerate(const std::string& instance) {
    return manager_.reenumerate(instance);
}

} // namespace winsim::user
