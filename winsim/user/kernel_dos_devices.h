// The DOS device names of a booted machine, as the user-mode side sees them: the symbolic links
// of the simulated kernel's object manager, where the port driver names its ports. Give it to
// the session with Session::set_dos_devices.
#pragma once

#include "user/dos_devices.h"

namespace winsim::kernel {
class Kernel;
}

namespace winsim::user {

class KernelDosDevices : public DosDevices {
  public:
    explicit KernelDosDevices(kernel::Kernel& kernel) : kernel_(kernel) {}
    void define(std::string_view name, std::string target) override;
    bool remove(std::string_view name, const std::string* target) override;
    std::vector<std::string> targets(std::string_view name) const override;
    std::vector<std::string> names() const override;

  private:
    kernel::Kernel& kernel_;
};

} // namespace winsim::user
