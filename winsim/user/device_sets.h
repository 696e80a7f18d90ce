// Device nodes and device information sets.
//
// DevNodes gives every device instance path a DEVINST number that stays the same for the life
// of the session. A device information set is a list of devices with their class GUIDs, handed
// out as an HDEVINFO.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::user {

class DevNodes {
  public:
    DWORD number_of(std::string_view instance);
    std::optional<std::string> instance_of(DWORD devinst) const;

  private:
    std::map<std::string, DWORD> numbers_; // upper-case instance path -> number
    std::map<DWORD, std::string> instances_;
    DWORD next_ = 1;
};

struct DeviceEntry {
    std::string instance;
    DWORD devinst = 0;
    GUID class_guid{};
};

struct DeviceSet {
    std::vector<DeviceEntry> devices;
};

class DeviceSets {
  public:
    HDEVINFO add(DeviceSet set);
    DeviceSet* find(HDEVINFO handle);
    bool destroy(HDEVINFO handle);
    std::size_t size() const { return sets_.size(); }

  private:
    std::uintptr_t next_ = 0xDE000;
    std::map<std::uintptr_t, DeviceSet> sets_;
};

} // namespace winsim::user
