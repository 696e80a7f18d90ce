// What installing the package leaves on Windows XP, as its INF installs it: the services of the
// card's bus driver and of the port driver, the PCI bus driver's service, the COM port database
// with the machine's own COM1 and COM2 claimed, the package's uninstall entry, and its files.
// What the INF does when a device of the package is installed is in device_installers.h.
#pragma once

#include "registry/registry.h"

#include <string_view>

namespace winsim::machine {

inline constexpr std::string_view services_key = "SYSTEM\\CurrentControlSet\\Services";
inline constexpr std::string_view com_db_key =
    "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
inline constexpr std::string_view com_db_value = "ComDB";
inline constexpr std::string_view uninstall_key =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QEL_CARD";

// A file of the package on the machine: where Windows has it, and the name of the module built
// for it (the host maps the one onto the other, see user::Session::map_file).
struct PackageFile {
    std::string_view windowsPath;
    std::string_view module;
};
inline constexpr PackageFile package_files[] = {
    {"C:\\WINDOWS\\system32\\qelui32.dll", "qelui32"},
};

// Writes the entries into the registry; throws std::runtime_error if the registry refuses one.
void writeInstalledPackage(reg::Registry& registry);

} // namespace winsim::machine
