// A machine: a folder holding machine.json (what the machine is made of) and registry.json (its
// registry, kept from one power-on to the next).
//
// Every change is written atomically and only by an operation that succeeded; an operation that
// throws leaves the folder as it was.
#pragma once

#include "machine/machine_config.h"
#include "registry/registry.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace winsim::machine {

// Anything that makes a machine operation fail; the text is for a person.
struct MachineError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Machine {
  public:
    // Makes a new machine in dir with the package installed. dir may be missing (its parent must
    // exist) or an empty folder; a folder holding anything is refused.
    static Machine create(const std::filesystem::path& dir, const std::string& os);
    // Opens the machine in dir; refuses a missing folder, a folder that is not a machine and a
    // damaged machine file.
    static Machine open(const std::filesystem::path& dir);

    const std::filesystem::path& dir() const { return dir_; }
    const MachineConfig& config() const { return config_; }
    MachineConfig& config() { return config_; }

    // Writes machine.json from config().
    void saveConfig() const;
    // Reads registry.json into the registry, or writes the registry to it.
    void loadRegistry(reg::Registry& registry) const;
    void saveRegistry(const reg::Registry& registry) const;

  private:
    Machine(std::filesystem::path dir, MachineConfig config)
        : dir_(std::move(dir)), config_(std::move(config)) {}

    std::filesystem::path configFile() const { return dir_ / config_file_name; }
    std::filesystem::path registryFile() const { return dir_ / reg::registry_file_name; }

    std::filesystem::path dir_;
    MachineConfig config_;
};

} // namespace winsim::machine
