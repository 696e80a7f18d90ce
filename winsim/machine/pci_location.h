// The PCI location text of a card ("PCI bus 2, device 13, function 0") and the position it names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::machine {

struct PciPosition {
    std::uint32_t bus = 0;
    std::uint32_t device = 0;   // 0..31
    std::uint32_t function = 0; // 0..7
    bool operator==(const PciPosition&) const = default;
};

// The first three runs of decimal digits of the text, read as bus, device and function, as the
// bus driver reads the location text; nothing when there are fewer than three runs or a number
// is out of its range.
std::optional<PciPosition> parsePciLocation(std::string_view text);

// "PCI bus B, device D, function F", as the PCI driver words a card's location.
std::string formatPciLocation(const PciPosition& position);

// The first position from bus 2, device 13, function 0 onwards (device by device, then bus by
// bus) that none of the given location texts names: where a new card goes by default.
PciPosition nextFreePciPosition(const std::vector<std::optional<std::string>>& locations);

} // namespace winsim::machine
