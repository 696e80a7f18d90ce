// A machine made with init in a scratch folder, with cards, booted on demand.
#pragma once

#include "machine/installed_package.h"
#include "machine/machine.h"
#include "machine/running_machine.h"
#include "pnp/installer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace machine_test {

namespace fs = std::filesystem;
namespace machine = winsim::machine;
namespace reg = winsim::reg;

inline std::string portInstance(const char* prefix, unsigned port) {
    char id[16];
    std::snprintf(id, sizeof id, "%s%02X", prefix, port);
    return std::string("QEL_CARD\\SERIAL\\") + id;
}

inline std::string enumKey(const std::string& instance) {
    return std::string(winsim::pnp::enumRoot) + instance;
}

// A text value, "" when it is missing.
inline std::string value(reg::Registry& registry, const std::string& key, const char* name) {
    std::string text;
    if (const auto k = registry.open_key(key)) {
        k->get_string(name, text);
    }
    return text;
}

// The COM port database's bitmap.
inline reg::Bytes comDb(reg::Registry& registry) {
    reg::Value bits;
    if (const auto key = registry.open_key(std::string(machine::com_db_key))) {
        key->query_value(machine::com_db_value, bits);
    }
    return bits.data;
}

class MachineTest : public testing::Test {
  protected:
    MachineTest()
        : dir_(fs::temp_directory_path() /
               ("qel-machine-" + std::to_string(::getpid()) + "-" + std::to_string(next_++))),
          machine_(machine::Machine::create(dir_, "xp")) {}
    ~MachineTest() override {
        running_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // A card at "PCI bus 2, device 13 + index, function 0" with its own I/O range.
    void addCard(unsigned ports = 4) {
        winsim::pnp::CardConfig card;
        const std::size_t index = machine_.config().cards.size();
        card.configWord = machine::configWordOfPorts(ports);
        card.location = "PCI bus 2, device " + std::to_string(13 + index) + ", function 0";
        card.ioBase = static_cast<std::uint32_t>(0x300 + 0x40 * index);
        machine_.config().cards.push_back(card);
        machine_.saveConfig();
    }

    // The saved registry, for changes before a boot.
    void editSaved(const std::function<void(reg::Registry&)>& change) {
        reg::Registry registry;
        machine_.loadRegistry(registry);
        change(registry);
        machine_.saveRegistry(registry);
    }

    machine::RunningMachine& boot() {
        running_ = std::make_unique<machine::RunningMachine>(machine_, nullptr);
        EXPECT_EQ(running_->bootStatus(), STATUS_SUCCESS) << running_->pnp().crashText();
        return *running_;
    }

    // Shuts the running machine down cleanly and saves its registry.
    void shutdown() {
        const machine::ShutdownReport report = running_->shutdown();
        EXPECT_TRUE(report.problems.empty()) << report.problems.front();
        machine_.saveRegistry(running_->registry());
        running_.reset();
    }

    fs::path dir_;
    machine::Machine machine_;
    std::unique_ptr<machine::RunningMachine> running_;

  private:
    static inline int next_ = 0;
};

} // namespace machine_test
