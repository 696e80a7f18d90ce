// A machine registry holding one serial card and its ports, a device tree with the card, and an
// installed user-mode session with qelui32.dll in the system directory.
#pragma once

#include "qelui.h"

#include "registry/registry.h"
#include "user/device_tree.h"
#include "user/session.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qelui::test {

namespace reg = winsim::reg;
namespace user = winsim::user;

inline constexpr const char* card_instance = "PCI\\VEN_5145&DEV_4C01&REV_01\\3&1&58";
inline constexpr const char* card_location = "PCI bus 2, device 11, function 0";
inline constexpr const char* card_prefix = "020B00";
inline constexpr const char* multifunction_class = "{4D36E971-E325-11CE-BFC1-08002BE10318}";
inline const std::string enum_root = "SYSTEM\\CurrentControlSet\\Enum\\";

class CardTree : public user::DeviceTree {
  public:
    std::vector<user::DeviceNode> devices() const override {
        return {user::DeviceNode{card_instance, std::nullopt, true, "", "", "qelmf", {}, {}}};
    }
    std::int32_t reenumerate(const std::string&) override { return 0; }
};

class QeluiTest : public ::testing::Test {
  protected:
    QeluiTest() : session(registry, &tree) {
        user::install_session(&session);
        session.map_file("C:\\WINDOWS\\system32\\qelui32.dll", QELUI32_DLL);
    }
    ~QeluiTest() override { user::install_session(nullptr); }

    static std::string card_key_path() { return enum_root + card_instance; }
    static std::string port_key_path(const std::string& prefix, int port) {
        char id[3];
        std::snprintf(id, sizeof(id), "%02X", port);
        return enum_root + "QEL_CARD\\SERIAL\\" + prefix + id + "\\Device Parameters";
    }

    // The card as Plug and Play and the package's installation leave it: its location text,
    // "PORTS" in its device key, and qelui32 registered as its property-page provider.
    void write_card(const char* location, std::optional<std::uint32_t> ports) {
        auto key = registry.create_key(card_key_path()).key;
        if (location != nullptr) {
            key->set_string("LocationInformation", location);
        }
        key->set_string("ClassGUID", multifunction_class);
        key->set_string("Driver", std::string(multifunction_class) + "\\0003");
        auto parameters = registry.create_key(card_key_path() + "\\Device Parameters").key;
        if (ports) {
            parameters->set_dword("PORTS", *ports);
        }
        registry
            .create_key(std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") +
                        multifunction_class + "\\0003")
            .key->set_string("EnumPropPages32", "qelui32.dll,EnumPropPages");
    }

    // A port's "Device Parameters" key, made if missing.
    std::shared_ptr<reg::Key> port_key(int port, const std::string& prefix = card_prefix) {
        return registry.create_key(port_key_path(prefix, port)).key;
    }

    // A 32-bit number from a port's key, if it is a 4-byte REG_DWORD.
    std::optional<std::uint32_t> port_dword(int port, const char* name) const {
        auto key = registry.open_key(port_key_path(card_prefix, port));
        reg::Value value;
        if (!key || key->query_value(name, value) != reg::Status::ok || value.type != REG_DWORD ||
            value.data.size() != 4) {
            return std::nullopt;
        }
        return value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
               static_cast<std::uint32_t>(value.data[3]) << 24;
    }

    reg::Registry registry;
    CardTree tree;
    user::Session session;
};

} // namespace qelui::test
