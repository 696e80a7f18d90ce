// Key security as the simulated registry keeps it: a key has either its normal DACL or no DACL
// at all (open to all). Callers see it as an opaque, versioned security descriptor blob that can
// be read from a key, kept, and set back on it.
//
// Blob layout (8 bytes): 'Q' 'S' 'D' magic, version byte (1), DACL byte (0 normal, 1 none),
// three zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace winsim::reg {

enum class Dacl : std::uint8_t {
    normal = 0, // the key's usual access rules
    none = 1,   // a NULL DACL: open to all
};

inline constexpr std::size_t security_descriptor_size = 8;

std::vector<std::uint8_t> encode_security_descriptor(Dacl dacl);
// Fails on a blob of the wrong size, magic or version, an unknown DACL byte or nonzero padding.
std::optional<Dacl> decode_security_descriptor(std::span<const std::uint8_t> blob);

} // namespace winsim::reg
