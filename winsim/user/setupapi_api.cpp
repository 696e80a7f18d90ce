// SetupAPI, device side.
#include "registry/names.h"
#include "registry/registry.h"
#include "user/ansi_data.h"
#include "user/api.h"
#include "user/devices.h"

#include <cstring>

namespace winsim::user {
namespace {

struct PropertySource {
    const char* value_name; // in the instance key
    DWORD type;             // the type reported when the value comes from the running tree
};

std::optional<PropertySource> property_source(DWORD property) {
    switch (property) {
    case SPDRP_DEVICEDESC:
        return PropertySource{"DeviceDesc", REG_SZ};
    case SPDRP_HARDWAREID:
        return PropertySource{"HardwareID", REG_MULTI_SZ};
    case SPDRP_COMPATIBLEIDS:
        return PropertySource{"CompatibleIDs", REG_MULTI_SZ};
    case SPDRP_SERVICE:
        return PropertySource{"Service", REG_SZ};
    case SPDRP_CLASS:
        return PropertySource{"Class", REG_SZ};
    case SPDRP_CLASSGUID:
        return PropertySource{"ClassGUID", REG_SZ};
    case SPDRP_DRIVER:
        return PropertySource{"Driver", REG_SZ};
    case SPDRP_CONFIGFLAGS:
        return PropertySource{"ConfigFlags", REG_DWORD};
    case SPDRP_MFG:
        return PropertySource{"Mfg", REG_SZ};
    case SPDRP_FRIENDLYNAME:
        return PropertySource{"FriendlyName", REG_SZ};
    case SPDRP_LOCATION_INFORMATION:
        return PropertySource{"LocationInformation", REG_SZ};
    case SPDRP_UPPERFILTERS:
        return PropertySource{"UpperFilters", REG_MULTI_SZ};
    case SPDRP_LOWERFILTERS:
        return PropertySource{"LowerFilters", REG_MULTI_SZ};
    default:
        return std::nullopt;
    }
}

reg::Bytes ansi_string(const std::string& text) {
    reg::Bytes out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

reg::Bytes ansi_multi_string(const std::vector<std::string>& strings) {
    reg::Bytes out;
    for (const auto& text : strings) {
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

// What the bus driver reported for the property, for a device whose instance key lacks it.
std::optional<reg::Bytes> reported_property(std::string_view instance, DWORD property) {
    auto node = live_device(instance);
    if (!node) {
        return std::nullopt;
    }
    auto text = [](const std::string& value) -> std::optional<reg::Bytes> {
        if (value.empty()) {
            return std::nullopt;
        }
        return ansi_string(value);
    };
    auto list = [](const std::vector<std::string>& values) -> std::optional<reg::Bytes> {
        if (values.empty()) {
            return std::nullopt;
        }
        return ansi_multi_string(values);
    };
    switch (property) {
    case SPDRP_DEVICEDESC:
        return text(node->description);
    case SPDRP_LOCATION_INFORMATION:
        return text(node->location);
    case SPDRP_SERVICE:
        return text(node->service);
    case SPDRP_HARDWAREID:
        return list(node->hardware_ids);
    case SPDRP_COMPATIBLEIDS:
        return list(node->compatible_ids);
    default:
        return std::nullopt;
    }
}

// The device of the set that DeviceInfoData names, or nullptr with the last error set.
const DeviceEntry* member(HDEVINFO set_handle, PSP_DEVINFO_DATA data) {
    DeviceSet* set = sys().state().device_sets.find(set_handle);
    if (set == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    for (const auto& entry : set->devices) {
        if (entry.devinst == data->DevInst) {
            return &entry;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

} // namespace
} // namespace winsim::user

using namespace winsim::user;
namespace reg = winsim::reg;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
    if (auto error = injected("SetupDiGetClassDevsA")) {
        SetLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    if ((Flags & DIGCF_DEVICEINTERFACE) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED); // device interfaces are not listed here
        return INVALID_HANDLE_VALUE;
    }
    const bool all_classes = (Flags & DIGCF_ALLCLASSES) != 0;
    if (!all_classes && ClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DeviceSet set =
        collect_devices((Flags & DIGCF_PRESENT) != 0, Enumerator == nullptr ? "" : Enumerator,
                        all_classes ? nullptr : ClassGuid);
    return sys().state().device_sets.add(std::move(set));
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto error = injected("SetupDiEnumDeviceInfo")) {
        return fail(*error);
    }
    DeviceSet* set = sys().state().device_sets.find(DeviceInfoSet);
    if (set == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    if (MemberIndex >= set->devices.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    const DeviceEntry& entry = set->devices[MemberIndex];
    DeviceInfoData->ClassGuid = entry.class_guid;
    DeviceInfoData->DevInst = entry.devinst;
    DeviceInfoData->Reserved = 0;
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (auto error = injected("SetupDiDestroyDeviceInfoList")) {
        return fail(*error);
    }
    return sys().state().device_sets.destroy(DeviceInfoSet) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    if (auto error = injected("SetupDiGetDeviceRegistryPropertyA")) {
        return fail(*error);
    }
    const DeviceEntry* device = member(DeviceInfoSet, DeviceInfoData);
    if (device == nullptr) {
        return FALSE;
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::optional<PropertySource> source = property_source(Property);
    if (!source) {
        return fail(ERROR_INVALID_REG_PROPERTY);
    }
    DWORD type = source->type;
    std::optional<reg::Bytes> data;
    if (auto key = instance_key(device->instance)) {
        reg::Value value;
        if (key->query_value(source->value_name, value) == reg::Status::ok) {
            type = value.type;
            data = to_ansi_data(value.type, value.data);
        }
    }
    if (!data) {
        data = reported_property(device->instance, Property);
    }
    if (!data) {
        return fail(ERROR_INVALID_DATA);
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = type;
    }
    if (RequiredSize != nullptr) {
        *RequiredSize = static_cast<DWORD>(data->size());
    }
    if (PropertyBufferSize < data->size()) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!data->empty()) {
        std::memcpy(PropertyBuffer, data->data(), data->size());
    }
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    if (auto error = injected("SetupDiGetDeviceInstanceIdA")) {
        return fail(*error);
    }
    const DeviceEntry* device = member(DeviceInfoSet, DeviceInfoData);
    if (device == nullptr) {
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(device->instance.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (DeviceInstanceId == nullptr || DeviceInstanceIdSize < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(DeviceInstanceId, device->instance.c_str(), needed);
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 DWORD Scope, DWORD HwProfile, DWORD KeyType, REGSAM samDesired) {
    const auto invalid = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (auto error = injected("SetupDiOpenDevRegKey")) {
        SetLastError(*error);
        return invalid;
    }
    const DeviceEntry* device = member(DeviceInfoSet, DeviceInfoData);
    if (device == nullptr) {
        return invalid;
    }
    if (Scope != DICS_FLAG_GLOBAL) {
        // Hardware-profile specific keys are not kept by the simulated machine.
        SetLastError(ERROR_INVALID_FLAGS);
        return invalid;
    }
    std::string path;
    if (KeyType == DIREG_DEV) {
        path = reg::join_key_path(reg::join_key_path(enum_root, device->instance),
                                  "Device Parameters");
    } else if (KeyType == DIREG_DRV) {
        auto key = instance_key(device->instance);
        std::string driver;
        if (!key || key->get_string("Driver", driver) != reg::Status::ok || driver.empty()) {
            SetLastError(ERROR_KEY_DOES_NOT_EXIST);
            return invalid;
        }
        path = reg::join_key_path(class_root, driver);
    } else {
        SetLastError(ERROR_INVALID_FLAGS);
        return invalid;
    }
    std::shared_ptr<reg::Key> key = sys().registry().open_key(path);
    if (!key) {
        SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return invalid;
    }
    return sys().state().keys.add(std::move(key), map_key_access(samDesired));
}

} // extern "C"
