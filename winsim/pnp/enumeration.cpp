// Enumeration: the bus-relations query to a started device, and what follows for each child it
// reports: the identity queries of a new child, its instance path and keys, and its start; the
// removal of a child that is no longer reported.
#include "pnp/manager.h"

#include "pnp/instance_path.h"
#include "pnp/installer.h"
#include "pnp/pool_text.h"

#include <algorithm>

namespace winsim::pnp {

namespace {

// Takes a UTF-16 answer out of a reply, freeing the driver's buffer.
std::optional<std::string> takeText(const PnpReply& reply) {
    if (!NT_SUCCESS(reply.status) || reply.information == 0) {
        return std::nullopt;
    }
    auto* text = reinterpret_cast<PWSTR>(reply.information);
    std::string out = narrowText(text);
    ExFreePool(text);
    return out;
}

std::vector<std::string> takeMultiText(const PnpReply& reply) {
    if (!NT_SUCCESS(reply.status) || reply.information == 0) {
        return {};
    }
    auto* text = reinterpret_cast<PWSTR>(reply.information);
    std::vector<std::string> out = narrowMultiText(text);
    ExFreePool(text);
    return out;
}

void freeAnswer(const PnpReply& reply) {
    if (NT_SUCCESS(reply.status) && reply.information != 0) {
        ExFreePool(reinterpret_cast<PVOID>(reply.information));
    }
}

auto idQuery(BUS_QUERY_ID_TYPE type) {
    return [type](IO_STACK_LOCATION& stack) { stack.Parameters.QueryId.IdType = type; };
}

auto textQuery(DEVICE_TEXT_TYPE type) {
    return [type](IO_STACK_LOCATION& stack) {
        stack.Parameters.QueryDeviceText.DeviceTextType = type;
        stack.Parameters.QueryDeviceText.LocaleId = 0x409;
    };
}

std::string joined(const std::vector<std::string>& ids) {
    std::string out;
    for (const auto& id : ids) {
        out += (out.empty() ? "" : ", ") + id;
    }
    return out.empty() ? "none" : out;
}

} // namespace

DEVICE_CAPABILITIES freshCapabilities() {
    DEVICE_CAPABILITIES caps;
    RtlZeroMemory(&caps, sizeof caps);
    caps.Size = sizeof caps;
    caps.Version = 1;
    caps.Address = 0xFFFFFFFF;
    caps.UINumber = 0xFFFFFFFF;
    return caps;
}

// The queries Windows sends a child it has not seen before, in Windows' order.
void Manager::queryIdentity(Node& node) {
    node.deviceId =
        takeText(send(node, IRP_MN_QUERY_ID, "device ID", idQuery(BusQueryDeviceID))).value_or("");

    DEVICE_CAPABILITIES caps = freshCapabilities();
    const PnpReply capsReply = send(node, IRP_MN_QUERY_CAPABILITIES, "", [&](IO_STACK_LOCATION& s) {
        s.Parameters.DeviceCapabilities.Capabilities = &caps;
    });
    if (NT_SUCCESS(capsReply.status)) {
        node.capabilities = caps;
    }

    node.instanceId =
        takeText(send(node, IRP_MN_QUERY_ID, "instance ID", idQuery(BusQueryInstanceID)))
            .value_or("");
    node.hardwareIds =
        takeMultiText(send(node, IRP_MN_QUERY_ID, "hardware IDs", idQuery(BusQueryHardwareIDs)));
    node.compatibleIds = takeMultiText(
        send(node, IRP_MN_QUERY_ID, "compatible IDs", idQuery(BusQueryCompatibleIDs)));
    node.description = takeText(send(node, IRP_MN_QUERY_DEVICE_TEXT, "description",
                                     textQuery(DeviceTextDescription)))
                           .value_or("");
    node.location = takeText(send(node, IRP_MN_QUERY_DEVICE_TEXT, "location information",
                                  textQuery(DeviceTextLocationInformation)));

    const PnpReply busReply = send(node, IRP_MN_QUERY_BUS_INFORMATION, "");
    if (NT_SUCCESS(busReply.status) && busReply.information != 0) {
        node.busInformation = *reinterpret_cast<PPNP_BUS_INFORMATION>(busReply.information);
    }
    freeAnswer(busReply);

    const PnpReply resources = send(node, IRP_MN_QUERY_RESOURCES, "");
    if (NT_SUCCESS(resources.status) && resources.information != 0) {
        node.bootResources =
            ResourceList::copyOf(reinterpret_cast<PCM_RESOURCE_LIST>(resources.information));
    }
    freeAnswer(resources);
    freeAnswer(send(node, IRP_MN_QUERY_RESOURCE_REQUIREMENTS, ""));
}

NTSTATUS Manager::enumerate(Node& node) {
    if (node.state != NodeState::started) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    const PnpReply reply =
        send(node, IRP_MN_QUERY_DEVICE_RELATIONS, "bus relations",
             [](IO_STACK_LOCATION& s) { s.Parameters.QueryDeviceRelations.Type = BusRelations; });
    if (!NT_SUCCESS(reply.status)) {
        return reply.status; // a device that is no bus: its children stay as they are
    }
    std::vector<PDEVICE_OBJECT> reported;
    if (auto* relations = reinterpret_cast<PDEVICE_RELATIONS>(reply.information)) {
        reported.assign(relations->Objects, relations->Objects + relations->Count);
        ExFreePool(relations);
    }

    // Children that the bus no longer reports go first, so their paths are free again.
    std::vector<Node*> gone;
    for (auto& child : node.children) {
        child->reported = std::find(reported.begin(), reported.end(), child->pdo) != reported.end();
        if (!child->reported) {
            gone.push_back(child.get());
        }
    }
    for (Node* child : gone) {
        if (child->state != NodeState::removed) {
            emit("missing", child->instance,
                 child->instance + " is no longer reported by its bus: surprise removal");
            surpriseSubtree(*child);
            removeSubtree(*child);
        } else {
            // Removed before and now gone from the bus: one more removal request lets the bus
            // driver delete its device object.
            send(*child, IRP_MN_REMOVE_DEVICE, "no longer reported");
        }
        dropChild(node, *child);
    }

    for (PDEVICE_OBJECT pdo : reported) {
        if (crashed_) {
            break;
        }
        auto known = std::find_if(node.children.begin(), node.children.end(),
                                  [&](const auto& child) { return child->pdo == pdo; });
        if (known != node.children.end()) {
            if ((*known)->state != NodeState::removed) {
                continue;
            }
            // Removed earlier and reported again: found anew.
            dropChild(node, **known);
        }
        addChild(node, pdo);
    }
    for (PDEVICE_OBJECT pdo : reported) {
        ObDereferenceObject(pdo);
    }
    unloadUnusedDrivers();
    return STATUS_SUCCESS;
}

void Manager::addChild(Node& parent, PDEVICE_OBJECT pdo) {
    auto child = std::make_unique<Node>();
    Node& node = *child;
    node.parent = &parent;
    node.pdo = pdo;
    ObReferenceObject(pdo);
    queryIdentity(node);

    const bool uniqueId = node.capabilities && node.capabilities->UniqueID;
    const auto path = makeInstancePath(node.deviceId, node.instanceId, uniqueId, parent.instance);
    if (!path) {
        emit("ignored", parent.instance,
             "A child of " + parent.instance + " reported no usable IDs (device ID \"" +
                 node.deviceId + "\", instance ID \"" + node.instanceId + "\"); it is ignored");
        ObDereferenceObject(pdo);
        return;
    }
    if (const Node* other = find(*path)) {
        bugCheck(0xCA, 0x1, reinterpret_cast<ULONG_PTR>(pdo),
                 "duplicate PDO: " + parent.instance + " reported a child with the instance path " +
                     *path + ", which " + (other->parent ? other->parent->instance : "the root") +
                     " already reported");
        ObDereferenceObject(pdo);
        return;
    }
    node.instance = *path;
    parent.children.push_back(std::move(child));
    publish(node);
    if (!uniqueId) {
        recordParentIdPrefix(registry_, parent.instance, parentIdPrefix(parent.instance));
    }
    emit(
        "device-created", node.instance,
        "New device " + node.instance + " (child of " + parent.instance + "): \"" +
            node.description + "\"" +
            (node.location ? ", location \"" + *node.location + "\"" : "") + ", hardware IDs " +
            joined(node.hardwareIds) +
            (uniqueId ? "" : "; its instance ID is not unique, so the parent's prefix goes first"));

    ReportedDevice reportedDevice{node.instance,    node.hardwareIds, node.compatibleIds,
                                  node.description, node.location,    node.capabilities};
    node.installation = recordDevice(registry_, database_, reportedDevice);
    publish(node);
    if (!node.installation) {
        emit("no-driver", node.instance, "No driver is installed for " + node.instance);
        return;
    }
    if (node.installation->fresh) {
        emit("installed", node.instance,
             node.instance + " installed: service \"" + node.installation->service + "\", class " +
                 node.installation->className + ", driver key " + node.installation->driverKey);
        notifyClass(node, ClassEvent::Phase::installed);
    }
    bringUp(node);
}

} // namespace winsim::pnp
