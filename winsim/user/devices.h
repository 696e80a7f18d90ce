// The machine's devices as SetupAPI and the configuration manager see them: the live tree of
// the Plug and Play manager, and the instance keys under "SYSTEM\CurrentControlSet\Enum".
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "registry/key.h"
#include "user/device_sets.h"
#include "user/device_tree.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace winsim::user {

inline constexpr std::string_view enum_root = "SYSTEM\\CurrentControlSet\\Enum";
inline constexpr std::string_view class_root = "SYSTEM\\CurrentControlSet\\Control\\Class";

// "{4D36E978-E325-11CE-BFC1-08002BE10318}" (braces required, any case).
std::optional<GUID> parse_guid(std::string_view text);

// The device's instance key, or nullptr.
std::shared_ptr<reg::Key> instance_key(std::string_view instance);

// The device as the running tree has it, if it is there.
std::optional<DeviceNode> live_device(std::string_view instance);

// The devices that match, in tree order (present only) or registry order. enumerator: the
// first component of the instance path, or empty for all; class_guid: nullptr for all classes.
DeviceSet collect_devices(bool present_only, std::string_view enumerator, const GUID* class_guid);

// A set holding one device (the device manager's view of a device); nullopt when the device
// is neither live nor in the registry.
std::optional<DeviceEntry> device_entry(std::string_view instance);

} // namespace winsim::user
