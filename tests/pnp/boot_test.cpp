// Booting the machine: the device tree from the root down to the card's port devices, their
// identities and keys, and the cards that do not start.
#include "machine_fixture.h"

#include "pnp/instance_path.h"

#include <qelmf.h>

#include <algorithm>

namespace winsim::pnp::test {

namespace {

const std::string cardId = "PCI\\VEN_5145&DEV_4C01&SUBSYS_00040000&REV_01";
const std::string portsGuid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";

std::vector<std::string> names(const std::vector<Event>& events, const std::string& prefix) {
    std::vector<std::string> out;
    for (const Event& e : events) {
        if (e.kind == "irp" && e.text.rfind(prefix, 0) == 0) {
            out.push_back(e.text.substr(prefix.size(), e.text.find(" ->") - prefix.size()));
        }
    }
    return out;
}

} // namespace

TEST(Boot, FourPortCardGivesFourStartedPortsWithTheirIdentities) {
    Machine m;
    std::vector<ClassEvent> hooked;
    m.pnp.addClassHook([&](const ClassEvent& e) { hooked.push_back(e); });
    m.boot({CardConfig{}});

    // The card: a PCI child without a unique ID, so its path carries the bus's prefix.
    const std::string card = cardId + "\\" + parentIdPrefix(pciBus) + "&68";
    ASSERT_EQ(m.cardInstance(), card);
    EXPECT_EQ(m.state(card), "started");
    EXPECT_EQ(m.enumString(card, "LocationInformation"), "PCI bus 2, device 13, function 0");
    EXPECT_EQ(m.enumString(card, "Service"), "qelmf");
    EXPECT_EQ(m.enumString(pciBus, "ParentIdPrefix"), parentIdPrefix(pciBus));
    std::uint32_t ports = 0;
    const auto parameters =
        m.registry.open_key("SYSTEM\\CurrentControlSet\\Enum\\" + card + "\\Device Parameters");
    ASSERT_NE(parameters, nullptr);
    ASSERT_EQ(parameters->get_dword("PORTS", ports), reg::Status::ok);
    EXPECT_EQ(ports, 4u);

    const auto portList = m.ports();
    ASSERT_EQ(portList.size(), 4u);
    for (unsigned i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const DeviceInfo& port = portList[i];
        EXPECT_EQ(port.instance, portPath(i));
        EXPECT_EQ(port.parent, card);
        EXPECT_EQ(port.state, "started");
        EXPECT_EQ(port.service, "qelser");
        EXPECT_EQ(port.instanceId, portPath(i).substr(16));
        EXPECT_EQ(port.hardwareIds, std::vector<std::string>{"QEL_CARD\\SERIAL"});
        EXPECT_EQ(port.compatibleIds, std::vector<std::string>{"QEL_CARD\\SERIAL"});
        EXPECT_EQ(port.description, "PCI serial port");
        ASSERT_TRUE(port.capabilities);
        EXPECT_TRUE(port.capabilities->UniqueID);
        EXPECT_FALSE(port.capabilities->SurpriseRemovalOK);
        EXPECT_EQ(port.capabilities->UINumber, i * 8);
        EXPECT_EQ(port.capabilities->DeviceState[PowerSystemWorking], PowerDeviceD0);
        EXPECT_EQ(port.capabilities->DeviceState[PowerSystemSleeping3], PowerDeviceD3);
        ASSERT_TRUE(port.busInformation);
        EXPECT_TRUE(IsEqualGUID(port.busInformation->BusTypeGuid, GUID_CARD_BUS_TYPE));
        EXPECT_EQ(port.busInformation->LegacyBusType, PNPBus);
        EXPECT_EQ(port.busInformation->BusNumber, 0x268u);
        EXPECT_EQ(port.interfaceRefs, 1);
        ASSERT_TRUE(port.portConfig);
        const auto& config = *port.portConfig;
        EXPECT_EQ(config.at("LocationCode"), 0x268u);
        EXPECT_EQ(config.at("PortIndex"), i);
        EXPECT_EQ(config.at("RawPortBase"), 0x300u + 8 * i);
        EXPECT_EQ(config.at("TrPortBase"), 0x300u + 8 * i);
        EXPECT_EQ(config.at("RawSharedRegister"), 0x304u);
        EXPECT_EQ(config.at("TrSharedRegister"), 0x304u);
        EXPECT_EQ(config.at("PortFlags"),
                  unsigned{CM_RESOURCE_PORT_IO | CM_RESOURCE_PORT_16_BIT_DECODE});
        EXPECT_EQ(config.at("RawInterruptLevel"), 5u);
        EXPECT_EQ(config.at("RawInterruptVector"), 5u);
        EXPECT_EQ(config.at("RawInterruptAffinity"), 1u);
        EXPECT_EQ(config.at("TrInterruptLevel"), 22u);
        EXPECT_EQ(config.at("TrInterruptVector"), 0x35u);
        EXPECT_EQ(config.at("TrInterruptAffinity"), 1u);

        // What installation wrote into the port's instance key.
        EXPECT_EQ(m.enumString(port.instance, "Service"), "qelser");
        EXPECT_EQ(m.enumString(port.instance, "Class"), "Ports");
        EXPECT_EQ(m.enumString(port.instance, "ClassGUID"), portsGuid);
        EXPECT_EQ(m.enumString(port.instance, "DeviceDesc"), "PCI serial port");
        const std::string driver = m.enumString(port.instance, "Driver");
        EXPECT_EQ(driver.rfind(portsGuid + "\\", 0), 0u) << driver;
        EXPECT_NE(m.registry.open_key("SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver),
                  nullptr);
        EXPECT_NE(m.registry.open_key("SYSTEM\\CurrentControlSet\\Enum\\" + port.instance +
                                      "\\Device Parameters"),
                  nullptr);
    }

    // The Ports class hook heard of each port twice: installed, then started.
    const auto portsEvents = std::count_if(
        hooked.begin(), hooked.end(), [](const ClassEvent& e) { return e.className == "Ports"; });
    EXPECT_EQ(portsEvents, 8);
    m.shutdownClean();
}

// A new child gets its identity queries in Windows' order, then its driver and start.
TEST(Boot, NewChildIsQueriedInWindowsOrder) {
    Machine m;
    m.boot({CardConfig{}});
    const std::string card = m.cardInstance();
    const auto queries = names(m.events(), "new child of " + card + ": ");
    const std::vector<std::string> expected = {
        "IRP_MN_QUERY_ID (device ID)",
        "IRP_MN_QUERY_CAPABILITIES",
        "IRP_MN_QUERY_ID (instance ID)",
        "IRP_MN_QUERY_ID (hardware IDs)",
        "IRP_MN_QUERY_ID (compatible IDs)",
        "IRP_MN_QUERY_DEVICE_TEXT (description)",
        "IRP_MN_QUERY_DEVICE_TEXT (location information)",
        "IRP_MN_QUERY_BUS_INFORMATION",
        "IRP_MN_QUERY_RESOURCES",
        "IRP_MN_QUERY_RESOURCE_REQUIREMENTS",
    };
    ASSERT_EQ(queries.size(), 4 * expected.size());
    EXPECT_EQ(std::vector<std::string>(queries.begin(), queries.begin() + 10), expected);

    // Port 0's own requests after it was found: start, capabilities, device state, relations.
    std::vector<std::string> after;
    for (const Event& e : m.events()) {
        if (e.instance == portPath(0) && (e.kind == "irp" || e.kind == "add-device")) {
            after.push_back(e.kind == "irp" ? e.text.substr(0, e.text.find(" ->")) : e.kind);
        }
    }
    EXPECT_EQ(after, (std::vector<std::string>{
                         "add-device",
                         "IRP_MN_START_DEVICE",
                         "IRP_MN_QUERY_CAPABILITIES (after start)",
                         "IRP_MN_QUERY_PNP_DEVICE_STATE",
                         "IRP_MN_QUERY_DEVICE_RELATIONS (bus relations)",
                     }));
    m.shutdownClean();
}

struct PortCountCase {
    std::uint32_t word;
    unsigned ports; // 0: the card does not start
};

class PortCount : public ::testing::TestWithParam<PortCountCase> {};

TEST_P(PortCount, ConfigurationWordDecidesThePorts) {
    const PortCountCase c = GetParam();
    Machine m;
    CardConfig card;
    card.configWord = c.word;
    m.boot({card});
    const auto info = m.pnp.device(m.cardInstance());
    ASSERT_TRUE(info);
    const auto ports = m.ports();
    ASSERT_EQ(ports.size(), c.ports);
    if (c.ports == 0) {
        EXPECT_EQ(info->state, "failed");
        EXPECT_EQ(info->status, STATUS_DEVICE_CONFIGURATION_ERROR);
        EXPECT_EQ(m.registry
                      .open_key("SYSTEM\\CurrentControlSet\\Enum\\" + info->instance +
                                "\\Device Parameters")
                      ->values()
                      .size(),
                  0u); // no "PORTS"
    } else {
        EXPECT_EQ(info->state, "started");
        for (const DeviceInfo& port : ports) {
            EXPECT_EQ(port.state, "started");
            EXPECT_EQ(port.portConfig->at("RawSharedRegister"), c.ports >= 4 ? 0x304u : 0u);
        }
    }
    m.shutdownClean();
}

INSTANTIATE_TEST_SUITE_P(
    Words, PortCount,
    ::testing::Values(PortCountCase{0x00010000, 1}, PortCountCase{0x00020000, 2},
                      PortCountCase{0x00080000, 8}, PortCountCase{0x00030000, 0},
                      PortCountCase{0x00100000, 0}, PortCountCase{0x00045145, 0}));

struct StartFailure {
    const char* name;
    CardConfig card;
    NTSTATUS expected;
};

class CardStartFailure : public ::testing::TestWithParam<StartFailure> {};

// A card that fails to start is left failed with its status and without ports; its stack is torn
// down again, so no driver holds anything afterwards.
TEST_P(CardStartFailure, LeavesTheCardFailed) {
    Machine m;
    m.boot({GetParam().card});
    const auto devices = m.pnp.devices();
    const auto card = std::find_if(devices.begin(), devices.end(),
                                   [](const DeviceInfo& d) { return d.service == "qelmf"; });
    ASSERT_NE(card, devices.end());
    EXPECT_EQ(card->state, "failed");
    EXPECT_EQ(card->status, GetParam().expected);
    EXPECT_TRUE(card->childInstances.empty());
    EXPECT_FALSE(m.pnp.crashed());
    m.shutdownClean();
}

CardConfig withStartStatus(NTSTATUS status) {
    CardConfig card;
    card.startStatus = status;
    return card;
}

CardConfig withFailedConfigRead() {
    CardConfig card;
    card.failConfigRead = true;
    return card;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CardStartFailure,
    ::testing::Values(StartFailure{"PciRefusesStart", withStartStatus(STATUS_DEVICE_NOT_READY),
                                   STATUS_DEVICE_NOT_READY},
                      StartFailure{"ConfigSpaceUnreadable", withFailedConfigRead(),
                                   STATUS_DEVICE_CONFIGURATION_ERROR}),
    [](const auto& info) { return std::string(info.param.name); });

// The platform may map the card's I/O range into memory: the translated list then has no I/O
// port range, and the ports' translated bases rest on the card's saved zero.
TEST(Boot, TranslatedPortAsMemoryLeavesTranslatedBaseUnset) {
    Machine m;
    CardConfig card;
    card.translatedPortAsMemory = true;
    m.boot({card});
    const auto ports = m.ports();
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[2].portConfig->at("RawPortBase"), 0x310u);
    EXPECT_EQ(ports[2].portConfig->at("TrPortBase"), 0x10u);
    m.shutdownClean();
}

// Two cards in different slots: both start and their ports' paths differ in the card's digits.
// Two cards whose location cannot be read would give their ports equal paths; the card driver
// refuses the second one, and the machine goes on.
TEST(Boot, TwoCards) {
    {
        Machine m;
        CardConfig second;
        second.location = "PCI bus 3, device 4, function 1";
        m.boot({CardConfig{}, second});
        EXPECT_EQ(m.ports().size(), 8u);
        EXPECT_EQ(m.state(portPath(3)), "started");
        EXPECT_EQ(m.state(portPath(3, "030401")), "started");
        m.shutdownClean();
    }
    {
        Machine m;
        CardConfig unlocated;
        unlocated.location = std::nullopt;
        m.boot({unlocated, unlocated});
        EXPECT_FALSE(m.pnp.crashed()) << m.pnp.crashText();
        const auto first = m.pnp.device(m.cardInstance(0));
        const auto second = m.pnp.device(m.cardInstance(1));
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->state, "started");
        EXPECT_EQ(first->location, "");
        EXPECT_EQ(second->state, "failed");
        EXPECT_FALSE(NT_SUCCESS(second->status));
        EXPECT_EQ(m.ports().size(), 4u);
        EXPECT_EQ(m.state(portPath(0, "000000")), "started");
        m.shutdownClean();
    }
}

} // namespace winsim::pnp::test
