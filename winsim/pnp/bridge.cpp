#include "pnp/bridge.h"

#include "pnp/installer.h"

#include "kernel/kernel.h"
#include "registry/registry.h"

#include <cstring>

namespace winsim::pnp {

namespace {

void putText(std::vector<std::uint8_t>& data, const std::string& text) {
    data = reg::encode_string(text);
}

void putMulti(std::vector<std::uint8_t>& data, const std::vector<std::string>& strings) {
    data.clear();
    for (const std::string& s : strings) {
        const auto bytes = reg::encode_string(s);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    data.push_back(0);
    data.push_back(0);
}

void putNumber(std::vector<std::uint8_t>& data, std::uint32_t value) {
    data = reg::encode_dword(value);
}

} // namespace

Bridge::Bridge(kernel::Kernel& kernel, reg::Registry& registry, Callbacks callbacks)
    : kernel_(kernel), registry_(registry), callbacks_(std::move(callbacks)) {}

void Bridge::put(PDEVICE_OBJECT pdo, DeviceFacts facts) {
    const std::lock_guard guard(lock_);
    devices_[pdo] = std::move(facts);
}

void Bridge::forget(PDEVICE_OBJECT pdo) {
    const std::lock_guard guard(lock_);
    devices_.erase(pdo);
}

std::optional<DeviceFacts> Bridge::facts(PDEVICE_OBJECT pdo) const {
    const std::lock_guard guard(lock_);
    const auto found = devices_.find(pdo);
    if (found == devices_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool Bridge::isPdo(PDEVICE_OBJECT pdo) {
    return facts(pdo).has_value();
}

std::string Bridge::instancePath(PDEVICE_OBJECT pdo) {
    const auto known = facts(pdo);
    return known ? known->instance : std::string();
}

NTSTATUS Bridge::instanceValue(const std::string& instance, const char* name,
                               std::vector<std::uint8_t>& data) const {
    const auto key = registry_.open_key(enumRoot + instance);
    reg::Value value;
    if (key == nullptr || key->query_value(name, value) != reg::Status::ok) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    data = value.data;
    return STATUS_SUCCESS;
}

NTSTATUS Bridge::property(PDEVICE_OBJECT pdo, DEVICE_REGISTRY_PROPERTY property,
                          std::vector<std::uint8_t>& data) {
    const auto known = facts(pdo);
    if (!known) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    data.clear();
    switch (property) {
    case DevicePropertyLocationInformation:
        // The text the bus driver answered when the device was found; none, no property.
        if (!known->location) {
            return STATUS_INVALID_DEVICE_REQUEST;
        }
        putText(data, *known->location);
        return STATUS_SUCCESS;
    case DevicePropertyHardwareID:
        if (known->hardwareIds.empty()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putMulti(data, known->hardwareIds);
        return STATUS_SUCCESS;
    case DevicePropertyCompatibleIDs:
        if (known->compatibleIds.empty()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putMulti(data, known->compatibleIds);
        return STATUS_SUCCESS;
    case DevicePropertyDeviceDescription:
        return instanceValue(known->instance, "DeviceDesc", data);
    case DevicePropertyClassName:
        return instanceValue(known->instance, "Class", data);
    case DevicePropertyClassGuid:
        return instanceValue(known->instance, "ClassGUID", data);
    case DevicePropertyDriverKeyName:
        return instanceValue(known->instance, "Driver", data);
    case DevicePropertyManufacturer:
        return instanceValue(known->instance, "Mfg", data);
    case DevicePropertyFriendlyName:
        return instanceValue(known->instance, "FriendlyName", data);
    case DevicePropertyPhysicalDeviceObjectName: {
        const auto info = kernel_.objects().device(pdo);
        if (!info || info->name.empty()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putText(data, info->name);
        return STATUS_SUCCESS;
    }
    case DevicePropertyEnumeratorName:
        putText(data, known->instance.substr(0, known->instance.find('\\')));
        return STATUS_SUCCESS;
    case DevicePropertyBusTypeGuid:
        if (!known->busInformation) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        data.resize(sizeof(GUID));
        std::memcpy(data.data(), &known->busInformation->BusTypeGuid, sizeof(GUID));
        return STATUS_SUCCESS;
    case DevicePropertyLegacyBusType:
        if (!known->busInformation) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putNumber(data, static_cast<std::uint32_t>(known->busInformation->LegacyBusType));
        return STATUS_SUCCESS;
    case DevicePropertyBusNumber:
        if (!known->busInformation) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putNumber(data, known->busInformation->BusNumber);
        return STATUS_SUCCESS;
    case DevicePropertyAddress:
        if (!known->capabilities || known->capabilities->Address == 0xFFFFFFFF) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putNumber(data, known->capabilities->Address);
        return STATUS_SUCCESS;
    case DevicePropertyUINumber:
        if (!known->capabilities || known->capabilities->UINumber == 0xFFFFFFFF) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        putNumber(data, known->capabilities->UINumber);
        return STATUS_SUCCESS;
    case DevicePropertyInstallState:
        putNumber(data, known->installed ? 0 : 3); // installed, or still to finish
        return STATUS_SUCCESS;
    case DevicePropertyRemovalPolicy:
        putNumber(data, known->capabilities && known->capabilities->SurpriseRemovalOK ? 3 : 1);
        return STATUS_SUCCESS;
    case DevicePropertyBootConfiguration:
    case DevicePropertyBootConfigurationTranslated: {
        if (!known->bootResources) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        const ResourceList list = property == DevicePropertyBootConfiguration
                                      ? *known->bootResources
                                      : translate(*known->bootResources, false);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(list.get());
        data.assign(bytes, bytes + resourceListSize(list.get()));
        return STATUS_SUCCESS;
    }
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

std::string Bridge::driverKeyPath(PDEVICE_OBJECT pdo) {
    const auto known = facts(pdo);
    if (!known) {
        return {};
    }
    const auto key = registry_.open_key(enumRoot + known->instance);
    std::string driver;
    if (key == nullptr || key->get_string("Driver", driver) != reg::Status::ok || driver.empty()) {
        return {};
    }
    return classRoot + driver;
}

void Bridge::invalidateRelations(PDEVICE_OBJECT pdo, DEVICE_RELATION_TYPE type) {
    if (type == BusRelations && callbacks_.busRelationsInvalid) {
        callbacks_.busRelationsInvalid(pdo);
    }
}

void Bridge::invalidateState(PDEVICE_OBJECT) {}

void Bridge::interfaceStateChanged(const kernel::InterfaceInfo& info) {
    if (callbacks_.interfaceChanged) {
        callbacks_.interfaceChanged(info);
    }
}

} // namespace winsim::pnp
