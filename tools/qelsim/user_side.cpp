#include "user_side.h"

#include "kernel/kernel.h"
#include "machine/installed_package.h"

#include <map>
#include <string>
#include <system_error>

namespace qelsim {

namespace {

// Where the build put the modules (set by the build of qelsim).
const std::map<std::string, std::string, std::less<>> modulesInBuild = {
#ifdef QELSIM_QELUI32_MODULE
    {"qelui32", QELSIM_QELUI32_MODULE},
#endif
};

} // namespace

std::optional<std::filesystem::path> builtModule(std::string_view module) {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = program.parent_path() / (std::string(module) + ".so");
        if (std::filesystem::is_regular_file(beside, ec)) {
            return beside;
        }
    }
    const auto built = modulesInBuild.find(module);
    if (built != modulesInBuild.end() && std::filesystem::is_regular_file(built->second, ec)) {
        return std::filesystem::path(built->second);
    }
    return std::nullopt;
}

UserSide::UserSide(winsim::machine::RunningMachine& machine)
    : tree_(machine.pnp()), session_(machine.registry(), &tree_),
      previous_(winsim::user::current_session()) {
    session_.set_dos_devices(&machine.kernel().symbolicLinks());
    for (const winsim::machine::PackageFile& file : winsim::machine::package_files) {
        if (const auto module = builtModule(file.module)) {
            session_.map_file(file.windowsPath, *module);
        }
    }
    winsim::user::install_session(&session_);
}

UserSide::~UserSide() {
    winsim::user::install_session(previous_);
}

} // namespace qelsim
