// The page on a booted machine: the bus driver runs the card in the simulated kernel and creates
// its port devices; the device manager opens the card's properties over the live device tree.
// The page must find the ports under the instance IDs the driver really gave them.
#include "qelui_fixture.h"

#include "kernel/kernel.h"
#include "machine/device_installers.h"
#include "pnp/pnp_manager.h"
#include "user/device_manager.h"
#include "user/pnp_device_tree.h"

namespace qelui::test {
namespace {

namespace kernel = winsim::kernel;
namespace pnp = winsim::pnp;

kernel::KernelOptions kernel_options(reg::Registry& registry) {
    kernel::KernelOptions options;
    options.registry = &registry;
    return options;
}

class BootedMachineTest : public ::testing::Test {
  protected:
    // The machine installs the package's devices as Windows does: the card's INF registers the
    // provider, the Ports class installer names the ports from COM3 up.
    BootedMachineTest() {
        winsim::machine::addDeviceInstallers(machine, registry);
        user::install_session(&session);
    }
    ~BootedMachineTest() override {
        user::install_session(nullptr);
        machine.shutdown();
        os.shutdown();
        EXPECT_TRUE(os.verifier().clean()) << os.verifier().summary();
    }

    // Boots with one card; the card's instance path.
    std::string boot(const pnp::CardConfig& card) {
        machine.addCard(card);
        EXPECT_EQ(machine.start(), STATUS_SUCCESS) << machine.crashText();
        for (const pnp::DeviceInfo& device : machine.devices()) {
            if (device.service == "qelmf") {
                return device.instance;
            }
        }
        return {};
    }

    // The card's port devices, in the order they were reported.
    void find_ports(const std::string& card) {
        for (const pnp::DeviceInfo& device : machine.devices()) {
            if (device.parent == card) {
                ports.push_back(device.instance);
            }
        }
    }

    reg::Registry registry;
    kernel::Kernel os{kernel_options(registry)};
    pnp::PnpManager machine{os, registry};
    user::PnpDeviceTree tree{machine};
    user::Session session{registry, &tree};
    std::vector<std::string> ports;
};

// A card whose location text names no PCI position gets location code 0 from the bus driver.
struct BootCase {
    const char* location;
    const char* prefix;
};

class BootedCardTest : public BootedMachineTest, public ::testing::WithParamInterface<BootCase> {};

TEST_P(BootedCardTest, FourPortCardListsFourPortsWithDefaultLevels) {
    session.map_file("C:\\WINDOWS\\system32\\qelui32.dll", QELUI32_DLL);
    pnp::CardConfig card; // four ports
    card.location = GetParam().location;
    const std::string instance = boot(card);
    ASSERT_FALSE(instance.empty());
    find_ports(instance);
    ASSERT_EQ(ports.size(), 4u);

    user::DeviceManager manager(session);
    const user::OpenResult opened = manager.open(instance);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_TRUE(opened.provider_result);
    ASSERT_EQ(manager.page_lparams().size(), 1u);
    const auto* page = reinterpret_cast<const PortPageContext*>(manager.page_lparams()[0]);
    EXPECT_EQ(page->PortCount, 4);
    EXPECT_STREQ(page->LocationPrefix, GetParam().prefix);
    for (int port = 0; port < 4; ++port) {
        EXPECT_EQ(page->ComNumber[port], port + 3) << "port " << port;
        EXPECT_EQ(page->RxLevelIndex[port], RX_LEVEL_DEFAULT);
        EXPECT_EQ(page->TxLevel[port], TX_LEVEL_DEFAULT);
    }

    // OK writes the levels where the port driver reads them.
    EXPECT_TRUE(manager.ok());
    for (const std::string& port : ports) {
        std::uint32_t rx = 0;
        EXPECT_EQ(
            registry.open_key(enum_root + port + "\\Device Parameters")->get_dword("RxFIFO", rx),
            reg::Status::ok)
            << port;
        EXPECT_EQ(rx, 16u);
    }
    EXPECT_TRUE(session.open_keys().empty());
    EXPECT_EQ(session.loaded_modules(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Locations, BootedCardTest,
                         ::testing::Values(BootCase{"PCI bus 2, device 13, function 0", "020D00"},
                                           BootCase{"PCI bus 2, device 13", "000000"}));

} // namespace
} // namespace qelui::test
