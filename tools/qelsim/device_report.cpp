#include "device_report.h"

#include "machine/numbers.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <map>

namespace qelsim {

namespace {

using json = nlohmann::ordered_json;
using winsim::machine::hex;
using winsim::pnp::DeviceInfo;

// PORT_CONFIG's fields in the order of the record.
constexpr const char* port_config_fields[] = {
    "LocationCode",
    "RawPortBase",
    "TrPortBase",
    "RawSharedRegister",
    "TrSharedRegister",
    "PortFlags",
    "PortIndex",
    "Reserved1",
    "RawInterruptLevel",
    "RawInterruptVector",
    "RawInterruptAffinity",
    "Reserved2",
    "TrInterruptLevel",
    "TrInterruptVector",
    "TrInterruptAffinity",
    "Reserved3",
};

json capabilitiesJson(const DEVICE_CAPABILITIES& caps) {
    json states = json::array();
    for (const auto state : caps.DeviceState) {
        states.push_back(static_cast<int>(state));
    }
    return json{
        {"Size", caps.Size},
        {"Version", caps.Version},
        {"DeviceD1", caps.DeviceD1 != 0},
        {"DeviceD2", caps.DeviceD2 != 0},
        {"LockSupported", caps.LockSupported != 0},
        {"EjectSupported", caps.EjectSupported != 0},
        {"Removable", caps.Removable != 0},
        {"DockDevice", caps.DockDevice != 0},
        {"UniqueID", caps.UniqueID != 0},
        {"SilentInstall", caps.SilentInstall != 0},
        {"RawDeviceOK", caps.RawDeviceOK != 0},
        {"SurpriseRemovalOK", caps.SurpriseRemovalOK != 0},
        {"WakeFromD0", caps.WakeFromD0 != 0},
        {"WakeFromD1", caps.WakeFromD1 != 0},
        {"WakeFromD2", caps.WakeFromD2 != 0},
        {"WakeFromD3", caps.WakeFromD3 != 0},
        {"HardwareDisabled", caps.HardwareDisabled != 0},
        {"NonDynamic", caps.NonDynamic != 0},
        {"WarmEjectSupported", caps.WarmEjectSupported != 0},
        {"NoDisplayInUI", caps.NoDisplayInUI != 0},
        {"Address", caps.Address},
        {"UINumber", caps.UINumber},
        {"DeviceState", std::move(states)},
        {"SystemWake", static_cast<int>(caps.SystemWake)},
        {"DeviceWake", static_cast<int>(caps.DeviceWake)},
        {"D1Latency", caps.D1Latency},
        {"D2Latency", caps.D2Latency},
        {"D3Latency", caps.D3Latency},
    };
}

json portConfigJson(const std::map<std::string, uint64_t>& fields) {
    json out = json::object();
    for (const char* name : port_config_fields) {
        if (const auto it = fields.find(name); it != fields.end()) {
            out[name] = it->second;
        }
    }
    for (const auto& [name, value] : fields) { // any field not named above, by name
        if (!out.contains(name)) {
            out[name] = value;
        }
    }
    return out;
}

std::size_t depthOf(const DeviceInfo& device, const std::map<std::string, const DeviceInfo*>& all) {
    std::size_t depth = 0;
    const DeviceInfo* at = &device;
    while (at->parent && depth < all.size()) {
        const auto parent = all.find(*at->parent);
        if (parent == all.end()) {
            break;
        }
        at = parent->second;
        ++depth;
    }
    return depth;
}

uint64_t field(const std::map<std::string, uint64_t>& fields, const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? 0 : it->second;
}

} // namespace

std::string guidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

json deviceJson(const DeviceInfo& device) {
    json out{
        {"instance", device.instance},
        {"parent", device.parent ? json(*device.parent) : json(nullptr)},
        {"service", device.service},
        {"state", device.state},
        {"status", hex(static_cast<uint32_t>(device.status))},
    };
    if (!device.deviceId.empty()) {
        out["device_id"] = device.deviceId;
        out["hardware_ids"] = device.hardwareIds;
        out["compatible_ids"] = device.compatibleIds;
        out["instance_id"] = device.instanceId;
        out["description"] = device.description;
        out["location"] = device.location;
    }
    if (device.capabilities) {
        out["capabilities"] = capabilitiesJson(*device.capabilities);
    }
    if (device.busInformation) {
        out["bus_information"] = json{
            {"BusTypeGuid", guidText(device.busInformation->BusTypeGuid)},
            {"LegacyBusType", static_cast<int>(device.busInformation->LegacyBusType)},
            {"BusNumber", device.busInformation->BusNumber},
        };
    }
    if (device.interfaceRefs) {
        out["interface_refs"] = *device.interfaceRefs;
    }
    if (device.portConfig) {
        out["port_config"] = portConfigJson(*device.portConfig);
    }
    out["children"] = device.childInstances;
    out["power"] = json{
        {"system", winsim::pnp::systemPowerName(device.power.system)},
        {"device", winsim::pnp::devicePowerName(device.power.device)},
    };
    return out;
}

json devicesJson(const std::vector<DeviceInfo>& devices) {
    json list = json::array();
    for (const auto& device : devices) {
        list.push_back(deviceJson(device));
    }
    return json{{"devices", std::move(list)}};
}

std::string portResourcesText(const std::map<std::string, uint64_t>& portConfig) {
    const uint64_t base = field(portConfig, "RawPortBase");
    const uint64_t shared = field(portConfig, "RawSharedRegister");
    std::string text = "registers " + hex(base, 4) + "-" + hex(base + 7, 4) + ", shared register ";
    text += shared == 0 ? std::string("none") : hex(shared, 4);
    text += ", interrupt level " + std::to_string(field(portConfig, "RawInterruptLevel")) +
            " vector " + std::to_string(field(portConfig, "RawInterruptVector"));
    return text;
}

void printDeviceTree(std::ostream& out, const std::vector<DeviceInfo>& devices) {
    std::map<std::string, const DeviceInfo*> byInstance;
    for (const auto& device : devices) {
        byInstance[device.instance] = &device;
    }
    std::vector<std::string> names;
    std::size_t nameWidth = std::string("DEVICE").size();
    std::size_t serviceWidth = std::string("SERVICE").size();
    std::size_t stateWidth = std::string("STATE").size();
    for (const auto& device : devices) {
        stateWidth = std::max(stateWidth, device.state.size());
        names.push_back(std::string(2 * depthOf(device, byInstance), ' ') + device.instance);
        nameWidth = std::max(nameWidth, names.back().size());
        serviceWidth = std::max(serviceWidth, device.service.size());
    }
    const auto row = [&](const std::string& name, const std::string& state,
                         const std::string& service, const std::string& status) {
        out << std::left << std::setw(static_cast<int>(nameWidth)) << name << "  "
            << std::setw(static_cast<int>(stateWidth)) << state << "  "
            << std::setw(static_cast<int>(serviceWidth)) << service << "  " << status << "\n";
    };
    row("DEVICE", "STATE", "SERVICE", "START STATUS");
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceInfo& device = devices[i];
        row(names[i], device.state, device.service.empty() ? "-" : device.service,
            winsim::pnp::statusName(device.status));
        if (device.portConfig) {
            const std::string indent(2 * depthOf(device, byInstance) + 4, ' ');
            out << indent << "port " << field(*device.portConfig, "PortIndex") << ": "
                << portResourcesText(*device.portConfig);
            if (device.interfaceRefs) {
                out << ", interface references " << *device.interfaceRefs;
            }
            out << "\n";
        }
    }
    out << std::right;
}

} // namespace qelsim
