// Key and value names: comparison without regard to case, and key paths.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {

// The longest key name (one path component) the registry accepts, in characters.
inline constexpr std::size_t max_key_name_length = 255;

// Compares names the way the registry does: ASCII letters folded to upper case, so that
// "QEL_CARD" sorts after "QELB" as regedit lists them.
int compare_names(std::string_view a, std::string_view b);
bool names_equal(std::string_view a, std::string_view b);
// The name with its ASCII letters in upper case, as compare_names folds them: the key of a table
// that matches names (and other Windows text: paths, device instance IDs) without regard to case.
std::string upper_name(std::string_view name);

struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return compare_names(a, b) < 0;
    }
};

// Splits a backslash-separated key path into its components. An empty path gives no
// components. Returns nothing for an empty component ("A\\\\B", "\\A", "A\\") or a component
// longer than max_key_name_length.
std::optional<std::vector<std::string_view>> split_key_path(std::string_view path);

// Joins a parent path and a key name with a backslash; an empty parent gives the name alone.
std::string join_key_path(std::string_view parent, std::string_view name);

} // namespace winsim::reg
