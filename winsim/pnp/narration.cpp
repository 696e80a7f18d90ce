// What the Plug and Play manager tells a person watching: one Event per step worth seeing, and
// the class hooks.
#include "pnp/manager.h"

#include "pnp/installer.h"

#include "kernel/kernel.h"
#include "qelser/qelser.h"
#include "registry/registry.h"

#include <qelmf.h>

#include <cstdio>

namespace winsim::pnp {

namespace {

std::string hex(unsigned long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", value);
    return text;
}

std::string number(unsigned long long value) {
    return std::to_string(value);
}

} // namespace

void Manager::emit(const std::string& kind, const std::string& instance, const std::string& text) {
    const std::lock_guard guard(sinkLock_);
    if (sink_) {
        sink_(Event{kind, instance, text});
    }
}

void Manager::notifyClass(const Node& node, ClassEvent::Phase phase) {
    if (!node.installation) {
        return;
    }
    const ClassEvent event{phase, node.installation->className, node.installation->classGuid,
                           node.instance};
    const auto hooks = classHooks_;
    for (const auto& hook : hooks) {
        hook(event);
    }
}

void Manager::narrateInterface(const kernel::InterfaceInfo& info) {
    emit("interface", info.instancePath,
         "Device interface " + info.symbolicLink + (info.enabled ? " enabled" : " disabled"));
}

// After a start: what the card's driver made of it (port count, saved resources), or what the
// port driver received through the port interface.
void Manager::narrateStart(Node& node) {
    if (PDEVICE_OBJECT fdo = deviceOfDriver(node, "qelmf")) {
        const auto* card = static_cast<const CARD_EXTENSION*>(fdo->DeviceExtension);
        if (card->Header.IsFdo) {
            const auto key = registry_.open_key(enumRoot + node.instance + "\\Device Parameters");
            std::uint32_t ports = 0;
            if (key != nullptr && key->get_dword("PORTS", ports) == reg::Status::ok) {
                emit("port-count", node.instance,
                     "The card has " + number(ports) + " ports: \"PORTS\" = " + number(ports) +
                         " in its Device Parameters key");
            } else {
                emit("port-count", node.instance, "The card wrote no \"PORTS\" value");
            }
            emit("resources", node.instance,
                 "Card resources saved: I/O " + hex(card->RawIoBase.QuadPart) + " (translated " +
                     hex(card->TrIoBase.QuadPart) + ", flags " + hex(card->PortFlags) +
                     "), interrupt level " + number(card->RawInterruptLevel) + " vector " +
                     number(card->RawInterruptVector) + " (translated IRQL " +
                     number(card->TrInterruptLevel) + ", vector " + hex(card->TrInterruptVector) +
                     ")");
        }
    }
    if (PDEVICE_OBJECT fdo = deviceOfDriver(node, "qelser")) {
        const auto view = qelser::inspect(fdo);
        if (view && view->config) {
            const PORT_CONFIG& c = *view->config;
            std::string text = "Port " + number(c.PortIndex) + ": registers " +
                               hex(c.RawPortBase.QuadPart) + "-" + hex(c.RawPortBase.QuadPart + 7) +
                               " (translated " + hex(c.TrPortBase.QuadPart) + ")";
            text += c.RawSharedRegister.QuadPart != 0
                        ? ", shared register " + hex(c.RawSharedRegister.QuadPart)
                        : ", no shared register";
            text += ", interrupt level " + number(c.RawInterruptLevel) + " vector " +
                    number(c.RawInterruptVector) + " (IRQL " + number(c.TrInterruptLevel) +
                    ", vector " + hex(c.TrInterruptVector) + ")";
            emit("port-config", node.instance, text);
        } else if (view) {
            emit("port-config", node.instance,
                 "The port driver got no port configuration (" + statusName(view->lastQueryStatus) +
                     ")");
        }
    }
}

} // namespace winsim::pnp
