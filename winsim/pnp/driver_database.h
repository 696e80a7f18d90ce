// What the simulated Windows knows about drivers before any device shows up: which service,
// setup class and texts go with which hardware ID, as installed INF files would tell it.
#pragma once

#include <string>
#include <vector>

namespace winsim::pnp {

struct DriverPackage {
    std::string hardwareId; // matched, without regard to case, against a device's IDs
    std::string service;    // function driver's service name
    std::string className;  // setup class, e.g. "Ports"
    std::string classGuid;  // "{4D36E978-E325-11CE-BFC1-08002BE10318}"
    std::string classDescription;
    std::string manufacturer; // "Mfg"
    std::string description;  // "DeviceDesc" given at installation
};

class DriverDatabase {
  public:
    // The packages of the machine: the PCI root bus, the card and its ports.
    DriverDatabase();

    // A later package for the same hardware ID replaces the earlier one.
    void add(DriverPackage package);

    // The package for the best-matching ID: hardware IDs in their order, then compatible IDs in
    // theirs; nullptr when none matches.
    const DriverPackage* match(const std::vector<std::string>& hardwareIds,
                               const std::vector<std::string>& compatibleIds) const;

  private:
    std::vector<DriverPackage> packages_;
};

} // namespace winsim::pnp
