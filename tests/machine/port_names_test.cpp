// The port driver names its ports as the serial driver of Windows does: "\Device\SerialN" =
// "COMn" in the volatile SERIALCOMM map and the DOS name COMn, while the port runs. User-mode
// programs see the names through the registry calls and QueryDosDeviceA.
#include "machine_fixture.h"

#include "kernel/kernel.h"
#include "qelser/qelser.h"
#include "user/pnp_device_tree.h"
#include "user/session.h"

#include <windows.h>

#include <map>

namespace machine_test {
namespace {

namespace user = winsim::user;

// The user-mode side of the running machine, installed while it lives.
class UserSide {
  public:
    explicit UserSide(machine::RunningMachine& running)
        : tree_(running.pnp()), session_(running.registry(), &tree_) {
        session_.set_dos_devices(&running.kernel().symbolicLinks());
        user::install_session(&session_);
    }
    ~UserSide() { user::install_session(nullptr); }

  private:
    user::PnpDeviceTree tree_;
    user::Session session_;
};

// What QueryDosDeviceA says a name stands for, or "" when it fails.
std::string dosTarget(const char* name) {
    char target[256] = {};
    return QueryDosDeviceA(name, target, sizeof target) == 0 ? std::string() : target;
}

// The SERIALCOMM map: device name -> COM name.
std::map<std::string, std::string> serialComm(reg::Registry& registry) {
    std::map<std::string, std::string> entries;
    if (const auto map = registry.open_key(winsim::qelser::serial_comm_key)) {
        for (const reg::Value& entry : map->values()) {
            entries[entry.name] = reg::decode_string(entry.data);
        }
    }
    return entries;
}

using PortNames = MachineTest;

TEST_F(PortNames, RunningPortsHaveTheirComNamesInTheMapAndAsDosNames) {
    addCard(4);
    machine::RunningMachine& running = boot();
    const std::map<std::string, std::string> expected = {{"\\Device\\Serial0", "COM3"},
                                                         {"\\Device\\Serial1", "COM4"},
                                                         {"\\Device\\Serial2", "COM5"},
                                                         {"\\Device\\Serial3", "COM6"}};
    EXPECT_EQ(serialComm(running.registry()), expected);
    {
        UserSide side(running);
        EXPECT_EQ(dosTarget("COM3"), "\\Device\\Serial0");
        EXPECT_EQ(dosTarget("com6"), "\\Device\\Serial3");
        HKEY map = nullptr;
        ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", &map),
                  ERROR_SUCCESS);
        char data[16] = {};
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(map, "\\Device\\Serial1", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(data), &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(data, "COM4");
        RegCloseKey(map);
    }

    // A rebalance keeps the names, once each.
    const std::string port0 = portInstance("020D00", 0);
    ASSERT_EQ(running.pnp().queryStop(port0), STATUS_SUCCESS);
    ASSERT_EQ(running.pnp().stop(port0), STATUS_SUCCESS);
    ASSERT_EQ(running.pnp().startDevice(port0), STATUS_SUCCESS);
    EXPECT_EQ(running.kernel().symbolicLinks().targets("COM3"),
              std::vector<std::string>{"\\Device\\Serial0"});
    EXPECT_EQ(serialComm(running.registry()), expected);

    // The map is volatile: nothing of it is saved.
    shutdown();
    reg::Registry saved;
    machine_.loadRegistry(saved);
    EXPECT_EQ(saved.open_key(winsim::qelser::serial_comm_key), nullptr);
}

// The page moves a COM name by redefining the DOS name and rewriting the map entry; when the port
// goes, the names it has then go with it.
TEST_F(PortNames, RemovalTakesTheNamesAwayAlsoAfterAMove) {
    addCard(2);
    machine::RunningMachine& running = boot();
    const std::string port1 = portInstance("020D00", 1);
    {
        UserSide side(running);
        ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "COM4", nullptr));
        ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "COM9", "\\Device\\Serial1"));
        running.registry()
            .open_key(winsim::qelser::serial_comm_key)
            ->set_string("\\Device\\Serial1", "COM9");

        ASSERT_EQ(running.pnp().surpriseRemove(port1), STATUS_SUCCESS);
        ASSERT_EQ(running.pnp().remove(port1), STATUS_SUCCESS);
        EXPECT_EQ(dosTarget("COM9"), "");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(dosTarget("COM4"), "");
        EXPECT_EQ(dosTarget("COM3"), "\\Device\\Serial0");
    }
    EXPECT_EQ(serialComm(running.registry()),
              (std::map<std::string, std::string>{{"\\Device\\Serial0", "COM3"}}));
    shutdown();
}

TEST_F(PortNames, PortsWithoutAUsableNameRunUnnamed) {
    addCard(4);
    boot();
    shutdown();
    editSaved([](reg::Registry& registry) {
        registry.open_key(enumKey(portInstance("020D00", 0)) + "\\Device Parameters")
            ->delete_value("PORTNAME");
        registry.open_key(enumKey(portInstance("020D00", 2)) + "\\Device Parameters")
            ->set_string("PORTNAME", "COM4"); // port 1's name
    });
    machine::RunningMachine& running = boot();
    EXPECT_EQ(serialComm(running.registry()),
              (std::map<std::string, std::string>{{"\\Device\\Serial1", "COM4"},
                                                  {"\\Device\\Serial3", "COM6"}}));
    EXPECT_EQ(running.kernel().symbolicLinks().names(), (std::vector<std::string>{"COM4", "COM6"}));
    for (const auto& device : running.pnp().devices()) {
        if (device.parent && device.instance.starts_with("QEL_CARD")) {
            EXPECT_EQ(device.state, "started") << device.instance;
        }
    }
    shutdown();
}

} // namespace
} // namespace machine_test
