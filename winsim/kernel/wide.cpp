#include "kernel/wide.h"

namespace winsim::kernel {

std::size_t wideLength(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

std::string narrow(const WCHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned>(static_cast<std::uint16_t>(text[i]));
        out += c <= 0xFF ? static_cast<char>(c) : '?';
    }
    return out;
}

std::string narrow(const UNICODE_STRING& text) {
    if (text.Buffer == nullptr) {
        return {};
    }
    return narrow(text.Buffer, text.Length / sizeof(WCHAR));
}

bool isLatin1(const UNICODE_STRING& text) {
    for (std::size_t i = 0; text.Buffer != nullptr && i < text.Length / sizeof(WCHAR); ++i) {
        if (static_cast<std::uint16_t>(text.Buffer[i]) > 0xFF) {
            return false;
        }
    }
    return true;
}

std::vector<WCHAR> widen(std::string_view text) {
    std::vector<WCHAR> out;
    out.reserve(text.size() + 1);
    for (const char c : text) {
        out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
    }
    out.push_back(0);
    return out;
}

void viewAsUnicode(std::vector<WCHAR>& storage, UNICODE_STRING& out) {
    out.Buffer = storage.data();
    out.MaximumLength = static_cast<USHORT>(storage.size() * sizeof(WCHAR));
    out.Length = static_cast<USHORT>((storage.empty() ? 0 : storage.size() - 1) * sizeof(WCHAR));
}

char upcase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upcase(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        c = upcase(c);
    }
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upcase(a[i]) != upcase(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace winsim::kernel
