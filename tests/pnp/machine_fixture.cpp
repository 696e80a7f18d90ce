#include "machine_fixture.h"

#include <cstdio>

namespace winsim::pnp::test {

namespace {

kernel::KernelOptions optionsFor(reg::Registry& registry, bool quiet) {
    kernel::KernelOptions options;
    options.registry = &registry;
    options.printViolations = !quiet;
    options.reportLeaksAtShutdown = !quiet;
    options.deadlockLimit = std::chrono::milliseconds(20000);
    return options;
}

} // namespace

Machine::Machine(bool quiet) : kernel(optionsFor(registry, quiet)), pnp(kernel, registry) {
    pnp.setEventSink([this](const Event& event) {
        const std::lock_guard guard(lock_);
        events_.push_back(event);
    });
}

Machine::~Machine() {
    pnp.shutdown();
}

void Machine::boot(const std::vector<CardConfig>& cards) {
    for (const CardConfig& card : cards) {
        pnp.addCard(card);
    }
    ASSERT_EQ(pnp.start(), STATUS_SUCCESS) << pnp.crashText();
}

void Machine::shutdownClean() {
    pnp.shutdown();
    kernel.shutdown();
    EXPECT_TRUE(kernel.verifier().clean()) << kernel.verifier().summary();
    EXPECT_EQ(kernel.pool().outstandingBlocks(), 0u) << kernel.pool().leakReport();
    EXPECT_EQ(kernel.objects().liveDevices(), 0u);
    EXPECT_EQ(kernel.handles().count(), 0u);
    EXPECT_EQ(kernel.irps().liveIrps(), 0u);
}

std::vector<Event> Machine::events() const {
    const std::lock_guard guard(lock_);
    return events_;
}

std::vector<Event> Machine::eventsOf(const std::string& kind) const {
    std::vector<Event> out;
    for (const Event& event : events()) {
        if (event.kind == kind) {
            out.push_back(event);
        }
    }
    return out;
}

void Machine::clearEvents() {
    const std::lock_guard guard(lock_);
    events_.clear();
}

std::string Machine::cardInstance(std::size_t n) const {
    for (const DeviceInfo& info : pnp.devices()) {
        if (info.service == "qelmf" && n-- == 0) {
            return info.instance;
        }
    }
    return {};
}

std::vector<DeviceInfo> Machine::ports() const {
    std::vector<DeviceInfo> out;
    for (const DeviceInfo& info : pnp.devices()) {
        if (info.deviceId == "QEL_CARD\\SERIAL") {
            out.push_back(info);
        }
    }
    return out;
}

PDEVICE_OBJECT Machine::cardPdo() {
    PDRIVER_OBJECT pci = kernel.driver("pci");
    PDRIVER_OBJECT qelmf = kernel.driver("qelmf");
    if (pci == nullptr || qelmf == nullptr) {
        return nullptr;
    }
    for (PDEVICE_OBJECT d : kernel.objects().devicesOf(kernel.objects().driverRecord(pci))) {
        if (d->AttachedDevice != nullptr && d->AttachedDevice->DriverObject == qelmf) {
            return d;
        }
    }
    return nullptr;
}

PDEVICE_OBJECT Machine::cardFdo() {
    PDEVICE_OBJECT pdo = cardPdo();
    return pdo != nullptr ? pdo->AttachedDevice : nullptr;
}

std::string Machine::state(const std::string& instance) const {
    const auto info = pnp.device(instance);
    return info ? info->state : "absent";
}

std::string Machine::enumString(const std::string& path, const std::string& name) const {
    const auto key = registry.open_key("SYSTEM\\CurrentControlSet\\Enum\\" + path);
    std::string value;
    if (key == nullptr || key->get_string(name, value) != reg::Status::ok) {
        return {};
    }
    return value;
}

std::string portPath(unsigned index, const std::string& location) {
    char text[48];
    std::snprintf(text, sizeof text, "QEL_CARD\\SERIAL\\%s%02X", location.c_str(), index);
    return text;
}

} // namespace winsim::pnp::test
