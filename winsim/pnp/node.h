// A device node: one device the Plug and Play manager knows, with what its bus driver reported
// and where it stands in its life.
#pragma once

#include "pnp/installer.h"
#include "pnp/pnp_manager.h"
#include "pnp/resources.h"

#include <wdm.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim::pnp {

enum class NodeState {
    notStarted,
    started,
    stopPending,
    stopped,
    removePending,
    surpriseRemoved,
    removed,
    failed,
};

// "started", "stop-pending", ...
const char* stateName(NodeState state);

struct Node {
    std::string instance; // device instance path
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;

    PDEVICE_OBJECT pdo = nullptr; // one reference is held while the node lives
    bool reported = true;         // in the parent's last bus-relations answer

    // What the bus driver answered.
    std::string deviceId, instanceId, description;
    std::optional<std::string> location;
    std::vector<std::string> hardwareIds, compatibleIds;
    std::optional<DEVICE_CAPABILITIES> capabilities;
    std::optional<PNP_BUS_INFORMATION> busInformation;
    std::optional<ResourceList> bootResources; // IRP_MN_QUERY_RESOURCES

    std::optional<Installation> installation; // nothing: no driver for it
    bool stackBuilt = false;      // the function driver's AddDevice ran and no removal followed
    ResourceList raw, translated; // given with the last start request
    NodeState state = NodeState::notStarted;
    NTSTATUS status = STATUS_SUCCESS; // of the last start

    // Power: the system state of the last system set-power the device completed, and the
    // requests it received during the last system power transition.
    SYSTEM_POWER_STATE systemPower = PowerSystemWorking;
    std::vector<PowerRequest> powerRequests;
};

} // namespace winsim::pnp
