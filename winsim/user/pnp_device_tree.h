// The device tree of a running PnpManager, as the user-mode side sees it.
#pragma once

#include "user/device_tree.h"

namespace winsim::pnp {
class PnpManager;
}

namespace winsim::user {

class PnpDeviceTree : public DeviceTree {
  public:
    explicit PnpDeviceTree(pnp::PnpManager& manager) : manager_(manager) {}
    std::vector<DeviceNode> devices() const override;
    std::int32_t reenumerate(const std::string& instance) override;

  private:
    pnp::PnpManager& manager_;
};

} // namespace winsim::user
