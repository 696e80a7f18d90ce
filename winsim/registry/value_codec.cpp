#include "registry/value_codec.h"

namespace winsim::reg {

std::u16string to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return out;
}

Bytes utf16_to_bytes(std::u16string_view text) {
    Bytes out;
    out.reserve(text.size() * 2);
    for (const char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::u16string bytes_to_utf16(std::span<const std::uint8_t> data) {
    std::u16string out;
    out.reserve(data.size() / 2);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return out;
}

Bytes encode_string(std::string_view text) {
    return encode_string(to_utf16(text));
}

Bytes encode_string(std::u16string_view text) {
    Bytes out = utf16_to_bytes(text);
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::string decode_string(std::span<const std::uint8_t> data) {
    std::u16string units = bytes_to_utf16(data);
    const std::size_t nul = units.find(u'\0');
    if (nul != std::u16string::npos) {
        units.resize(nul);
    }
    return from_utf16(units);
}

Bytes encode_dword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::optional<std::uint32_t> decode_dword(std::span<const std::uint8_t> data) {
    if (data.size() != 4) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
           (static_cast<std::uint32_t>(data[2]) << 16) |
           (static_cast<std::uint32_t>(data[3]) << 24);
}

std::optional<Bytes> encode_multi_string(const std::vector<std::string>& strings) {
    Bytes out;
    for (const std::string& s : strings) {
        if (s.empty()) {
            return std::nullopt;
        }
        const Bytes one = encode_string(s);
        out.insert(out.end(), one.begin(), one.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<std::string> decode_multi_string(std::span<const std::uint8_t> data) {
    const std::u16string units = bytes_to_utf16(data);
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < units.size()) {
        std::size_t end = units.find(u'\0', start);
        if (end == std::u16string::npos) {
            end = units.size();
        }
        if (end == start) {
            break;
        }
        out.push_back(from_utf16(std::u16string_view(units).substr(start, end - start)));
        start = end + 1;
    }
    return out;
}

std::string latin1_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> utf8_to_latin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u < 0x80) {
            out.push_back(text[i]);
            continue;
        }
        // Only two-byte sequences for U+0080..U+00FF (lead bytes C2 and C3) fit Latin-1.
        if ((u != 0xC2 && u != 0xC3) || i + 1 >= text.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(((u & 0x1F) << 6) | (next & 0x3F)));
        ++i;
    }
    return out;
}

std::string to_hex(std::span<const std::uint8_t> data) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (const std::uint8_t b : data) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

std::optional<Bytes> from_hex(std::string_view text) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
    }
    return out;
}

} // namespace winsim::reg
