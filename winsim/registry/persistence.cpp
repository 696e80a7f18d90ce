// Saving the registry to its JSON file and loading it back.
//
// File layout:
//   { "format": "winsim registry", "version": 1, "root": NODE }
//   NODE: { "name": TEXT (not for the root), "class": TEXT, "dacl": "normal" | "none",
//           "values": [ { "name": TEXT, "type": NUMBER, "data": HEX }, ... ],
//           "subkeys": [ NODE, ... ] }
// Names and classes are Latin-1 text written as UTF-8; "class", "dacl", "values" and "subkeys"
// may be left out. Volatile keys (and so everything below them) are not written.

#include "registry/registry.h"
#include "registry/tree.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>

namespace winsim::reg {

namespace {

using json = nlohmann::json;
using Guard = std::lock_guard<std::mutex>;

constexpr const char* format_name = "winsim registry";
constexpr int format_version = 1;

json save_node(const Key& key, bool is_root) {
    json node = json::object();
    if (!is_root) {
        node["name"] = latin1_to_utf8(key.name());
    }
    if (!key.class_name().empty()) {
        node["class"] = latin1_to_utf8(key.class_name());
    }
    if (Tree::dacl_of(key) == Dacl::none) {
        node["dacl"] = "none";
    }
    json values = json::array();
    for (const Value& v : Tree::values_of(key)) {
        values.push_back(
            json{{"name", latin1_to_utf8(v.name)}, {"type", v.type}, {"data", to_hex(v.data)}});
    }
    if (!values.empty()) {
        node["values"] = std::move(values);
    }
    json subkeys = json::array();
    for (const auto& [name, child] : Tree::subkeys_of(key)) {
        if (!child->is_volatile()) {
            subkeys.push_back(save_node(*child, false));
        }
    }
    if (!subkeys.empty()) {
        node["subkeys"] = std::move(subkeys);
    }
    return node;
}

// A failure while reading the file, with the place it was found at.
struct LoadError {
    std::string message;
};

std::string where(const std::string& path) {
    return path.empty() ? "HKEY_LOCAL_MACHINE" : "key \"HKEY_LOCAL_MACHINE\\" + path + "\"";
}

std::string text_field(const json& node, const char* field, const std::string& place) {
    const auto it = node.find(field);
    if (it == node.end()) {
        return {};
    }
    if (!it->is_string()) {
        throw LoadError{place + ": \"" + field + "\" is not a string"};
    }
    const auto text = utf8_to_latin1(it->get_ref<const std::string&>());
    if (!text) {
        throw LoadError{place + ": \"" + field + "\" has characters outside Latin-1"};
    }
    return *text;
}

const json* array_field(const json& node, const char* field, const std::string& place) {
    const auto it = node.find(field);
    if (it == node.end()) {
        return nullptr;
    }
    if (!it->is_array()) {
        throw LoadError{place + ": \"" + field + "\" is not a list"};
    }
    return &*it;
}

void load_value(Key& key, const json& v, const std::string& place) {
    if (!v.is_object()) {
        throw LoadError{place + ": not an object"};
    }
    if (!v.contains("name")) {
        throw LoadError{place + ": no \"name\""};
    }
    const std::string name = text_field(v, "name", place);
    const auto type = v.find("type");
    if (type == v.end() || !type->is_number_unsigned() ||
        type->get<std::uint64_t>() > 0xFFFFFFFFU) {
        throw LoadError{place + ": bad or missing \"type\""};
    }
    const auto data = v.find("data");
    const auto bytes = (data != v.end() && data->is_string())
                           ? from_hex(data->get_ref<const std::string&>())
                           : std::nullopt;
    if (!bytes) {
        throw LoadError{place + ": \"data\" is not hexadecimal text"};
    }
    const auto& existing = Tree::values_of(key);
    if (std::any_of(existing.begin(), existing.end(),
                    [&](const Value& other) { return names_equal(other.name, name); })) {
        throw LoadError{place + ": value \"" + name + "\" appears twice"};
    }
    Tree::set_value(key, name, type->get<std::uint32_t>(), *bytes);
}

// Fills a detached key from its node; throws LoadError.
void load_node(const std::shared_ptr<std::mutex>& lock, Key& key, const json& node,
               const std::string& path, std::size_t depth);

void load_subkey(const std::shared_ptr<std::mutex>& lock, Key& parent, const json& node,
                 const std::string& parent_path, std::size_t depth) {
    const std::string place = where(parent_path);
    if (!node.is_object() || !node.contains("name")) {
        throw LoadError{place + ": a subkey without a name"};
    }
    const std::string name = text_field(node, "name", place);
    if (name.empty() || name.size() > max_key_name_length || name.find('\\') != std::string::npos) {
        throw LoadError{place + ": bad subkey name \"" + name + "\""};
    }
    const std::string path = join_key_path(parent_path, name);
    if (Tree::find_child(parent, name)) {
        throw LoadError{where(path) + " appears twice"};
    }
    auto child = Tree::make_key(lock, name, false, text_field(node, "class", where(path)));
    load_node(lock, *child, node, path, depth);
    Tree::add_child(parent, std::move(child));
}

void load_node(const std::shared_ptr<std::mutex>& lock, Key& key, const json& node,
               const std::string& path, std::size_t depth) {
    const std::string place = where(path);
    if (!node.is_object()) {
        throw LoadError{place + ": not an object"};
    }
    if (const auto it = node.find("dacl"); it != node.end()) {
        if (*it == "none") {
            Tree::set_dacl(key, Dacl::none);
        } else if (*it != "normal") {
            throw LoadError{place + ": unknown \"dacl\""};
        }
    }
    if (const json* values = array_field(node, "values", place)) {
        for (const json& v : *values) {
            load_value(key, v, place + ", value " + std::to_string(Tree::values_of(key).size()));
        }
    }
    if (const json* subkeys = array_field(node, "subkeys", place)) {
        if (!subkeys->empty() && depth >= max_key_depth) {
            throw LoadError{place + ": keys nested deeper than " + std::to_string(max_key_depth)};
        }
        for (const json& child : *subkeys) {
            load_subkey(lock, key, child, path, depth + 1);
        }
    }
}

FileResult fail(Status status, const std::filesystem::path& file, const std::string& what) {
    return FileResult{status, file.string() + ": " + what};
}

// Writes the text to a new file beside the target, flushes it to disk, and renames it over the
// target, so that a reader sees either the old file or the whole new one.
FileResult write_atomically(const std::filesystem::path& file, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = file;
    temp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);

    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fail(Status::io_error, file,
                    "cannot create " + temp.string() + ": " +
                        std::generic_category().message(errno));
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const int error = done < text.size() ? errno : (::fsync(fd) != 0 ? errno : 0);
    const bool closed = ::close(fd) == 0;
    std::error_code ec;
    if (done < text.size() || error != 0 || !closed) {
        std::filesystem::remove(temp, ec);
        return fail(Status::io_error, file,
                    "cannot write " + temp.string() + ": " +
                        std::generic_category().message(error != 0 ? error : EIO));
    }
    std::filesystem::rename(temp, file, ec);
    if (ec) {
        const std::string reason = ec.message();
        std::filesystem::remove(temp, ec);
        return fail(Status::io_error, file, "cannot replace the file: " + reason);
    }
    return {};
}

} // namespace

FileResult Registry::save(const std::filesystem::path& file) const {
    std::string text;
    try {
        json document;
        {
            const Guard guard(*lock_);
            document = json{{"format", format_name},
                            {"version", format_version},
                            {"root", save_node(*root_, true)}};
        }
        text = document.dump(1) + "\n";
    } catch (const std::exception& e) {
        return fail(Status::io_error, file, std::string("cannot encode the registry: ") + e.what());
    }
    return write_atomically(file, text);
}

FileResult Registry::load(const std::filesystem::path& file) {
    try {
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) {
            return fail(Status::not_found, file, "no such file");
        }
        std::ifstream in(file, std::ios::binary);
        if (!std::filesystem::is_regular_file(file, ec) || !in) {
            return fail(Status::io_error, file, "cannot read the file");
        }
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        if (in.bad()) {
            return fail(Status::io_error, file, "cannot read the file");
        }
        json document;
        try {
            document = json::parse(text);
        } catch (const json::exception& e) {
            return fail(Status::corrupt, file, std::string("not valid JSON: ") + e.what());
        }
        if (!document.is_object() || document.value("format", json()) != format_name) {
            return fail(Status::corrupt, file, "not a registry file");
        }
        if (document.value("version", json()) != format_version) {
            return fail(Status::corrupt, file, "unsupported registry file version");
        }
        if (!document.contains("root")) {
            return fail(Status::corrupt, file, "no root key");
        }
        auto fresh = Tree::make_key(lock_, root_->name(), false, "");
        try {
            load_node(lock_, *fresh, document["root"], "", 0);
        } catch (const LoadError& e) {
            return fail(Status::corrupt, file, e.message);
        }
        const Guard guard(*lock_);
        Tree::clear(*root_);
        Tree::take_contents(*root_, *fresh);
        return {};
    } catch (const std::exception& e) {
        return fail(Status::io_error, file, std::string("cannot load the registry: ") + e.what());
    }
}

} // namespace winsim::reg
