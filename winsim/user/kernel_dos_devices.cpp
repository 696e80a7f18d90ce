#include "user/kernel_dos_devices.h"

#include "kernel/kernel.h"

namespace winsim::user {

void KernelDosDevices::define(std::string_view name, std::string target) {
    kernel_.symbolicLinks().define(name, std::move(target));
}

bool KernelDosDevices::remove(std::string_view name, const std::string* target) {
    return kernel_.symbolicLinks().remove(name, target);
}

std::vector<std::string> KernelDosDevices::targets(std::string_view name) const {
    return kernel_.symbolicLinks().targets(name);
}

std::vector<std::string> KernelDosDevices::names() const {
    return kernel_.symbolicLinks().names();
}

} // namespace winsim::user
