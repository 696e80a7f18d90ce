// A machine registry, a small device tree and an installed user-mode session.
#pragma once

#include <windows.h>

#include "registry/registry.h"
#include "user/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace winsim::user::test {

// A device tree the test writes itself; it records the re-enumerations it is asked for.
class FakeDeviceTree : public DeviceTree {
  public:
    std::vector<DeviceNode> nodes;
    std::vector<std::string> reenumerated;
    std::int32_t reenumerate_status = 0;

    std::vector<DeviceNode> devices() const override { return nodes; }
    std::int32_t reenumerate(const std::string& instance) override {
        reenumerated.push_back(instance);
        return reenumerate_status;
    }
};

inline constexpr const char* card_instance = "PCI\\VEN_FFFE&DEV_0004\\3&61AAA01&0&68";
inline constexpr const char* ports_class_guid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* multifunction_class_guid = "{4D36E971-E325-11CE-BFC1-08002BE10318}";

// The card as Plug and Play and its installation leave it in the registry: instance key,
// "Device Parameters" with "PORTS", and a driver key.
inline void write_card(reg::Registry& registry) {
    const std::string instance = std::string("SYSTEM\\CurrentControlSet\\Enum\\") + card_instance;
    auto key = registry.create_key(instance).key;
    key->set_string("DeviceDesc", "PCI serial card");
    key->set_string("LocationInformation", "PCI bus 2, device 11, function 0");
    key->set_multi_string("HardwareID", {"PCI\\VEN_FFFE&DEV_0004", "PCI\\VEN_FFFE"});
    key->set_string("Service", "qelmf");
    key->set_string("ClassGUID", multifunction_class_guid);
    key->set_string("Driver", std::string(multifunction_class_guid) + "\\0003");
    registry.create_key(instance + "\\Device Parameters").key->set_dword("PORTS", 4);
    registry
        .create_key(std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") +
                    multifunction_class_guid + "\\0003")
        .key->set_string("DriverDesc", "PCI serial card");
}

class UserTest : public ::testing::Test {
  protected:
    UserTest() : session(registry, &tree) { install_session(&session); }
    ~UserTest() override { install_session(nullptr); }

    reg::Registry registry;
    FakeDeviceTree tree;
    Session session;
};

} // namespace winsim::user::test
