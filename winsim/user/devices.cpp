#include "user/devices.h"

#include "registry/names.h"
#include "registry/registry.h"
#include "user/api.h"

#include <cstdio>

namespace winsim::user {
namespace {

bool is_hex(std::string_view text) {
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

GUID class_guid_of(std::string_view instance) {
    if (auto key = instance_key(instance)) {
        std::string text;
        if (key->get_string("ClassGUID", text) == reg::Status::ok) {
            if (auto guid = parse_guid(text)) {
                return *guid;
            }
        }
    }
    return GUID{};
}

bool matches(std::string_view instance, std::string_view enumerator, const GUID* class_guid,
             GUID& guid) {
    if (!enumerator.empty()) {
        const std::size_t slash = instance.find('\\');
        if (!reg::names_equal(instance.substr(0, slash), enumerator)) {
            return false;
        }
    }
    guid = class_guid_of(instance);
    return class_guid == nullptr || IsEqualGUID(guid, *class_guid);
}

} // namespace

std::optional<GUID> parse_guid(std::string_view text) {
    // {8-4-4-4-12}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return std::nullopt;
    }
    const std::string_view parts[] = {text.substr(1, 8), text.substr(10, 4), text.substr(15, 4),
                                      text.substr(20, 4), text.substr(25, 12)};
    for (const auto part : parts) {
        if (!is_hex(part)) {
            return std::nullopt;
        }
    }
    auto number = [](std::string_view digits) {
        return std::stoull(std::string(digits), nullptr, 16);
    };
    GUID guid{};
    guid.Data1 = static_cast<ULONG>(number(parts[0]));
    guid.Data2 = static_cast<USHORT>(number(parts[1]));
    guid.Data3 = static_cast<USHORT>(number(parts[2]));
    guid.Data4[0] = static_cast<UCHAR>(number(parts[3].substr(0, 2)));
    guid.Data4[1] = static_cast<UCHAR>(number(parts[3].substr(2, 2)));
    for (int i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<UCHAR>(number(parts[4].substr(2 * i, 2)));
    }
    return guid;
}

std::shared_ptr<reg::Key> instance_key(std::string_view instance) {
    if (instance.empty()) {
        return nullptr;
    }
    return sys().registry().open_key(reg::join_key_path(enum_root, instance));
}

std::optional<DeviceNode> live_device(std::string_view instance) {
    DeviceTree* tree = sys().device_tree();
    if (tree == nullptr) {
        return std::nullopt;
    }
    for (auto& node : tree->devices()) {
        if (reg::names_equal(node.instance, instance)) {
            return node;
        }
    }
    return std::nullopt;
}

DeviceSet collect_devices(bool present_only, std::string_view enumerator, const GUID* class_guid) {
    DeviceSet set;
    auto add = [&](const std::string& instance) {
        GUID guid{};
        if (!matches(instance, enumerator, class_guid, guid)) {
            return;
        }
        for (const auto& entry : set.devices) {
            if (reg::names_equal(entry.instance, instance)) {
                return;
            }
        }
        set.devices.push_back(
            DeviceEntry{instance, sys().state().devnodes.number_of(instance), guid});
    };
    if (DeviceTree* tree = sys().device_tree()) {
        for (const auto& node : tree->devices()) {
            if (node.present) {
                add(node.instance);
            }
        }
    }
    if (!present_only) {
        // Every instance key: Enum\<enumerator>\<device>\<instance>.
        if (auto root = sys().registry().open_key(enum_root)) {
            for (const auto& bus : root->subkey_names()) {
                auto bus_key = sys().registry().open_key(reg::join_key_path(enum_root, bus));
                if (!bus_key) {
                    continue;
                }
                for (const auto& device : bus_key->subkey_names()) {
                    const std::string device_path = reg::join_key_path(bus, device);
                    auto device_key =
                        sys().registry().open_key(reg::join_key_path(enum_root, device_path));
                    if (!device_key) {
                        continue;
                    }
                    for (const auto& id : device_key->subkey_names()) {
                        add(reg::join_key_path(device_path, id));
                    }
                }
            }
        }
    }
    return set;
}

std::optional<DeviceEntry> device_entry(std::string_view instance) {
    std::string path;
    if (auto node = live_device(instance)) {
        path = node->instance;
    } else if (auto key = instance_key(instance)) {
        path = key->path().substr(enum_root.size() + 1);
    } else {
        return std::nullopt;
    }
    return DeviceEntry{path, sys().state().devnodes.number_of(path), class_guid_of(path)};
}

} // namespace winsim::user
