#include "machine/pci_location.h"

#include "machine/numbers.h"

#include <algorithm>

namespace winsim::machine {

namespace {

constexpr std::uint32_t max_bus = 255;
constexpr std::uint32_t max_device = 31;
constexpr std::uint32_t max_function = 7;

} // namespace

std::optional<PciPosition> parsePciLocation(std::string_view text) {
    std::uint32_t numbers[3] = {};
    const std::uint32_t limits[3] = {max_bus, max_device, max_function};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        while (at < text.size() && (text[at] < '0' || text[at] > '9')) {
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        if (start == at) {
            return std::nullopt;
        }
        const auto number = parseNumber(text.substr(start, at - start), limits[i]);
        if (!number) {
            return std::nullopt;
        }
        numbers[i] = static_cast<std::uint32_t>(*number);
    }
    return PciPosition{numbers[0], numbers[1], numbers[2]};
}

std::string formatPciLocation(const PciPosition& position) {
    return "PCI bus " + std::to_string(position.bus) + ", device " +
           std::to_string(position.device) + ", function " + std::to_string(position.function);
}

PciPosition nextFreePciPosition(const std::vector<std::optional<std::string>>& locations) {
    std::vector<PciPosition> taken;
    for (const auto& text : locations) {
        if (text) {
            if (const auto position = parsePciLocation(*text)) {
                taken.push_back(*position);
            }
        }
    }
    PciPosition candidate{2, 13, 0};
    while (std::find(taken.begin(), taken.end(), candidate) != taken.end()) {
        if (++candidate.device > max_device) {
            candidate.device = 0;
            candidate.bus = candidate.bus == max_bus ? 0 : candidate.bus + 1;
        }
    }
    return candidate;
}

} // namespace winsim::machine
