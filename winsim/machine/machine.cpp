#include "machine/machine.h"

#include "machine/atomic_file.h"
#include "machine/installed_package.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace winsim::machine {

namespace fs = std::filesystem;

namespace {

// Undoes the creation of a machine folder unless the creation completes.
class CreationGuard {
  public:
    CreationGuard(fs::path dir, bool madeDir) : dir_(std::move(dir)), madeDir_(madeDir) {}
    CreationGuard(const CreationGuard&) = delete;
    CreationGuard& operator=(const CreationGuard&) = delete;
    ~CreationGuard() {
        if (done_) {
            return;
        }
        std::error_code ignored;
        fs::remove(dir_ / config_file_name, ignored);
        fs::remove(dir_ / reg::registry_file_name, ignored);
        if (madeDir_) {
            fs::remove(dir_, ignored);
        }
    }
    void done() { done_ = true; }

  private:
    fs::path dir_;
    bool madeDir_;
    bool done_ = false;
};

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        throw MachineError("cannot read " + file.string());
    }
    return text.str();
}

} // namespace

Machine Machine::create(const fs::path& dir, const std::string& os) {
    if (!isKnownOs(os)) {
        throw MachineError("unknown Windows version \"" + os + "\" (known: xp)");
    }
    std::error_code ec;
    const fs::file_status status = fs::status(dir, ec);
    bool madeDir = false;
    if (fs::exists(status)) {
        if (!fs::is_directory(status)) {
            throw MachineError(dir.string() + " exists and is not a folder");
        }
        if (fs::exists(dir / config_file_name, ec)) {
            throw MachineError(dir.string() + " already holds a machine");
        }
        if (!fs::is_empty(dir, ec) || ec) {
            throw MachineError(dir.string() + " is not empty; a machine needs a folder of its own");
        }
    } else {
        const fs::path parent = fs::absolute(dir, ec).parent_path();
        if (!fs::is_directory(parent, ec)) {
            throw MachineError("cannot create " + dir.string() + ": folder " + parent.string() +
                               " does not exist");
        }
        if (!fs::create_directory(dir, ec) || ec) {
            throw MachineError("cannot create " + dir.string() + ": " + ec.message());
        }
        madeDir = true;
    }
    CreationGuard guard(dir, madeDir);
    Machine machine(dir, MachineConfig{});
    machine.config_.os = os;
    reg::Registry registry;
    try {
        writeInstalledPackage(registry);
    } catch (const std::runtime_error& e) {
        throw MachineError(e.what());
    }
    machine.saveRegistry(registry);
    machine.saveConfig(); // last: machine.json is what makes the folder a machine
    guard.done();
    return machine;
}

Machine Machine::open(const fs::path& dir) {
    std::error_code ec;
    if (!fs::exists(dir, ec)) {
        throw MachineError("no machine at " + dir.string() + ": the folder does not exist");
    }
    if (!fs::is_directory(dir, ec)) {
        throw MachineError("no machine at " + dir.string() + ": it is not a folder");
    }
    const fs::path file = dir / config_file_name;
    if (!fs::exists(file, ec)) {
        throw MachineError(dir.string() + " is not a machine (it has no " +
                           std::string(config_file_name) + "); make one with: qelsim --machine " +
                           dir.string() + " init");
    }
    MachineConfig loaded;
    try {
        loaded = fromJson(readFile(file));
    } catch (const ConfigError& e) {
        throw MachineError(file.string() + " is damaged: " + e.what());
    }
    if (!fs::exists(dir / reg::registry_file_name, ec)) {
        throw MachineError(dir.string() + " is damaged: it has no " +
                           std::string(reg::registry_file_name));
    }
    return Machine(dir, std::move(loaded));
}

void Machine::saveConfig() const {
    try {
        writeFileAtomically(configFile(), toJson(config_));
    } catch (const std::runtime_error& e) {
        throw MachineError(e.what());
    }
}

void Machine::loadRegistry(reg::Registry& registry) const {
    const reg::FileResult result = registry.load(registryFile());
    if (!result.ok()) {
        throw MachineError("cannot load the registry of " + dir_.string() + ": " + result.message);
    }
}

void Machine::saveRegistry(const reg::Registry& registry) const {
    const reg::FileResult result = registry.save(registryFile());
    if (!result.ok()) {
        throw MachineError("cannot save the registry of " + dir_.string() + ": " + result.message);
    }
}

} // namespace winsim::machine
