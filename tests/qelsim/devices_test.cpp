// `devices --json` on machines made with init and card add: the port devices and what their
// port driver received.

#include "qelsim_process.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace qelsim_test {
namespace {

using nlohmann::json;

std::string instanceOf(const std::string& prefix, unsigned port) {
    char id[16];
    std::snprintf(id, sizeof id, "%s%02X", prefix.c_str(), port);
    return "QEL_CARD\\SERIAL\\" + std::string(id);
}

json devicesOf(const Scratch& scratch, const std::vector<std::vector<std::string>>& cards) {
    const std::string machine = scratch / "m";
    EXPECT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0);
    for (const auto& card : cards) {
        std::vector<std::string> args{"--machine", machine, "card", "add"};
        args.insert(args.end(), card.begin(), card.end());
        const Result added = qelsim(args);
        EXPECT_EQ(added.exitCode, 0) << added.err;
    }
    const Result devices = qelsim({"--machine", machine, "devices", "--json"});
    EXPECT_EQ(devices.exitCode, 0) << devices.err;
    EXPECT_EQ(devices.err, "");
    return json::parse(devices.out);
}

TEST(Devices, FourPortCardInFullDetail) {
    Scratch scratch;
    const json devices = devicesOf(scratch, {{"--ports", "4"}});
    const auto ports = portDevices(devices);
    ASSERT_EQ(ports.size(), 4U) << devices.dump(2);

    const json& port2 = ports.at("QEL_CARD\\SERIAL\\020D0002");
    EXPECT_EQ(port2["service"], "qelser");
    EXPECT_EQ(port2["state"], "started");
    EXPECT_EQ(port2["status"], "0x00000000");
    EXPECT_EQ(port2["device_id"], "QEL_CARD\\SERIAL");
    EXPECT_EQ(port2["hardware_ids"], json::array({"QEL_CARD\\SERIAL"}));
    EXPECT_EQ(port2["compatible_ids"], json::array({"QEL_CARD\\SERIAL"}));
    EXPECT_EQ(port2["instance_id"], "020D0002");
    EXPECT_EQ(port2["description"], "PCI serial port");

    const json& caps = port2["capabilities"];
    EXPECT_EQ(caps["UniqueID"], true);
    EXPECT_EQ(caps["UINumber"], 16);
    EXPECT_EQ(caps["Removable"], false);
    EXPECT_EQ(caps["SurpriseRemovalOK"], false);

    const json& bus = port2["bus_information"];
    EXPECT_EQ(bus["BusTypeGuid"], "{5F28B317-42AF-404D-92A2-09E3153AB862}");
    EXPECT_EQ(bus["LegacyBusType"], 15);
    EXPECT_EQ(bus["BusNumber"], 0x268);

    const json& config = port2["port_config"];
    EXPECT_EQ(config["LocationCode"], 0x268);
    EXPECT_EQ(config["RawPortBase"], 0x310);
    EXPECT_EQ(config["RawSharedRegister"], 0x304);
    EXPECT_EQ(config["PortIndex"], 2);
    EXPECT_EQ(config["RawInterruptLevel"], 5);
    EXPECT_EQ(config["RawInterruptVector"], 5);
    for (const char* reserved : {"Reserved1", "Reserved2", "Reserved3"}) {
        EXPECT_EQ(config[reserved], 0) << reserved;
    }
    for (const auto& [instance, port] : ports) { // one card, one interrupt for all
        EXPECT_EQ(port["port_config"]["TrInterruptVector"], config["TrInterruptVector"]);
        EXPECT_EQ(port["parent"], port2["parent"]) << instance;
    }

    // The parent is the card, driven by the bus driver.
    const std::string card = port2["parent"];
    bool cardListed = false;
    for (const json& device : devices["devices"]) {
        if (device["instance"] == card) {
            cardListed = true;
            EXPECT_EQ(device["service"], "qelmf");
            EXPECT_EQ(device["state"], "started");
            EXPECT_EQ(device["children"].size(), 4U);
        }
    }
    EXPECT_TRUE(cardListed) << card;
}

struct CardCase {
    const char* name;
    std::vector<std::string> options;
    unsigned ports;
    std::string idPrefix; // first six digits of the instance IDs
    uint64_t ioBase;
    uint64_t irq;
};

void PrintTo(const CardCase& c, std::ostream* os) {
    *os << c.name;
}

class CardLayout : public testing::TestWithParam<CardCase> {};

// Every port gets its own 8 registers and the card's interrupt; only cards of 4 or 8 ports have
// the shared register.
TEST_P(CardLayout, PortsGetTheirShareOfTheCard) {
    const CardCase& c = GetParam();
    Scratch scratch;
    const auto ports = portDevices(devicesOf(scratch, {c.options}));
    ASSERT_EQ(ports.size(), c.ports);
    for (unsigned i = 0; i < c.ports; ++i) {
        const std::string instance = instanceOf(c.idPrefix, i);
        ASSERT_EQ(ports.count(instance), 1U) << instance;
        const json& config = ports.at(instance)["port_config"];
        EXPECT_EQ(config["RawPortBase"], c.ioBase + 8 * i) << instance;
        EXPECT_EQ(config["RawSharedRegister"], c.ports >= 4 ? c.ioBase + 4 : 0) << instance;
        EXPECT_EQ(config["RawInterruptLevel"], c.irq) << instance;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cards, CardLayout,
    testing::Values(CardCase{"OnePort", {"--ports", "1"}, 1, "020D00", 0x300, 5},
                    CardCase{"TwoPorts", {"--ports", "2"}, 2, "020D00", 0x300, 5},
                    CardCase{"EightPortsElsewhere",
                             {"--ports", "8", "--io", "0x2F8", "--irq", "0x0B", "--location",
                              "PCI bus 1, device 31, function 7"},
                             8,
                             "011F07",
                             0x2F8,
                             11},
                    CardCase{"ConfigWordAndUnreadableLocation",
                             {"--config-word", "0x00020000", "--no-location"},
                             2,
                             "000000",
                             0x300,
                             5}),
    [](const auto& info) { return std::string(info.param.name); });

// By default a second card takes the next PCI device number and I/O range, so that its ports
// neither share instance paths nor registers with the first card's.
TEST(Devices, SecondCardGoesToTheNextFreeSlotAndRange) {
    Scratch scratch;
    const auto ports = portDevices(devicesOf(scratch, {{"--ports", "8"}, {"--ports", "2"}}));
    EXPECT_EQ(ports.size(), 10U);
    ASSERT_EQ(ports.count("QEL_CARD\\SERIAL\\020D0007"), 1U);
    ASSERT_EQ(ports.count("QEL_CARD\\SERIAL\\020E0001"), 1U);
    EXPECT_EQ(ports.at("QEL_CARD\\SERIAL\\020D0007")["port_config"]["RawPortBase"], 0x338);
    EXPECT_EQ(ports.at("QEL_CARD\\SERIAL\\020E0001")["port_config"]["RawPortBase"], 0x348);
}

TEST(Devices, CardWhosePortWordNamesNoCountDoesNotStart) {
    Scratch scratch;
    const json devices = devicesOf(scratch, {{"--config-word", "0x00030000"}});
    EXPECT_TRUE(portDevices(devices).empty());
    bool found = false;
    for (const json& device : devices["devices"]) {
        if (device["service"] == "qelmf") {
            found = true;
            EXPECT_NE(device["state"], "started");
            EXPECT_EQ(device["status"], "0xC0000182"); // STATUS_DEVICE_CONFIGURATION_ERROR
        }
    }
    EXPECT_TRUE(found) << devices.dump(2);
}

} // namespace
} // namespace qelsim_test
