// System power transitions over the whole device tree: sleep, hibernate, shutdown and wake. The
// tree is locked for the whole transition, as Windows does, so no Plug and Play operation runs
// beside one.
#include "pnp/manager.h"
#include "pnp/requested_power.h"

#include "kernel/irp_helpers.h"
#include "kernel/kernel.h"

#include <algorithm>

namespace winsim::pnp {

namespace {

bool powered(const Node& node) {
    return node.pdo != nullptr && node.state != NodeState::removed &&
           node.state != NodeState::surpriseRemoved;
}

POWER_ACTION actionFor(SYSTEM_POWER_STATE state) {
    switch (state) {
    case PowerSystemSleeping1:
    case PowerSystemSleeping2:
    case PowerSystemSleeping3:
        return PowerActionSleep;
    case PowerSystemHibernate:
        return PowerActionHibernate;
    case PowerSystemShutdown:
        return PowerActionShutdownOff;
    default:
        return PowerActionNone;
    }
}

std::string requestText(const PowerRequest& request) {
    std::string text =
        powerMinorName(request.minor) + " (" + powerStateName(request.type, request.state);
    if (request.fromDriver) {
        text += ", asked for by a driver";
    }
    return text + ") -> " + statusName(request.status);
}

} // namespace

std::vector<Node*> Manager::poweredNodes(bool childrenFirst) const {
    std::vector<Node*> out;
    std::function<void(Node&)> visit = [&](Node& node) {
        if (!childrenFirst && powered(node)) {
            out.push_back(&node);
        }
        for (auto& child : node.children) {
            visit(*child);
        }
        if (childrenFirst && powered(node)) {
            out.push_back(&node);
        }
    };
    if (root_ != nullptr) {
        visit(*root_);
    }
    return out;
}

Node* Manager::nodeOfDevice(PDEVICE_OBJECT device) const {
    Node* found = nullptr;
    if (root_ != nullptr) {
        forEach(*root_, [&](const Node& node) {
            for (PDEVICE_OBJECT d = node.pdo; d != nullptr && found == nullptr;
                 d = d->AttachedDevice) {
                if (d == device) {
                    found = const_cast<Node*>(&node);
                }
            }
        });
    }
    return found;
}

// One system power request to the top of the device's stack, waited for together with the device
// requests that its drivers (or any driver) asked for meanwhile; every request is recorded on
// the device whose stack it entered.
NTSTATUS Manager::sendSystemPower(Node& node, UCHAR minor, SYSTEM_POWER_STATE state,
                                  POWER_ACTION action) {
    kernel::PowerManager& power = kernel_.power();
    const std::uint64_t mark = powerLogMark(power);
    POWER_STATE requested{};
    requested.SystemState = state;
    const IO_STATUS_BLOCK result =
        kernel::sendPowerSync(node.pdo, minor, SystemPowerState, requested, action);
    const PowerRequest request{minor, SystemPowerState, static_cast<ULONG>(state), result.Status,
                               false, ++powerStep_};
    node.powerRequests.push_back(request);
    emit("power", node.instance, requestText(request));

    if (!waitForRequestedPower(power, mark, kernel_.dispatcher().deadlockLimit())) {
        emit("power-hang", node.instance,
             "A device power request asked for while " + node.instance +
                 " was handling its system request never completed");
    }
    for (const RequestedPower& asked : finishedRequestedPower(power, mark)) {
        Node* target = nodeOfDevice(asked.device);
        if (target == nullptr) {
            continue;
        }
        const PowerRequest device{
            asked.minor, DevicePowerState, static_cast<ULONG>(asked.state), asked.status,
            true,        ++powerStep_};
        target->powerRequests.push_back(device);
        emit("power", target->instance, requestText(device));
    }
    if (minor == IRP_MN_SET_POWER && NT_SUCCESS(result.Status)) {
        node.systemPower = state;
    }
    return result.Status;
}

NTSTATUS Manager::setSystemPower(SYSTEM_POWER_STATE target) {
    const Lock lock(lock_);
    if (crashed_ || !started_ || shutDown_ || root_ == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (target <= PowerSystemUnspecified || target >= PowerSystemMaximum) {
        return STATUS_INVALID_PARAMETER;
    }
    const SYSTEM_POWER_STATE now = systemPower_;
    if (target == PowerSystemWorking && now == PowerSystemWorking) {
        emit("power-state", "", "The machine is working already: nothing to wake");
        return STATUS_SUCCESS;
    }
    if (target != PowerSystemWorking && now != PowerSystemWorking) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    forEach(*root_, [](const Node& node) { const_cast<Node&>(node).powerRequests.clear(); });
    powerStep_ = 0;

    if (target == PowerSystemWorking) {
        emit("power-state", "",
             "Waking from " + systemPowerName(now) + ": set-power to every device, parents first");
        for (Node* node : poweredNodes(false)) {
            sendSystemPower(*node, IRP_MN_SET_POWER, PowerSystemWorking, PowerActionNone);
        }
        systemPower_ = PowerSystemWorking;
        emit("power-state", "", "The machine is working (PowerSystemWorking)");
        return STATUS_SUCCESS;
    }

    const POWER_ACTION action = actionFor(target);
    const std::vector<Node*> order = poweredNodes(true);
    emit("power-state", "",
         "Going to " + systemPowerName(target) + ": query-power to every device, children first");
    std::vector<Node*> queried;
    for (Node* node : order) {
        queried.push_back(node);
        const NTSTATUS status = sendSystemPower(*node, IRP_MN_QUERY_POWER, target, action);
        if (!NT_SUCCESS(status)) {
            emit("power-veto", node->instance,
                 node->instance + " refused " + systemPowerName(target) + ": " +
                     statusName(status));
            for (auto it = queried.rbegin(); it != queried.rend(); ++it) {
                sendSystemPower(**it, IRP_MN_SET_POWER, PowerSystemWorking, PowerActionNone);
            }
            emit("power-state", "", "The machine stays working (PowerSystemWorking)");
            return status;
        }
    }
    emit("power-state", "",
         "Every device agreed: set-power " + systemPowerName(target) + ", children first");
    for (Node* node : order) {
        sendSystemPower(*node, IRP_MN_SET_POWER, target, action);
    }
    systemPower_ = target;
    emit("power-state", "", "The machine is in " + systemPowerName(target));
    return STATUS_SUCCESS;
}

// The states the drivers recorded, from the top of the stack down.
DevicePowerInfo Manager::powerOf(const Node& node) const {
    DevicePowerInfo info;
    info.system = node.systemPower;
    info.requests = node.powerRequests;
    std::vector<PDEVICE_OBJECT> stack;
    for (PDEVICE_OBJECT d = node.pdo; d != nullptr; d = d->AttachedDevice) {
        stack.push_back(d);
    }
    bool system = false;
    bool device = false;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const auto recorded = kernel_.power().state(*it);
        if (!recorded) {
            continue;
        }
        if (!system && recorded->system != PowerSystemUnspecified) {
            info.system = recorded->system;
            system = true;
        }
        if (!device && recorded->device != PowerDeviceUnspecified) {
            info.device = recorded->device;
            device = true;
        }
    }
    return info;
}

} // namespace winsim::pnp
