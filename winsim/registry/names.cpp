#include "registry/names.h"

#include <algorithm>

namespace winsim::reg {

namespace {

char fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

int compare_names(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(fold(a[i]));
        const auto cb = static_cast<unsigned char>(fold(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool names_equal(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compare_names(a, b) == 0;
}

std::string upper_name(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        c = fold(c);
    }
    return out;
}

std::optional<std::vector<std::string_view>> split_key_path(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty()) {
        return parts;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string_view part = path.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty() || part.size() > max_key_name_length) {
            return std::nullopt;
        }
        parts.push_back(part);
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string join_key_path(std::string_view parent, std::string_view name) {
    std::string path(parent);
    if (!path.empty()) {
        path += '\\';
    }
    path += name;
    return path;
}

} // namespace winsim::reg
