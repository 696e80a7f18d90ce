// Small helpers for drivers of the simulated platform that answer Plug and Play queries with
// text: the answer is a UTF-16 buffer from paged pool, which the requester frees.
#pragma once

#include <wdm.h>

#include <string_view>
#include <vector>

namespace winsim::pnp {

// A NUL-terminated UTF-16 copy of ASCII text in paged pool, or NULL when the pool is out.
inline PWSTR poolText(std::string_view text, ULONG tag) {
    auto* out = static_cast<PWSTR>(
        ExAllocatePoolWithTag(PagedPool, (text.size() + 1) * sizeof(WCHAR), tag));
    if (out == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    }
    out[text.size()] = 0;
    return out;
}

// A UTF-16 multi-string (each entry NUL-terminated, then one more NUL) in paged pool.
inline PWSTR poolMultiText(const std::vector<std::string_view>& entries, ULONG tag) {
    std::size_t chars = 1;
    for (auto entry : entries) {
        chars += entry.size() + 1;
    }
    auto* out = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, chars * sizeof(WCHAR), tag));
    if (out == nullptr) {
        return nullptr;
    }
    std::size_t at = 0;
    for (auto entry : entries) {
        for (char c : entry) {
            out[at++] = static_cast<WCHAR>(static_cast<unsigned char>(c));
        }
        out[at++] = 0;
    }
    out[at] = 0;
    return out;
}

// Text of a NUL-terminated UTF-16 string (characters above 0xFF become '?').
inline std::string narrowText(const WCHAR* text) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (; *text != 0; ++text) {
        out.push_back(*text <= 0xFF ? static_cast<char>(*text) : '?');
    }
    return out;
}

// Entries of a UTF-16 multi-string.
inline std::vector<std::string> narrowMultiText(const WCHAR* text) {
    std::vector<std::string> out;
    if (text == nullptr) {
        return out;
    }
    while (*text != 0) {
        out.push_back(narrowText(text));
        while (*text != 0) {
            ++text;
        }
        ++text;
    }
    return out;
}

} // namespace winsim::pnp
