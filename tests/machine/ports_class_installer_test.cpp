// What the package's installation and the Ports class installer leave in the registry: COM names
// claimed from COM3 up in the COM port database, "PORTNAME" and "FRIENDLYNAME" per port, the
// property-page provider registered for the card, and the uninstall entry.
#include "machine_fixture.h"

#include "machine/device_installers.h"
#include "machine/ports_class_installer.h"

namespace machine_test {
namespace {

const char* const port_description = "PCI serial port";

// The COM name of each port of a card at this prefix, from the saved registry.
std::vector<std::string> portNames(reg::Registry& registry, const char* prefix, unsigned ports) {
    std::vector<std::string> names;
    for (unsigned port = 0; port < ports; ++port) {
        names.push_back(value(registry, enumKey(portInstance(prefix, port)) + "\\Device Parameters",
                              "PORTNAME"));
    }
    return names;
}

using PortsClassInstaller = MachineTest;

TEST_F(PortsClassInstaller, InitInstallsThePackage) {
    reg::Registry registry;
    machine_.loadRegistry(registry);
    const reg::Bytes bits = comDb(registry);
    ASSERT_EQ(bits.size(), 32u);
    EXPECT_EQ(bits[0], 0x03) << "COM1 and COM2 are the machine's own";
    EXPECT_EQ(value(registry, std::string(machine::uninstall_key), "UninstallString"),
              "rundll32.exe qelun2k.dll,uninstall_driver");
    EXPECT_FALSE(value(registry, std::string(machine::uninstall_key), "DisplayName").empty());
}

TEST_F(PortsClassInstaller, FreshCardsGetTheLowestFreeNumbersFromCom3) {
    addCard(4);
    addCard(2);
    machine::RunningMachine& running = boot();
    reg::Registry& registry = running.registry();
    EXPECT_EQ(portNames(registry, "020D00", 4),
              (std::vector<std::string>{"COM3", "COM4", "COM5", "COM6"}));
    EXPECT_EQ(portNames(registry, "020E00", 2), (std::vector<std::string>{"COM7", "COM8"}));
    EXPECT_EQ(value(registry, enumKey(portInstance("020D00", 1)), "FRIENDLYNAME"),
              std::string(port_description) + " (COM4)");
    const reg::Bytes bits = comDb(registry);
    EXPECT_EQ(bits[0], 0xFF); // COM1 to COM8
    EXPECT_EQ(bits[1], 0x00);

    // The card's INF registered the provider in the card's driver key.
    for (const auto& device : running.pnp().devices()) {
        if (device.service != "qelmf") {
            continue;
        }
        const std::string driver = value(registry, enumKey(device.instance), "Driver");
        EXPECT_EQ(value(registry, std::string(winsim::pnp::classRoot) + driver, "EnumPropPages32"),
                  "qelui32.dll,EnumPropPages");
    }
    // FIFO values are left to the port driver's defaults.
    const auto parameters =
        registry.open_key(enumKey(portInstance("020D00", 0)) + "\\Device Parameters");
    reg::Value ignored;
    for (const char* name : {"ForceFifoEnable", "RxFIFO", "TxFIFO"}) {
        EXPECT_EQ(parameters->query_value(name, ignored), reg::Status::not_found) << name;
    }
    shutdown();
}

TEST_F(PortsClassInstaller, ARebootKeepsTheNamesAndClaimsNothingMore) {
    addCard(4);
    boot();
    shutdown();
    editSaved([](reg::Registry& registry) { // the user gives port 0 another name
        registry.open_key(enumKey(portInstance("020D00", 0)) + "\\Device Parameters")
            ->set_string("PORTNAME", "COM12");
    });
    reg::Registry& registry = boot().registry();
    EXPECT_EQ(portNames(registry, "020D00", 4),
              (std::vector<std::string>{"COM12", "COM4", "COM5", "COM6"}));
    EXPECT_EQ(comDb(registry)[0], 0x3F);
    shutdown();
}

TEST_F(PortsClassInstaller, ClaimedNumbersAndGivenNamesAreRespected) {
    addCard(4);
    editSaved([](reg::Registry& registry) {
        // COM4 is claimed by some other device; port 2 comes with a name of its own.
        reg::Bytes bits(32, 0);
        bits[0] = 0x0B; // COM1, COM2, COM4
        registry.open_key(std::string(machine::com_db_key))
            ->set_value(machine::com_db_value, reg::value_type::binary, bits);
        registry.create_key(enumKey(portInstance("020D00", 2)) + "\\Device Parameters")
            .key->set_string("PortName", "COM9");
    });
    reg::Registry& registry = boot().registry();
    EXPECT_EQ(portNames(registry, "020D00", 4),
              (std::vector<std::string>{"COM3", "COM5", "COM9", "COM6"}));
    EXPECT_EQ(value(registry, enumKey(portInstance("020D00", 2)), "FRIENDLYNAME"),
              std::string(port_description) + " (COM9)");
    const reg::Bytes bits = comDb(registry);
    EXPECT_EQ(bits[0], 0x3F);
    EXPECT_EQ(bits[1], 0x01); // COM9
    shutdown();
}

TEST(PortsClassInstallerAlone, GrowsTheDatabaseAndGivesUpWhenEveryNumberIsTaken) {
    reg::Registry registry;
    const std::string port = "QEL_CARD\\SERIAL\\020D0000";
    registry.create_key(enumKey(port)).key->set_string("DeviceDesc", port_description);
    registry.create_key(std::string(machine::com_db_key))
        .key->set_value(machine::com_db_value, reg::value_type::binary, reg::Bytes(32, 0xFF));
    EXPECT_EQ(machine::installPort(registry, port), "COM257");
    reg::Value bits;
    registry.open_key(std::string(machine::com_db_key))->query_value(machine::com_db_value, bits);
    ASSERT_EQ(bits.data.size(), 64u);
    EXPECT_EQ(bits.data[32], 0x01);

    const std::string second = "QEL_CARD\\SERIAL\\020D0001";
    registry.create_key(enumKey(second));
    registry.open_key(std::string(machine::com_db_key))
        ->set_value(machine::com_db_value, reg::value_type::binary, reg::Bytes(512, 0xFF));
    EXPECT_EQ(machine::installPort(registry, second), std::nullopt);
    reg::Value name;
    EXPECT_EQ(
        registry.open_key(enumKey(second) + "\\Device Parameters")->query_value("PORTNAME", name),
        reg::Status::not_found);
}

TEST(PortsClassInstallerAlone, ComNumbers) {
    EXPECT_EQ(machine::comNumberOf("COM3"), 3u);
    EXPECT_EQ(machine::comNumberOf("com4096"), 4096u);
    for (const char* name : {"COM", "COM0", "COM012", "COM4097", "COM3x", "LPT3", "COMX"}) {
        EXPECT_EQ(machine::comNumberOf(name), std::nullopt) << name;
    }
}

} // namespace
} // namespace machine_test
