// The user-mode side of a running machine, for a command that runs a deliverable's DLL: a session
// over the machine's registry, device tree and DOS device names, with the package's files mapped
// to the modules built for them. Installed as the current session while it lives.
#pragma once

#include "machine/running_machine.h"
#include "user/pnp_device_tree.h"
#include "user/session.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace qelsim {

class UserSide {
  public:
    explicit UserSide(winsim::machine::RunningMachine& machine);
    ~UserSide();
    UserSide(const UserSide&) = delete;
    UserSide& operator=(const UserSide&) = delete;

    winsim::user::Session& session() { return session_; }

  private:
    winsim::user::PnpDeviceTree tree_;
    winsim::user::Session session_;
    winsim::user::Session* previous_;
};

// The built module ("qelui32") that stands for a file of the package: the shared object next to
// the qelsim program if there is one, else the one in the build tree; nothing when neither exists.
std::optional<std::filesystem::path> builtModule(std::string_view module);

} // namespace qelsim
