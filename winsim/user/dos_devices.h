// The DOS device names of the machine ("COM3" -> "\Device\Serial0"). A name can be defined
// several times; the newest definition is the one in force and removing it brings back the one
// before, as DefineDosDevice does.
//
// A session keeps a table of its own; on a booted machine the names live in the kernel's object
// manager, where the port driver creates them, and the session is given that table instead
// (set_dos_devices, kernel_dos_devices.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::user {

class DosDevices {
  public:
    DosDevices() = default;
    virtual ~DosDevices() = default;
    DosDevices(const DosDevices&) = delete;
    DosDevices& operator=(const DosDevices&) = delete;

    virtual void define(std::string_view name, std::string target);
    // Removes the newest definition, or the one with exactly this target; false when none.
    virtual bool remove(std::string_view name, const std::string* target);
    // Newest first.
    virtual std::vector<std::string> targets(std::string_view name) const;
    virtual std::vector<std::string> names() const;
    std::optional<std::string> current(std::string_view name) const;

  private:
    std::map<std::string, std::vector<std::string>> links_; // upper-case name -> oldest first
};

} // namespace winsim::user
