// What a machine is made of, as machine.json keeps it: the format version, the Windows version
// and the cards in their PCI slots. The registry lives beside it in registry.json.
#pragma once

#include "pnp/pnp_manager.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::machine {

inline constexpr std::string_view config_file_name = "machine.json";
inline constexpr int config_version = 1;
inline constexpr std::size_t max_cards = 16;

// The Windows versions a machine can run.
inline constexpr std::string_view os_xp = "xp";
bool isKnownOs(std::string_view os);

struct MachineConfig {
    int version = config_version;
    std::string os = std::string(os_xp);
    std::vector<pnp::CardConfig> cards;
};

// The port count a port-count word names (0x00040000 -> 4), or 0 for any other word.
unsigned portsOfConfigWord(std::uint32_t word);
// The port-count word of a card with this many ports (1, 2, 4 or 8).
std::uint32_t configWordOfPorts(unsigned ports);

// The I/O ports a card decodes: 8 for each port from its base (8 when its word names no count).
struct IoRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0; // inclusive
    bool overlaps(const IoRange& other) const { return first <= other.last && other.first <= last; }
};
IoRange ioRangeOf(const pnp::CardConfig& card);

// The lowest base from 0x300 upwards, in steps of 0x40 (the most an 8-port card decodes), at which
// a card with this many ports overlaps none of the cards; 0x300 on an empty machine.
std::uint32_t nextFreeIoBase(const std::vector<pnp::CardConfig>& cards, unsigned ports);

// machine.json text, and back. fromJson throws ConfigError naming what is wrong.
std::string toJson(const MachineConfig& config);
MachineConfig fromJson(std::string_view text);

struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace winsim::machine
