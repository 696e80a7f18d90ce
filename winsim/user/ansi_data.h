// Value data as the 8-bit ("A") registry calls see it. The registry stores strings
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as UTF-16LE; the A calls read and write them in the
// system's 8-bit code page, one byte per UTF-16 code unit (characters outside it become '?').
// Other types pass unchanged.
#pragma once

#include "registry/value_codec.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace winsim::user {

bool is_string_type(std::uint32_t type);

// Stored data -> what RegQueryValueExA returns (its size is the size it reports).
reg::Bytes to_ansi_data(std::uint32_t type, std::span<const std::uint8_t> stored);
// What RegSetValueExA was given -> stored data.
reg::Bytes from_ansi_data(std::uint32_t type, std::span<const std::uint8_t> given);

} // namespace winsim::user
