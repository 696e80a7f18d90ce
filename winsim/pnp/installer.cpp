#include "pnp/installer.h"

#include "registry/registry.h"

#include <cstdio>

namespace winsim::pnp {

namespace {

void setMulti(reg::Key& key, const char* name, const std::vector<std::string>& strings) {
    if (strings.empty() || key.set_multi_string(name, strings) != reg::Status::ok) {
        key.delete_value(name);
    }
}

bool readString(const reg::Key& key, const char* name, std::string& out) {
    return key.get_string(name, out) == reg::Status::ok && !out.empty();
}

// Creates the setup class key if needed and a new driver key below it: "{guid}\NNNN".
std::string createDriverKey(reg::Registry& registry, const DriverPackage& package) {
    auto classKey = registry.create_key(classRoot + package.classGuid).key;
    if (classKey == nullptr) {
        return {};
    }
    std::string existing;
    if (classKey->get_string("Class", existing) != reg::Status::ok) {
        classKey->set_string("", package.classDescription);
        classKey->set_string("Class", package.className);
    }
    for (unsigned index = 0; index < 10000; ++index) {
        char name[8];
        std::snprintf(name, sizeof name, "%04u", index);
        const std::string path = package.classGuid + "\\" + name;
        if (registry.open_key(classRoot + path) != nullptr) {
            continue;
        }
        auto driverKey = registry.create_key(classRoot + path).key;
        if (driverKey == nullptr) {
            return {};
        }
        driverKey->set_string("DriverDesc", package.description);
        driverKey->set_string("ProviderName", package.manufacturer);
        driverKey->set_string("MatchingDeviceId", package.hardwareId);
        driverKey->set_string("DriverVersion", "1.0.0.0");
        return path;
    }
    return {};
}

void createServiceKey(reg::Registry& registry, const std::string& service) {
    const std::string path = servicesRoot + service;
    if (registry.open_key(path) != nullptr) {
        return;
    }
    auto key = registry.create_key(path).key;
    if (key == nullptr) {
        return;
    }
    key->set_dword("Type", 1);         // kernel driver
    key->set_dword("Start", 3);        // on demand: Plug and Play loads it
    key->set_dword("ErrorControl", 1); // normal
    key->set_string("ImagePath", "System32\\DRIVERS\\" + service + ".sys",
                    reg::value_type::expand_sz);
}

} // namespace

std::uint32_t capabilityBits(const DEVICE_CAPABILITIES& caps) {
    std::uint32_t bits = 0;
    bits |= caps.LockSupported ? 0x001u : 0;
    bits |= caps.EjectSupported ? 0x002u : 0;
    bits |= caps.Removable ? 0x004u : 0;
    bits |= caps.DockDevice ? 0x008u : 0;
    bits |= caps.UniqueID ? 0x010u : 0;
    bits |= caps.SilentInstall ? 0x020u : 0;
    bits |= caps.RawDeviceOK ? 0x040u : 0;
    bits |= caps.SurpriseRemovalOK ? 0x080u : 0;
    bits |= caps.HardwareDisabled ? 0x100u : 0;
    bits |= caps.NonDynamic ? 0x200u : 0;
    return bits;
}

std::optional<Installation> recordDevice(reg::Registry& registry, const DriverDatabase& database,
                                         const ReportedDevice& device) {
    auto key = registry.create_key(enumRoot + device.instance).key;
    if (key == nullptr) {
        return std::nullopt;
    }
    registry.create_key(key, "Device Parameters");

    setMulti(*key, "HardwareID", device.hardwareIds);
    setMulti(*key, "CompatibleIDs", device.compatibleIds);
    if (device.capabilities) {
        key->set_dword("Capabilities", capabilityBits(*device.capabilities));
        if (device.capabilities->UINumber != 0xFFFFFFFF) {
            key->set_dword("UINumber", device.capabilities->UINumber);
        } else {
            key->delete_value("UINumber");
        }
    }
    if (device.location) {
        key->set_string("LocationInformation", *device.location);
    } else {
        key->delete_value("LocationInformation");
    }
    std::uint32_t flags = 0;
    if (key->get_dword("ConfigFlags", flags) != reg::Status::ok) {
        key->set_dword("ConfigFlags", 0);
    }

    Installation installed;
    std::string driverKey;
    if (readString(*key, "Service", installed.service) && readString(*key, "Driver", driverKey) &&
        registry.open_key(classRoot + driverKey) != nullptr) {
        readString(*key, "Class", installed.className);
        readString(*key, "ClassGUID", installed.classGuid);
        installed.driverKey = driverKey;
        return installed;
    }

    const DriverPackage* package = database.match(device.hardwareIds, device.compatibleIds);
    if (package == nullptr) {
        if (!device.description.empty()) {
            key->set_string("DeviceDesc", device.description);
        }
        return std::nullopt;
    }
    installed.service = package->service;
    installed.className = package->className;
    installed.classGuid = package->classGuid;
    installed.driverKey = createDriverKey(registry, *package);
    installed.fresh = true;
    key->set_string("DeviceDesc",
                    package->description.empty() ? device.description : package->description);
    key->set_string("Service", installed.service);
    key->set_string("Class", installed.className);
    key->set_string("ClassGUID", installed.classGuid);
    key->set_string("Driver", installed.driverKey);
    key->set_string("Mfg", package->manufacturer);
    createServiceKey(registry, installed.service);
    return installed;
}

void recordParentIdPrefix(reg::Registry& registry, const std::string& instance,
                          const std::string& prefix) {
    if (auto key = registry.open_key(enumRoot + instance)) {
        key->set_string("ParentIdPrefix", prefix);
    }
}

} // namespace winsim::pnp
