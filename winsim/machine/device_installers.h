// What Windows does, beyond the Plug and Play manager's own work, when a device of the package is
// installed: the card's INF registers the property-page provider in the card's driver key, and
// the Ports class installer gives each port its COM name (ports_class_installer.h). Added to a
// Plug and Play manager before it starts, as class hooks.
#pragma once

#include "pnp/pnp_manager.h"
#include "registry/registry.h"

#include <string>
#include <string_view>

namespace winsim::machine {

// The card's service and its provider registration: "EnumPropPages32" = "dll,function".
inline constexpr std::string_view card_service = "qelmf";
inline constexpr std::string_view provider_value = "EnumPropPages32";
inline constexpr std::string_view provider_entry = "qelui32.dll,EnumPropPages";

// Registers the provider in the driver key of the card with this instance path, as the card's
// INF does with AddReg; false when the device is not the card or has no driver key.
bool registerPropertyPageProvider(reg::Registry& registry, const std::string& instance);

// Adds both to the manager; the registry must outlive it.
void addDeviceInstallers(pnp::PnpManager& manager, reg::Registry& registry);

} // namespace winsim::machine
