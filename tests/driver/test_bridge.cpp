#include "test_bridge.h"

namespace qeltest {

void TestBridge::addPdo(PDEVICE_OBJECT pdo, std::string instancePath,
                        std::optional<std::string> location) {
    std::lock_guard guard(lock_);
    pdos_[pdo] = Pdo{std::move(instancePath), std::move(location)};
}

void TestBridge::removePdo(PDEVICE_OBJECT pdo) {
    std::lock_guard guard(lock_);
    pdos_.erase(pdo);
}

bool TestBridge::isPdo(PDEVICE_OBJECT pdo) {
    std::lock_guard guard(lock_);
    return pdos_.contains(pdo);
}

std::string TestBridge::instancePath(PDEVICE_OBJECT pdo) {
    std::lock_guard guard(lock_);
    auto it = pdos_.find(pdo);
    return it == pdos_.end() ? std::string() : it->second.instancePath;
}

NTSTATUS TestBridge::property(PDEVICE_OBJECT pdo, DEVICE_REGISTRY_PROPERTY property,
                              std::vector<std::uint8_t>& data) {
    std::lock_guard guard(lock_);
    auto it = pdos_.find(pdo);
    if (it == pdos_.end() || property != DevicePropertyLocationInformation ||
        !it->second.location) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // UTF-16LE with a terminating NUL, as the property is stored.
    data.clear();
    for (char c : *it->second.location) {
        data.push_back(static_cast<std::uint8_t>(c));
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(0);
    return STATUS_SUCCESS;
}

std::string TestBridge::driverKeyPath(PDEVICE_OBJECT pdo) {
    (void)pdo;
    return {};
}

void TestBridge::invalidateRelations(PDEVICE_OBJECT pdo, DEVICE_RELATION_TYPE type) {
    (void)pdo;
    (void)type;
}

void TestBridge::invalidateState(PDEVICE_OBJECT pdo) {
    (void)pdo;
}

} // namespace qeltest
