// A machine powered on: its registry loaded from the folder, the simulated kernel, and the Plug
// and Play manager with the machine's cards and the package's device installers
// (device_installers.h), booted. shutdown() powers it off and reports what the driver left
// behind.
#pragma once

#include "machine/machine.h"
#include "pnp/pnp_manager.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace winsim::kernel {
class Kernel;
}

namespace winsim::machine {

struct ShutdownReport {
    // Leaks and verifier violations, one sentence each; empty when the driver cleaned up.
    std::vector<std::string> problems;
    // The pool and reference balance, for a person.
    std::vector<std::string> balance;
};

class RunningMachine {
  public:
    using EventSink = std::function<void(const pnp::Event&)>;

    // Loads the registry, creates the kernel and the Plug and Play manager with the machine's
    // cards, and boots. The sink hears every event from the start. Throws MachineError when the
    // registry cannot be loaded.
    RunningMachine(const Machine& machine, EventSink sink);
    ~RunningMachine();
    RunningMachine(const RunningMachine&) = delete;
    RunningMachine& operator=(const RunningMachine&) = delete;

    NTSTATUS bootStatus() const { return bootStatus_; }

    reg::Registry& registry() { return *registry_; }
    kernel::Kernel& kernel() { return *kernel_; }
    pnp::PnpManager& pnp() { return *pnp_; }
    const pnp::PnpManager& pnp() const { return *pnp_; }

    // Removes every device and unloads the drivers, then reads the kernel's accounts. Call once.
    ShutdownReport shutdown();

  private:
    // Declared in this order so that they are destroyed the other way round.
    std::unique_ptr<reg::Registry> registry_;
    std::unique_ptr<kernel::Kernel> kernel_;
    std::unique_ptr<pnp::PnpManager> pnp_;
    NTSTATUS bootStatus_ = STATUS_SUCCESS;
};

} // namespace winsim::machine
