#include "machine/installed_package.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace winsim::machine {

namespace {

struct Service {
    const char* name;
    std::uint32_t start;        // 0 boot, 3 on demand (Plug and Play loads it)
    std::uint32_t errorControl; // 1 normal, 3 critical
    const char* group;          // "" for none
    const char* imagePath;
    const char* displayName;
};

// Type 1 is a kernel-mode driver.
constexpr std::uint32_t kernel_driver = 1;

constexpr Service services[] = {
    {"pci", 0, 3, "Boot Bus Extender", "System32\\DRIVERS\\pci.sys", "PCI Bus Driver"},
    {"qelmf", 3, 1, "", "System32\\DRIVERS\\qelmf.sys", "PCI Serial Card Bus Driver"},
    {"qelser", 3, 1, "", "System32\\DRIVERS\\qelser.sys", "PCI Serial Port Driver"},
};

// 256 COM names, one bit each (COMn is bit n - 1); COM1 and COM2 are the machine's own ports.
constexpr std::size_t com_db_bytes = 32;
constexpr std::uint8_t com1_and_com2 = 0x03;

constexpr const char* uninstall_name = "QEL PCI serial card driver package";
// The uninstaller in a host process, with rundll32's arguments.
constexpr const char* uninstall_command = "rundll32.exe qelun2k.dll,uninstall_driver";

void check(reg::Status status, const std::string& what) {
    if (status != reg::Status::ok) {
        throw std::runtime_error("cannot write " + what + ": " +
                                 std::string(reg::to_string(status)));
    }
}

std::shared_ptr<reg::Key> createKey(reg::Registry& registry, const std::string& path) {
    auto result = registry.create_key(path);
    check(result.status, path);
    return result.key;
}

} // namespace

void writeInstalledPackage(reg::Registry& registry) {
    for (const Service& service : services) {
        const std::string path = std::string(services_key) + "\\" + service.name;
        const auto key = createKey(registry, path);
        check(key->set_dword("Type", kernel_driver), path);
        check(key->set_dword("Start", service.start), path);
        check(key->set_dword("ErrorControl", service.errorControl), path);
        if (*service.group != '\0') {
            check(key->set_string("Group", service.group), path);
        }
        check(key->set_string("ImagePath", service.imagePath, reg::value_type::expand_sz), path);
        check(key->set_string("DisplayName", service.displayName), path);
    }
    const auto comDb = createKey(registry, std::string(com_db_key));
    std::vector<std::uint8_t> claimed(com_db_bytes, 0);
    claimed[0] = com1_and_com2;
    check(comDb->set_value(com_db_value, reg::value_type::binary, claimed),
          std::string(com_db_key));

    const auto uninstall = createKey(registry, std::string(uninstall_key));
    check(uninstall->set_string("DisplayName", uninstall_name), std::string(uninstall_key));
    check(uninstall->set_string("UninstallString", uninstall_command), std::string(uninstall_key));
}

} // namespace winsim::machine
