// The life of a device: its driver loaded and AddDevice called, the start request with its
// resources, the stop and removal requests (children first), and drivers unloaded when their
// last device object is gone from memory.
#include "pnp/manager.h"

#include "kernel/kernel.h"
#include "kernel/wide.h"
#include "pci/pci_bus.h"

#include <algorithm>

namespace winsim::pnp {

namespace {

bool active(const Node& node) {
    return node.state != NodeState::removed && node.state != NodeState::surpriseRemoved;
}

} // namespace

PDRIVER_OBJECT Manager::loadDriver(const std::string& service) {
    if (PDRIVER_OBJECT loaded = kernel_.driver(service)) {
        return loaded;
    }
    const auto entry = entries_.find(kernel::upcase(service));
    if (entry == entries_.end()) {
        emit("driver-missing", "", "No driver image for the service \"" + service + "\"");
        return nullptr;
    }
    PDRIVER_OBJECT driver = nullptr;
    const NTSTATUS status = kernel_.loadDriver(service, entry->second, &driver);
    if (!NT_SUCCESS(status)) {
        emit("driver-failed", "",
             "DriverEntry of \"" + service + "\" failed with " + statusName(status));
        return nullptr;
    }
    loadedServices_.push_back(service);
    emit("driver-loaded", "", "Driver \"" + service + "\" loaded (\\Driver\\" + service + ")");
    return driver;
}

void Manager::unloadUnusedDrivers() {
    for (auto it = loadedServices_.begin(); it != loadedServices_.end();) {
        PDRIVER_OBJECT driver = kernel_.driver(*it);
        if (driver == nullptr) {
            it = loadedServices_.erase(it);
            continue;
        }
        // As Windows does, a driver stays loaded while any of its device objects is still in
        // memory: one that is deleted but still referenced (by a request on its way out of the
        // driver, for instance) holds the unload back until a later look.
        auto& objects = kernel_.objects();
        if (driver->DeviceObject != nullptr ||
            !objects.devicesOf(objects.driverRecord(driver)).empty()) {
            ++it;
            continue;
        }
        const std::string service = *it;
        it = loadedServices_.erase(it);
        kernel_.unloadDriver(driver);
        emit("driver-unloaded", "", "Driver \"" + service + "\" unloaded: its last device is gone");
    }
}

void Manager::bringUp(Node& node) {
    if (!node.installation) {
        return;
    }
    PDRIVER_OBJECT driver = loadDriver(node.installation->service);
    if (driver == nullptr) {
        node.state = NodeState::failed;
        node.status = STATUS_UNSUCCESSFUL;
        return;
    }
    const NTSTATUS status = kernel_.addDevice(driver, node.pdo);
    emit("add-device", node.instance,
         "AddDevice of \"" + node.installation->service + "\" for " + node.instance + " -> " +
             statusName(status));
    if (!NT_SUCCESS(status)) {
        node.state = NodeState::failed;
        node.status = status;
        unloadUnusedDrivers();
        return;
    }
    node.stackBuilt = true;
    startStack(node);
}

NTSTATUS Manager::startStack(Node& node) {
    node.raw = node.bootResources.value_or(ResourceList{});
    const auto slot = pci::slotOfDevice(node.pdo);
    node.translated = translate(node.raw, slot && slot->card.translatedPortAsMemory);
    const PnpReply reply = send(node, IRP_MN_START_DEVICE, "", [&](IO_STACK_LOCATION& s) {
        s.Parameters.StartDevice.AllocatedResources = node.raw.get();
        s.Parameters.StartDevice.AllocatedResourcesTranslated = node.translated.get();
    });
    node.status = reply.status;
    if (!NT_SUCCESS(reply.status)) {
        node.state = NodeState::failed;
        emit("start-failed", node.instance,
             node.instance + " did not start: " + statusName(reply.status));
        // As Windows does after a failed start, the stack is torn down again.
        send(node, IRP_MN_REMOVE_DEVICE, "after the failed start");
        kernel_.interfaces().disableAllOf(node.pdo);
        node.stackBuilt = false;
        dropChildren(node);
        unloadUnusedDrivers();
        return reply.status;
    }
    node.state = NodeState::started;
    emit("start", node.instance,
         node.instance + " started with " + describe(node.raw) + " (translated " +
             describe(node.translated) + ")");

    DEVICE_CAPABILITIES caps = freshCapabilities();
    if (NT_SUCCESS(send(node, IRP_MN_QUERY_CAPABILITIES, "after start", [&](IO_STACK_LOCATION& s) {
                       s.Parameters.DeviceCapabilities.Capabilities = &caps;
                   }).status)) {
        node.capabilities = caps;
        publish(node);
    }
    send(node, IRP_MN_QUERY_PNP_DEVICE_STATE, "");
    narrateStart(node);
    notifyClass(node, ClassEvent::Phase::started);
    enumerate(node);
    return STATUS_SUCCESS;
}

NTSTATUS Manager::startAgain(Node& node) {
    if (node.state == NodeState::started) {
        return STATUS_SUCCESS;
    }
    if (node.state == NodeState::stopPending || node.state == NodeState::removePending ||
        node.state == NodeState::surpriseRemoved) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (node.stackBuilt) {
        return startStack(node);
    }
    if (!node.installation) {
        ReportedDevice reported{node.instance,    node.hardwareIds, node.compatibleIds,
                                node.description, node.location,    node.capabilities};
        node.installation = recordDevice(registry_, database_, reported);
        publish(node);
        if (!node.installation) {
            return STATUS_NO_SUCH_DEVICE;
        }
    }
    bringUp(node);
    return node.state == NodeState::started ? STATUS_SUCCESS : node.status;
}

NTSTATUS Manager::queryStop(Node& node) {
    const PnpReply reply = send(node, IRP_MN_QUERY_STOP_DEVICE, "");
    if (!NT_SUCCESS(reply.status)) {
        emit("veto", node.instance,
             node.instance + " refused to stop: " + statusName(reply.status));
        send(node, IRP_MN_CANCEL_STOP_DEVICE, "after the refusal");
        return reply.status;
    }
    node.state = NodeState::stopPending;
    return reply.status;
}

// Query-remove goes to the children before their parent; the first refusal vetoes the removal
// and every device queried so far gets a cancel-remove.
NTSTATUS Manager::queryRemove(Node& node) {
    std::vector<Node*> order;
    std::function<void(Node&)> collect = [&](Node& n) {
        for (auto& child : n.children) {
            collect(*child);
        }
        if (active(n)) {
            order.push_back(&n);
        }
    };
    collect(node);
    std::vector<std::pair<Node*, NodeState>> queried;
    for (Node* n : order) {
        const PnpReply reply = send(*n, IRP_MN_QUERY_REMOVE_DEVICE, "");
        queried.emplace_back(n, n->state);
        if (!NT_SUCCESS(reply.status)) {
            emit("veto", n->instance,
                 n->instance + " vetoed the removal of " + node.instance + ": " +
                     statusName(reply.status));
            for (auto it = queried.rbegin(); it != queried.rend(); ++it) {
                send(*it->first, IRP_MN_CANCEL_REMOVE_DEVICE, "after the veto");
                it->first->state = it->second;
            }
            return reply.status;
        }
        n->state = NodeState::removePending;
    }
    return STATUS_SUCCESS;
}

NTSTATUS Manager::cancelRemove(Node& node) {
    NTSTATUS result = STATUS_SUCCESS;
    std::function<void(Node&)> cancel = [&](Node& n) {
        if (n.state == NodeState::removePending) {
            const PnpReply reply = send(n, IRP_MN_CANCEL_REMOVE_DEVICE, "");
            n.state = NodeState::started;
            if (&n == &node) {
                result = reply.status;
            }
        }
        for (auto& child : n.children) {
            cancel(*child);
        }
    };
    cancel(node);
    return result;
}

void Manager::surpriseSubtree(Node& node) {
    for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) {
        surpriseSubtree(**it);
    }
    if (!active(node)) {
        return;
    }
    send(node, IRP_MN_SURPRISE_REMOVAL, "");
    kernel_.interfaces().disableAllOf(node.pdo);
    node.state = NodeState::surpriseRemoved;
    emit("surprise-removed", node.instance, node.instance + " is gone (surprise removal)");
}

// Removal goes to the children before their parent. Each request goes to the top of the
// device's stack, where the drivers detach and delete themselves on the way down; the bus driver
// at the bottom keeps its device object while it still reports the device. Once the parent is
// removed, its children's device objects are the bus driver's to delete: the nodes go.
void Manager::removeSubtree(Node& node) {
    for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) {
        removeSubtree(**it);
    }
    if (node.state != NodeState::removed) {
        send(node, IRP_MN_REMOVE_DEVICE, "");
        kernel_.interfaces().disableAllOf(node.pdo);
        node.stackBuilt = false;
        node.state = NodeState::removed;
        emit("removed", node.instance, node.instance + " removed");
    }
    dropChildren(node);
    unloadUnusedDrivers();
}

void Manager::dropChildren(Node& node) {
    while (!node.children.empty()) {
        dropChild(node, *node.children.back());
    }
}

void Manager::dropChild(Node& parent, Node& child) {
    dropChildren(child);
    bridge_->forget(child.pdo);
    ObDereferenceObject(child.pdo);
    auto& siblings = parent.children;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [&](const auto& n) { return n.get() == &child; }),
                   siblings.end());
}

} // namespace winsim::pnp
