#include "pnp/manager.h"

#include "pnp/installer.h"
#include "pnp/instance_path.h"

#include "kernel/kernel.h"
#include "kernel/wide.h"
#include "qelser/qelser.h"
#include "registry/registry.h"

#include <qelmf.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace winsim::pnp {

namespace {

// Bus, device and function from the first three runs of digits of a location text.
std::optional<pci::Slot> slotOfLocation(const std::optional<std::string>& location) {
    if (!location) {
        return std::nullopt;
    }
    std::vector<unsigned long> numbers;
    const std::string& text = *location;
    for (std::size_t i = 0; i < text.size() && numbers.size() < 3;) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        unsigned long value = 0;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value = std::min(value * 10 + static_cast<unsigned long>(text[i] - '0'), 100000ul);
        }
        numbers.push_back(value);
    }
    if (numbers.size() < 3 || numbers[0] > 255 || numbers[1] > 31 || numbers[2] > 7) {
        return std::nullopt;
    }
    pci::Slot slot;
    slot.bus = static_cast<std::uint32_t>(numbers[0]);
    slot.device = static_cast<std::uint32_t>(numbers[1]);
    slot.function = static_cast<std::uint32_t>(numbers[2]);
    return slot;
}

} // namespace

Manager::Manager(kernel::Kernel& kernel, reg::Registry& registry)
    : kernel_(kernel), registry_(registry) {
    entries_["PCI"] = pci::PciDriverEntry;
    entries_["QELMF"] = DriverEntry;
    entries_["QELSER"] = qelser::QelserDriverEntry;
    entries_["PNPMANAGER"] = RootDriverEntry;
    rootDevices_.push_back(pciRootBus());
}

Manager::~Manager() {
    shutdown();
}

void Manager::setEventSink(std::function<void(const Event&)> sink) {
    const std::lock_guard guard(sinkLock_);
    sink_ = std::move(sink);
}

// A card goes where its location text says, unless that slot is taken; then (and for a card
// without a readable location) into the next free slot from bus 2, device 13 on.
void Manager::addCard(const CardConfig& card) {
    const Lock lock(lock_);
    auto taken = [&](const pci::Slot& at) {
        return std::any_of(slots_.begin(), slots_.end(), [&](const pci::Slot& s) {
            return s.bus == at.bus && s.device == at.device && s.function == at.function;
        });
    };
    pci::Slot slot = slotOfLocation(card.location).value_or(pci::Slot{});
    if (!slotOfLocation(card.location) || taken(slot)) {
        slot = pci::Slot{};
        while (taken(slot)) {
            if (++slot.device > 31) {
                slot.device = 0;
                ++slot.bus;
            }
        }
    }
    slot.card = card;
    slots_.push_back(slot);
}

void Manager::registerDriver(const std::string& service, PDRIVER_INITIALIZE entry) {
    const Lock lock(lock_);
    entries_[kernel::upcase(service)] = entry;
}

void Manager::addDriverPackage(const DriverPackage& package) {
    const Lock lock(lock_);
    database_.add(package);
}

void Manager::addRootDevice(const RootChild& device) {
    const Lock lock(lock_);
    rootDevices_.push_back(device);
}

void Manager::addClassHook(std::function<void(const ClassEvent&)> hook) {
    const Lock lock(lock_);
    classHooks_.push_back(std::move(hook));
}

NTSTATUS Manager::start() {
    const Lock lock(lock_);
    if (started_ || crashed_) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    started_ = true;
    Bridge::Callbacks callbacks;
    callbacks.busRelationsInvalid = [this](PDEVICE_OBJECT pdo) {
        {
            const std::lock_guard guard(workLock_);
            if (closing_) {
                return;
            }
            ++pendingWork_;
        }
        kernel_.work().post([this, pdo] { runInvalidation(pdo); });
    };
    callbacks.interfaceChanged = [this](const kernel::InterfaceInfo& info) {
        narrateInterface(info);
    };
    bridge_ = std::make_unique<Bridge>(kernel_, registry_, std::move(callbacks));
    kernel_.setPnpBridge(bridge_.get());
    pci::installSlots(slots_);

    PDRIVER_OBJECT rootDriver = loadDriver("PnpManager");
    if (rootDriver == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    PDEVICE_OBJECT rootDevice = nullptr;
    const NTSTATUS status = createRootDevice(rootDriver, rootDevices_, &rootDevice);
    if (!NT_SUCCESS(status)) {
        emit("fatal", "", "cannot create the root device: " + statusName(status));
        return status;
    }
    root_ = std::make_unique<Node>();
    root_->instance = "HTREE\\ROOT\\0";
    root_->deviceId = "HTREE\\ROOT";
    root_->instanceId = "0";
    root_->pdo = rootDevice;
    root_->state = NodeState::started;
    publish(*root_);
    emit("start", root_->instance, "The root device HTREE\\ROOT\\0 is up");
    enumerate(*root_);
    return crashed_ ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
}

void Manager::shutdown() {
    {
        const Lock lock(lock_);
        if (shutDown_) {
            return;
        }
        shutDown_ = true;
        {
            const std::lock_guard guard(workLock_);
            closing_ = true;
        }
        if (root_ != nullptr) {
            if (!crashed_) {
                for (auto it = root_->children.rbegin(); it != root_->children.rend(); ++it) {
                    removeSubtree(**it);
                }
            }
            dropChildren(*root_);
            bridge_->forget(root_->pdo);
            if (!crashed_) {
                deleteRootDevice(root_->pdo);
            }
            root_.reset();
            if (!crashed_) {
                unloadUnusedDrivers();
                emit("shutdown", "", "Every device is removed and every driver unloaded");
            }
        }
    }
    {
        std::unique_lock wait(workLock_);
        workDone_.wait(wait, [this] { return pendingWork_ == 0; });
    }
    if (bridge_ != nullptr && kernel_.pnpBridge() == bridge_.get()) {
        kernel_.setPnpBridge(nullptr);
    }
    if (started_) {
        pci::clearSlots();
    }
}

void Manager::runInvalidation(PDEVICE_OBJECT pdo) {
    {
        const Lock lock(lock_);
        bool closing = false;
        {
            const std::lock_guard guard(workLock_);
            closing = closing_;
        }
        if (!closing && !crashed_) {
            if (Node* node = findByPdo(pdo); node != nullptr && node->state == NodeState::started) {
                emit("invalidate", node->instance,
                     "The driver asked for a new bus-relations query of " + node->instance);
                enumerate(*node);
            }
        }
    }
    const std::lock_guard guard(workLock_);
    --pendingWork_;
    workDone_.notify_all();
}

NTSTATUS Manager::act(Action action, const std::string& instance) {
    const Lock lock(lock_);
    if (crashed_ || !started_ || shutDown_ || systemPower_ != PowerSystemWorking) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    Node* node = find(instance);
    if (node == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    switch (action) {
    case Action::queryStop:
        return queryStop(*node);
    case Action::cancelStop: {
        const PnpReply reply = send(*node, IRP_MN_CANCEL_STOP_DEVICE, "");
        if (node->state == NodeState::stopPending) {
            setState(*node, NodeState::started);
        }
        return reply.status;
    }
    case Action::stop: {
        const PnpReply reply = send(*node, IRP_MN_STOP_DEVICE, "");
        if (NT_SUCCESS(reply.status)) {
            setState(*node, NodeState::stopped);
        }
        return reply.status;
    }
    case Action::start:
        return startAgain(*node);
    case Action::queryRemove:
        return queryRemove(*node);
    case Action::cancelRemove:
        return cancelRemove(*node);
    case Action::remove:
    case Action::surpriseRemove: {
        if (node == root_.get()) {
            return STATUS_INVALID_DEVICE_REQUEST;
        }
        if (action == Action::surpriseRemove) {
            surpriseSubtree(*node);
        }
        removeSubtree(*node);
        if (!node->reported) {
            dropChild(*node->parent, *node);
        }
        unloadUnusedDrivers();
        return STATUS_SUCCESS;
    }
    case Action::reenumerate:
        return enumerate(*node);
    case Action::rebalance: {
        const NTSTATUS status = queryStop(*node);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        const PnpReply reply = send(*node, IRP_MN_STOP_DEVICE, "");
        if (!NT_SUCCESS(reply.status)) {
            return reply.status;
        }
        setState(*node, NodeState::stopped);
        return startAgain(*node);
    }
    }
    return STATUS_INVALID_PARAMETER;
}

bool Manager::setCardPresent(std::size_t card, bool present) {
    const Lock lock(lock_);
    if (card >= slots_.size()) {
        return false;
    }
    slots_[card].present = present;
    if (started_) {
        pci::setPresent(card, present);
    }
    return true;
}

bool Manager::setPortKeepsReference(const std::string& instance, bool keep) {
    const Lock lock(lock_);
    const Node* node = find(instance);
    if (node == nullptr) {
        return false;
    }
    PDEVICE_OBJECT fdo = deviceOfDriver(*node, "qelser");
    return fdo != nullptr && qelser::setKeepsReference(fdo, keep);
}

PnpReply Manager::send(Node& node, UCHAR minor, const std::string& what,
                       const std::function<void(IO_STACK_LOCATION&)>& fill) {
    const PnpReply reply = sendPnp(node.pdo, minor, fill);
    // A child being found has no instance path yet: its requests are told as its parent's.
    std::string text = node.instance.empty() && node.parent != nullptr
                           ? "new child of " + node.parent->instance + ": " + minorName(minor)
                           : minorName(minor);
    if (!what.empty()) {
        text += " (" + what + ")";
    }
    text += " -> " + statusName(reply.status);
    emit("irp", node.instance, text);
    return reply;
}

Node* Manager::find(const std::string& instance) const {
    Node* found = nullptr;
    if (root_ != nullptr) {
        forEach(*root_, [&](const Node& node) {
            if (found == nullptr && samePath(node.instance, instance)) {
                found = const_cast<Node*>(&node);
            }
        });
    }
    return found;
}

Node* Manager::findByPdo(PDEVICE_OBJECT pdo) const {
    Node* found = nullptr;
    if (root_ != nullptr) {
        forEach(*root_, [&](const Node& node) {
            if (found == nullptr && node.pdo == pdo) {
                found = const_cast<Node*>(&node);
            }
        });
    }
    return found;
}

void Manager::forEach(const Node& from, const std::function<void(const Node&)>& visit) const {
    visit(from);
    for (const auto& child : from.children) {
        forEach(*child, visit);
    }
}

void Manager::publish(const Node& node) {
    DeviceFacts facts;
    facts.instance = node.instance;
    facts.location = node.location;
    facts.hardwareIds = node.hardwareIds;
    facts.compatibleIds = node.compatibleIds;
    facts.capabilities = node.capabilities;
    facts.busInformation = node.busInformation;
    facts.bootResources = node.bootResources;
    facts.installed = node.installation.has_value();
    bridge_->put(node.pdo, std::move(facts));
}

void Manager::bugCheck(ULONG code, ULONG_PTR p1, ULONG_PTR p2, const std::string& what) {
    char text[160];
    std::snprintf(text, sizeof text, "STOP 0x%08X (0x%08llX, 0x%08llX, 0x00000000, 0x00000000) ",
                  static_cast<unsigned>(code), static_cast<unsigned long long>(p1),
                  static_cast<unsigned long long>(p2));
    crashText_ = std::string(text) + "PNP_DETECTED_FATAL_ERROR: " + what;
    crashed_ = true;
    emit("fatal", "", crashText_);
}

std::string Manager::crashText() const {
    const Lock lock(lock_);
    return crashText_;
}

void Manager::setState(Node& node, NodeState state) {
    node.state = state;
}

// ---- the public face ---------------------------------------------------------------------------

PnpManager::PnpManager(kernel::Kernel& kernel, reg::Registry& registry)
    : impl_(std::make_unique<Manager>(kernel, registry)) {}
PnpManager::~PnpManager() = default;
void PnpManager::setEventSink(std::function<void(const Event&)> sink) {
    impl_->setEventSink(std::move(sink));
}
void PnpManager::addCard(const CardConfig& card) {
    impl_->addCard(card);
}
void PnpManager::registerDriver(const std::string& service, PDRIVER_INITIALIZE entry) {
    impl_->registerDriver(service, entry);
}
void PnpManager::addDriverPackage(const DriverPackage& package) {
    impl_->addDriverPackage(package);
}
void PnpManager::addRootDevice(const RootChild& device) {
    impl_->addRootDevice(device);
}
void PnpManager::addClassHook(std::function<void(const ClassEvent&)> hook) {
    impl_->addClassHook(std::move(hook));
}
NTSTATUS PnpManager::start() {
    return impl_->start();
}
NTSTATUS PnpManager::queryStop(const std::string& i) {
    return impl_->act(Manager::Action::queryStop, i);
}
NTSTATUS PnpManager::cancelStop(const std::string& i) {
    return impl_->act(Manager::Action::cancelStop, i);
}
NTSTATUS PnpManager::stop(const std::string& i) {
    return impl_->act(Manager::Action::stop, i);
}
NTSTATUS PnpManager::startDevice(const std::string& i) {
    return impl_->act(Manager::Action::start, i);
}
NTSTATUS PnpManager::queryRemove(const std::string& i) {
    return impl_->act(Manager::Action::queryRemove, i);
}
NTSTATUS PnpManager::cancelRemove(const std::string& i) {
    return impl_->act(Manager::Action::cancelRemove, i);
}
NTSTATUS PnpManager::remove(const std::string& i) {
    return impl_->act(Manager::Action::remove, i);
}
NTSTATUS PnpManager::surpriseRemove(const std::string& i) {
    return impl_->act(Manager::Action::surpriseRemove, i);
}
NTSTATUS PnpManager::reenumerate(const std::string& i) {
    return impl_->act(Manager::Action::reenumerate, i);
}
NTSTATUS PnpManager::rebalance(const std::string& i) {
    return impl_->act(Manager::Action::rebalance, i);
}
NTSTATUS PnpManager::setSystemPower(SYSTEM_POWER_STATE state) {
    return impl_->setSystemPower(state);
}
SYSTEM_POWER_STATE PnpManager::systemPower() const {
    return impl_->systemPower();
}
bool PnpManager::setCardPresent(std::size_t card, bool present) {
    return impl_->setCardPresent(card, present);
}
bool PnpManager::setPortKeepsReference(const std::string& instance, bool keep) {
    return impl_->setPortKeepsReference(instance, keep);
}
std::vector<DeviceInfo> PnpManager::devices() const {
    return impl_->devices();
}
std::optional<DeviceInfo> PnpManager::device(const std::string& instance) const {
    return impl_->device(instance);
}
bool PnpManager::crashed() const {
    return impl_->crashed();
}
std::string PnpManager::crashText() const {
    return impl_->crashText();
}
void PnpManager::shutdown() {
    impl_->shutdown();
}

} // namespace winsim::pnp
