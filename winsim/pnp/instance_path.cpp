#include "pnp/instance_path.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

namespace winsim::pnp {

namespace {

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool printableId(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && c != ',';
    });
}

} // namespace

std::string parentIdPrefix(const std::string& parentInstance) {
    std::uint32_t hash = 2166136261u; // FNV-1a over the upper-cased path
    for (char c : parentInstance) {
        hash ^= static_cast<unsigned char>(upper(c));
        hash *= 16777619u;
    }
    char text[24];
    std::snprintf(text, sizeof text, "3&%08x&0", static_cast<unsigned>(hash));
    return text;
}

std::optional<std::string> makeInstancePath(const std::string& deviceId,
                                            const std::string& instanceId, bool uniqueId,
                                            const std::string& parentInstance) {
    const auto slash = deviceId.find('\\');
    if (slash == std::string::npos || slash == 0 || slash + 1 == deviceId.size() ||
        deviceId.find('\\', slash + 1) != std::string::npos || !printableId(deviceId)) {
        return std::nullopt;
    }
    if (instanceId.empty() || instanceId.find('\\') != std::string::npos ||
        !printableId(instanceId)) {
        return std::nullopt;
    }
    if (uniqueId) {
        return deviceId + "\\" + instanceId;
    }
    return deviceId + "\\" + parentIdPrefix(parentInstance) + "&" + instanceId;
}

bool samePath(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return upper(x) == upper(y); });
}

} // namespace winsim::pnp
