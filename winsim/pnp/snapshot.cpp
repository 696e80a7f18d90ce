// DeviceInfo: a snapshot of a device node for tools and tests.
#include "pnp/manager.h"

#include "kernel/kernel.h"
#include "qelser/qelser.h"

#include <qelmf.h>

namespace winsim::pnp {

namespace {

std::map<std::string, uint64_t> configFields(const PORT_CONFIG& c) {
    return {
        {"LocationCode", c.LocationCode},
        {"RawPortBase", static_cast<uint64_t>(c.RawPortBase.QuadPart)},
        {"TrPortBase", static_cast<uint64_t>(c.TrPortBase.QuadPart)},
        {"RawSharedRegister", static_cast<uint64_t>(c.RawSharedRegister.QuadPart)},
        {"TrSharedRegister", static_cast<uint64_t>(c.TrSharedRegister.QuadPart)},
        {"PortFlags", c.PortFlags},
        {"PortIndex", c.PortIndex},
        {"Reserved1", c.Reserved1},
        {"RawInterruptLevel", c.RawInterruptLevel},
        {"RawInterruptVector", c.RawInterruptVector},
        {"RawInterruptAffinity", c.RawInterruptAffinity},
        {"Reserved2", c.Reserved2},
        {"TrInterruptLevel", c.TrInterruptLevel},
        {"TrInterruptVector", c.TrInterruptVector},
        {"TrInterruptAffinity", c.TrInterruptAffinity},
        {"Reserved3", c.Reserved3},
    };
}

} // namespace

const char* stateName(NodeState state) {
    switch (state) {
    case NodeState::notStarted:
        return "not-started";
    case NodeState::started:
        return "started";
    case NodeState::stopPending:
        return "stop-pending";
    case NodeState::stopped:
        return "stopped";
    case NodeState::removePending:
        return "remove-pending";
    case NodeState::surpriseRemoved:
        return "surprise-removed";
    case NodeState::removed:
        return "removed";
    case NodeState::failed:
        return "failed";
    }
    return "unknown";
}

// The device object of the service's driver in the node's stack, from the bottom up.
PDEVICE_OBJECT Manager::deviceOfDriver(const Node& node, const std::string& service) const {
    PDRIVER_OBJECT driver = kernel_.driver(service);
    if (driver == nullptr) {
        return nullptr;
    }
    for (PDEVICE_OBJECT device = node.pdo; device != nullptr; device = device->AttachedDevice) {
        if (device->DriverObject == driver) {
            return device;
        }
    }
    return nullptr;
}

DeviceInfo Manager::snapshot(const Node& node) const {
    DeviceInfo info;
    info.instance = node.instance;
    if (node.parent != nullptr) {
        info.parent = node.parent->instance;
    }
    info.service = node.installation ? node.installation->service : "";
    info.state = stateName(node.state);
    info.status = node.status;
    info.deviceId = node.deviceId;
    info.instanceId = node.instanceId;
    info.description = node.description;
    info.location = node.location.value_or("");
    info.hardwareIds = node.hardwareIds;
    info.compatibleIds = node.compatibleIds;
    info.capabilities = node.capabilities;
    info.busInformation = node.busInformation;
    for (const auto& child : node.children) {
        info.childInstances.push_back(child->instance);
    }
    // A port device of the card: its extension counts the interface references.
    if (PDEVICE_OBJECT port = deviceOfDriver(node, "qelmf"); port == node.pdo) {
        const auto* header = static_cast<const EXTENSION_HEADER*>(port->DeviceExtension);
        if (!header->IsFdo) {
            const auto* ext = static_cast<const PORT_EXTENSION*>(port->DeviceExtension);
            info.interfaceRefs = __atomic_load_n(&ext->InterfaceRefs, __ATOMIC_SEQ_CST);
        }
    }
    if (PDEVICE_OBJECT fdo = deviceOfDriver(node, "qelser")) {
        if (const auto view = qelser::inspect(fdo); view && view->config) {
            info.portConfig = configFields(*view->config);
        }
    }
    info.power = powerOf(node);
    return info;
}

std::vector<DeviceInfo> Manager::devices() const {
    const Lock lock(lock_);
    std::vector<DeviceInfo> out;
    if (root_ != nullptr) {
        forEach(*root_, [&](const Node& node) { out.push_back(snapshot(node)); });
    }
    return out;
}

std::optional<DeviceInfo> Manager::device(const std::string& instance) const {
    const Lock lock(lock_);
    const Node* node = find(instance);
    if (node == nullptr) {
        return std::nullopt;
    }
    return snapshot(*node);
}

} // namespace winsim::pnp
