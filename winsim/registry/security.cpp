#include "registry/security.h"

namespace winsim::reg {

namespace {

constexpr std::uint8_t version = 1;

} // namespace

std::vector<std::uint8_t> encode_security_descriptor(Dacl dacl) {
    return {'Q', 'S', 'D', version, static_cast<std::uint8_t>(dacl), 0, 0, 0};
}

std::optional<Dacl> decode_security_descriptor(std::span<const std::uint8_t> blob) {
    if (blob.size() != security_descriptor_size || blob[0] != 'Q' || blob[1] != 'S' ||
        blob[2] != 'D' || blob[3] != version || blob[5] != 0 || blob[6] != 0 || blob[7] != 0) {
        return std::nullopt;
    }
    switch (blob[4]) {
    case static_cast<std::uint8_t>(Dacl::normal):
        return Dacl::normal;
    case static_cast<std::uint8_t>(Dacl::none):
        return Dacl::none;
    default:
        return std::nullopt;
    }
}

} // namespace winsim::reg
