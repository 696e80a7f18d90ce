#include "machine/running_machine.h"

#include "kernel/kernel.h"
#include "machine/device_installers.h"

namespace winsim::machine {

RunningMachine::RunningMachine(const Machine& machine, EventSink sink)
    : registry_(std::make_unique<reg::Registry>()) {
    machine.loadRegistry(*registry_);
    kernel::KernelOptions options;
    options.registry = registry_.get();
    options.printViolations = false; // told once, at shutdown, with the leaks
    kernel_ = std::make_unique<kernel::Kernel>(options);
    pnp_ = std::make_unique<pnp::PnpManager>(*kernel_, *registry_);
    pnp_->setEventSink(std::move(sink));
    addDeviceInstallers(*pnp_, *registry_);
    for (const pnp::CardConfig& card : machine.config().cards) {
        pnp_->addCard(card);
    }
    bootStatus_ = pnp_->start();
}

RunningMachine::~RunningMachine() = default;

ShutdownReport RunningMachine::shutdown() {
    pnp_->shutdown();
    kernel_->shutdown();

    ShutdownReport report;
    for (const kernel::Violation& violation : kernel_->verifier().violations()) {
        report.problems.push_back(std::string(kernel::to_string(violation.check)) + ": " +
                                  violation.text);
    }
    const kernel::Pool& pool = kernel_->pool();
    report.balance.push_back("  pool:             " + std::to_string(pool.totalAllocations()) +
                             " blocks allocated, " + std::to_string(pool.outstandingBlocks()) +
                             " still allocated");
    for (const kernel::PoolUsage& usage : pool.usage()) {
        report.balance.push_back("    tag '" + kernel::tagText(usage.tag) +
                                 "': " + std::to_string(usage.blocks) + " blocks, " +
                                 std::to_string(usage.bytes) + " bytes");
    }
    const std::size_t referenceLeaks = kernel_->verifier().count(kernel::Check::ReferenceLeak);
    report.balance.push_back("  device objects:   " +
                             std::to_string(kernel_->objects().liveDevices()) + " left in memory");
    report.balance.push_back("  references:       " +
                             (referenceLeaks == 0
                                  ? std::string("balanced, every reference taken was released")
                                  : std::to_string(referenceLeaks) + " objects still referenced"));
    report.balance.push_back("  registry handles: " + std::to_string(kernel_->handles().count()) +
                             " open");
    report.balance.push_back(
        "  I/O requests:     " + std::to_string(kernel_->irps().totalAllocated()) + " allocated, " +
        std::to_string(kernel_->irps().liveIrps()) + " left");
    return report;
}

} // namespace winsim::machine
