// A simulated machine for the Plug and Play tests: registry, kernel and Plug and Play manager,
// with the narration kept for inspection.
#pragma once

#include "kernel/kernel.h"
#include "pnp/pnp_manager.h"
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace winsim::pnp::test {

inline const std::string pciBus = "ACPI\\PNP0A03\\0";

class Machine {
  public:
    // quiet: for a machine expected to crash, whose leftovers are no driver's fault.
    explicit Machine(bool quiet = false);
    ~Machine();

    // Boots with the given cards; fails the test unless the boot succeeds.
    void boot(const std::vector<CardConfig>& cards);

    // Shuts Plug and Play and the kernel down, then checks that no driver broke a rule or left
    // pool, handles, IRPs or device objects behind.
    void shutdownClean();

    std::vector<Event> events() const;
    std::vector<Event> eventsOf(const std::string& kind) const;
    void clearEvents();

    // The instance path of the n-th card (from the devices list, in tree order).
    std::string cardInstance(std::size_t n = 0) const;
    std::vector<DeviceInfo> ports() const; // every port device, in tree order
    // The PCI driver's device object of the (first) card that the card's driver sits on, and the
    // card's device object on top of it; nullptr when there is none.
    PDEVICE_OBJECT cardPdo();
    PDEVICE_OBJECT cardFdo();
    std::string state(const std::string& instance) const;
    // A string value of a key below SYSTEM\CurrentControlSet\Enum ("" when missing).
    std::string enumString(const std::string& path, const std::string& name) const;

    reg::Registry registry;
    kernel::Kernel kernel;
    PnpManager pnp;

  private:
    mutable std::mutex lock_;
    std::vector<Event> events_;
};

// Port instance paths of a card at bus 2, device 13, function 0.
std::string portPath(unsigned index, const std::string& location = "020D00");

} // namespace winsim::pnp::test
