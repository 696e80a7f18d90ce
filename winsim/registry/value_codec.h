// Value types and the byte encodings the registry stores values in. Strings are kept as NT keeps
// them: UTF-16LE with a terminating NUL. Narrow text is taken as Latin-1 (which covers ASCII):
// one byte per character.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {

// Value type codes as stored with each value.
namespace value_type {
inline constexpr std::uint32_t none = 0;
inline constexpr std::uint32_t sz = 1;
inline constexpr std::uint32_t expand_sz = 2;
inline constexpr std::uint32_t binary = 3;
inline constexpr std::uint32_t dword = 4;
inline constexpr std::uint32_t multi_sz = 7;
} // namespace value_type

using Bytes = std::vector<std::uint8_t>;

// Latin-1 <-> UTF-16. Characters above U+00FF become '?' on the way back, as a narrow-string
// conversion with a default character does.
std::u16string to_utf16(std::string_view text);
std::string from_utf16(std::u16string_view text);

// UTF-16 code units <-> little-endian bytes. A trailing odd byte is ignored.
Bytes utf16_to_bytes(std::u16string_view text);
std::u16string bytes_to_utf16(std::span<const std::uint8_t> data);

// REG_SZ / REG_EXPAND_SZ data: UTF-16LE with a terminating NUL.
Bytes encode_string(std::string_view text);
Bytes encode_string(std::u16string_view text);
// Reads up to the first NUL; data without a terminator are read to the end.
std::string decode_string(std::span<const std::uint8_t> data);

// REG_DWORD data: four bytes, little-endian. Decoding needs exactly four bytes.
Bytes encode_dword(std::uint32_t value);
std::optional<std::uint32_t> decode_dword(std::span<const std::uint8_t> data);

// REG_MULTI_SZ data: each string NUL-terminated, then a final NUL. An empty string inside the
// list cannot be stored (it would end the list), so encoding fails for it.
std::optional<Bytes> encode_multi_string(const std::vector<std::string>& strings);
// Reads strings until an empty one or the end of the data.
std::vector<std::string> decode_multi_string(std::span<const std::uint8_t> data);

// Latin-1 <-> UTF-8, for places that need valid UTF-8 text (the saved file). utf8_to_latin1
// fails on malformed UTF-8 and on characters above U+00FF.
std::string latin1_to_utf8(std::string_view text);
std::optional<std::string> utf8_to_latin1(std::string_view text);

// Lower-case hexadecimal digits, two per byte, and back (fails on odd length or a non-digit).
std::string to_hex(std::span<const std::uint8_t> data);
std::optional<Bytes> from_hex(std::string_view text);

} // namespace winsim::reg
