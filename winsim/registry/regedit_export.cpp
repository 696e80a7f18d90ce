// regedit's REGEDIT4 text: "REGEDIT4", a blank line, then for each key in regedit order its
// "[HKEY_LOCAL_MACHINE\path]" line, its values and a blank line.

#include "registry/registry.h"
#include "registry/tree.h"

#include <cstdio>

namespace winsim::reg {

namespace {

using Guard = std::lock_guard<std::mutex>;

// regedit ends a hex line with ",\" once it has reached this many characters, and goes on in the
// next line after two spaces.
constexpr std::size_t hex_wrap_column = 76;

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

// REGEDIT4 writes the strings of REG_EXPAND_SZ and REG_MULTI_SZ data as ANSI bytes, one byte
// per UTF-16 character, NULs included.
Bytes ansi_bytes(std::span<const std::uint8_t> data) {
    const std::string text = from_utf16(bytes_to_utf16(data));
    return Bytes(text.begin(), text.end());
}

void append_hex(std::string& out, const std::string& head, std::span<const std::uint8_t> data) {
    static constexpr char digits[] = "0123456789abcdef";
    std::size_t line_start = out.size();
    out += head;
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (out.size() - line_start >= hex_wrap_column) {
                out += "\\\n  ";
                line_start = out.size() - 2;
            }
        }
    }
    out.push_back('\n');
}

std::string hex_type(std::uint32_t type) {
    char text[24];
    std::snprintf(text, sizeof text, "hex(%x):", type);
    return text;
}

void append_value(std::string& out, const Value& value) {
    const std::string head = value.name.empty() ? "@=" : "\"" + escape(value.name) + "\"=";
    switch (value.type) {
    case value_type::sz:
        out += head + "\"" + escape(decode_string(value.data)) + "\"\n";
        return;
    case value_type::dword:
        if (const auto number = decode_dword(value.data)) {
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08x", *number);
            out += head + text + "\n";
            return;
        }
        break; // not four bytes long: written as raw data below
    case value_type::binary:
        append_hex(out, head + "hex:", value.data);
        return;
    case value_type::expand_sz:
    case value_type::multi_sz:
        append_hex(out, head + hex_type(value.type), ansi_bytes(value.data));
        return;
    default:
        break;
    }
    append_hex(out, head + hex_type(value.type), value.data);
}

void append_key(std::string& out, const Key& key, const std::string& path) {
    out += path.empty() ? "[HKEY_LOCAL_MACHINE]\n" : "[HKEY_LOCAL_MACHINE\\" + path + "]\n";
    for (const Value& value : Tree::values_of(key)) {
        append_value(out, value);
    }
    out += '\n';
    for (const auto& [name, child] : Tree::subkeys_of(key)) {
        append_key(out, *child, join_key_path(path, name));
    }
}

} // namespace

Status Registry::export_regedit4(std::string_view path, std::string& out) const {
    const Guard guard(*lock_);
    std::shared_ptr<Key> key;
    const Status status = resolve(nullptr, path, key);
    if (status != Status::ok) {
        return status;
    }
    out = "REGEDIT4\n\n";
    append_key(out, *key, Tree::path_of(*key));
    return Status::ok;
}

} // namespace winsim::reg
