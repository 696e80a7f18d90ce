#include "user/device_sets.h"

#include "registry/names.h"

namespace winsim::user {

DWORD DevNodes::number_of(std::string_view instance) {
    const std::string key = reg::upper_name(instance);
    auto it = numbers_.find(key);
    if (it != numbers_.end()) {
        return it->second;
    }
    const DWORD number = next_++;
    numbers_.emplace(key, number);
    instances_.emplace(number, std::string(instance));
    return number;
}

std::optional<std::string> DevNodes::instance_of(DWORD devinst) const {
    auto it = instances_.find(devinst);
    if (it == instances_.end()) {
        return std::nullopt;
    }
    return it->second;
}

HDEVINFO DeviceSets::add(DeviceSet set) {
    const std::uintptr_t handle = next_;
    next_ += 8;
    sets_.emplace(handle, std::move(set));
    return reinterpret_cast<HDEVINFO>(handle);
}

DeviceSet* DeviceSets::find(HDEVINFO handle) {
    auto it = sets_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == sets_.end() ? nullptr : &it->second;
}

bool DeviceSets::destroy(HDEVINFO handle) {
    return sets_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

} // namespace winsim::user
