// The kernel's window on the device nodes: IoGetDeviceProperty, the device and driver keys,
// instance paths for device interfaces, and IoInvalidateDeviceRelations.
#pragma once

#include "pnp/resources.h"

#include "kernel/pnp_bridge.h"

#include <wdm.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace winsim::reg {
class Registry;
}
namespace winsim::kernel {
class Kernel;
}

namespace winsim::pnp {

// What the kernel may ask about one physical device object.
struct DeviceFacts {
    std::string instance;
    std::optional<std::string> location;
    std::vector<std::string> hardwareIds, compatibleIds;
    std::optional<DEVICE_CAPABILITIES> capabilities;
    std::optional<PNP_BUS_INFORMATION> busInformation;
    std::optional<ResourceList> bootResources;
    bool installed = false;
};

class Bridge : public kernel::PnpBridge {
  public:
    struct Callbacks {
        std::function<void(PDEVICE_OBJECT)> busRelationsInvalid; // called on the kernel's thread
        std::function<void(const kernel::InterfaceInfo&)> interfaceChanged;
    };

    Bridge(kernel::Kernel& kernel, reg::Registry& registry, Callbacks callbacks);

    void put(PDEVICE_OBJECT pdo, DeviceFacts facts);
    void forget(PDEVICE_OBJECT pdo);

    bool isPdo(PDEVICE_OBJECT pdo) override;
    std::string instancePath(PDEVICE_OBJECT pdo) override;
    NTSTATUS property(PDEVICE_OBJECT pdo, DEVICE_REGISTRY_PROPERTY property,
                      std::vector<std::uint8_t>& data) override;
    std::string driverKeyPath(PDEVICE_OBJECT pdo) override;
    void invalidateRelations(PDEVICE_OBJECT pdo, DEVICE_RELATION_TYPE type) override;
    void invalidateState(PDEVICE_OBJECT pdo) override;
    void interfaceStateChanged(const kernel::InterfaceInfo& info) override;

  private:
    std::optional<DeviceFacts> facts(PDEVICE_OBJECT pdo) const;
    NTSTATUS instanceValue(const std::string& instance, const char* name,
                           std::vector<std::uint8_t>& data) const;

    kernel::Kernel& kernel_;
    reg::Registry& registry_;
    Callbacks callbacks_;
    mutable std::mutex lock_;
    std::map<PDEVICE_OBJECT, DeviceFacts> devices_;
};

} // namespace winsim::pnp
