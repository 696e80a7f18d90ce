// The Plug and Play manager's side as the kernel sees it, reduced to what the card's driver
// needs: the fake PCI devices count as PDOs with an instance path and a location text (or an
// unreadable one).
#pragma once

#include "kernel/pnp_bridge.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qeltest {

class TestBridge : public winsim::kernel::PnpBridge {
  public:
    void addPdo(PDEVICE_OBJECT pdo, std::string instancePath, std::optional<std::string> location);
    void removePdo(PDEVICE_OBJECT pdo);

    bool isPdo(PDEVICE_OBJECT pdo) override;
    std::string instancePath(PDEVICE_OBJECT pdo) override;
    NTSTATUS property(PDEVICE_OBJECT pdo, DEVICE_REGISTRY_PROPERTY property,
                      std::vector<std::uint8_t>& data) override;
    std::string driverKeyPath(PDEVICE_OBJECT pdo) override;
    void invalidateRelations(PDEVICE_OBJECT pdo, DEVICE_RELATION_TYPE type) override;
    void invalidateState(PDEVICE_OBJECT pdo) override;

  private:
    struct Pdo {
        std::string instancePath;
        std::optional<std::string> location;
    };
    std::mutex lock_;
    std::map<PDEVICE_OBJECT, Pdo> pdos_;
};

} // namespace qeltest
