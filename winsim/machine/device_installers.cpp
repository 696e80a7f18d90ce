#include "machine/device_installers.h"

#include "machine/ports_class_installer.h"
#include "pnp/installer.h"
#include "registry/names.h"

namespace winsim::machine {

bool registerPropertyPageProvider(reg::Registry& registry, const std::string& instance) {
    const auto instanceKey = registry.open_key(std::string(pnp::enumRoot) + instance);
    std::string service;
    std::string driver;
    if (instanceKey == nullptr || instanceKey->get_string("Service", service) != reg::Status::ok ||
        !reg::names_equal(service, card_service) ||
        instanceKey->get_string("Driver", driver) != reg::Status::ok || driver.empty()) {
        return false;
    }
    const auto driverKey = registry.open_key(std::string(pnp::classRoot) + driver);
    return driverKey != nullptr &&
           driverKey->set_string(provider_value, provider_entry) == reg::Status::ok;
}

void addDeviceInstallers(pnp::PnpManager& manager, reg::Registry& registry) {
    manager.addClassHook([&registry](const pnp::ClassEvent& event) {
        if (event.phase != pnp::ClassEvent::Phase::installed) {
            return;
        }
        if (reg::names_equal(event.className, ports_class_name)) {
            installPort(registry, event.instance);
        } else {
            registerPropertyPageProvider(registry, event.instance);
        }
    });
}

} // namespace winsim::machine
