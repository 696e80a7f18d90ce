// A PnP manager stand-in: the devices it is told about count as PDOs.
#pragma once

#include "kernel/interfaces.h"
#include "kernel/pnp_bridge.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace kt {

struct FakeBridge : winsim::kernel::PnpBridge {
    std::set<PDEVICE_OBJECT> pdos;
    std::string instance = "PCI\\VEN_1234&DEV_5678&SUBSYS_00041234&REV_01\\3&1&68";
    std::map<DEVICE_REGISTRY_PROPERTY, std::vector<std::uint8_t>> properties;
    std::string driverKey;
    std::vector<std::pair<PDEVICE_OBJECT, DEVICE_RELATION_TYPE>> invalidated;
    std::vector<PDEVICE_OBJECT> stateInvalidated, deleted;
    std::vector<winsim::kernel::InterfaceInfo> interfaceChanges;

    bool isPdo(PDEVICE_OBJECT pdo) override { return pdos.contains(pdo); }
    std::string instancePath(PDEVICE_OBJECT) override { return instance; }
    NTSTATUS property(PDEVICE_OBJECT, DEVICE_REGISTRY_PROPERTY p,
                      std::vector<std::uint8_t>& data) override {
        const auto it = properties.find(p);
        if (it == properties.end()) {
            return STATUS_INVALID_PARAMETER;
        }
        data = it->second;
        return STATUS_SUCCESS;
    }
    std::string driverKeyPath(PDEVICE_OBJECT) override { return driverKey; }
    void invalidateRelations(PDEVICE_OBJECT pdo, DEVICE_RELATION_TYPE type) override {
        invalidated.emplace_back(pdo, type);
    }
    void invalidateState(PDEVICE_OBJECT pdo) override { stateInvalidated.push_back(pdo); }
    void deviceDeleted(PDEVICE_OBJECT device) override { deleted.push_back(device); }
    void interfaceStateChanged(const winsim::kernel::InterfaceInfo& info) override {
        interfaceChanges.push_back(info);
    }
};

// UTF-16LE bytes of the text with its NUL, as a string property comes back.
inline std::vector<std::uint8_t> wideBytes(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (const char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

} // namespace kt
