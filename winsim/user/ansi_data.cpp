#include "user/ansi_data.h"

#include <string>
#include <string_view>

namespace winsim::user {

bool is_string_type(std::uint32_t type) {
    return type == reg::value_type::sz || type == reg::value_type::expand_sz ||
           type == reg::value_type::multi_sz;
}

reg::Bytes to_ansi_data(std::uint32_t type, std::span<const std::uint8_t> stored) {
    if (!is_string_type(type)) {
        return reg::Bytes(stored.begin(), stored.end());
    }
    const std::string narrow = reg::from_utf16(reg::bytes_to_utf16(stored));
    return reg::Bytes(narrow.begin(), narrow.end());
}

reg::Bytes from_ansi_data(std::uint32_t type, std::span<const std::uint8_t> given) {
    if (!is_string_type(type)) {
        return reg::Bytes(given.begin(), given.end());
    }
    const std::string_view narrow(reinterpret_cast<const char*>(given.data()), given.size());
    return reg::utf16_to_bytes(reg::to_utf16(narrow));
}

} // namespace winsim::user
