// Strict parsing of the numbers a person types or a machine file holds: decimal ("5") or
// hexadecimal with a "0x" prefix ("0x300"), the whole text and nothing else, within a range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace winsim::machine {

// The number in the text, or nothing when the text is empty, has a sign, spaces or any other
// character, lacks digits after "0x", or exceeds max.
std::optional<std::uint64_t> parseNumber(std::string_view text, std::uint64_t max = UINT32_MAX);

// "0x" followed by the value in upper-case hexadecimal, at least `digits` digits.
std::string hex(std::uint64_t value, int digits = 8);

} // namespace winsim::machine
