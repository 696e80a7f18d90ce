// `ports`: the card's properties opened in the device manager of the booted machine, with what
// the property-page provider loaded for each port; `reg set` and `reg delete` change what it
// loads.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

using nlohmann::json;

std::string parameters(const char* portId) {
    return std::string("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\") + portId +
           "\\Device Parameters";
}

json portRow(const char* port, int com, const char* rx, const char* tx) {
    return {{"port", port}, {"com", com}, {"rx", rx}, {"tx", tx}};
}

class Ports : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0);
        ASSERT_EQ(qelsim({"--machine", machine, "card", "add", "--ports", "4"}).exitCode, 0);
    }

    void run(const std::vector<std::string>& args) {
        std::vector<std::string> full{"--machine", machine};
        full.insert(full.end(), args.begin(), args.end());
        const Result result = qelsim(full);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }

    // `ports --json` of a machine that must answer.
    json ports(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--machine", machine, "ports", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result result = qelsim(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return json::parse(result.out);
    }

    Scratch scratch;
    std::string machine = scratch / "m";
};

TEST_F(Ports, AFreshCardListsTheNamesTheClassInstallerGaveWithDefaultLevels) {
    const json cards = ports()["cards"];
    ASSERT_EQ(cards.size(), 1u) << cards.dump(2);
    EXPECT_EQ(cards[0]["instance"].get<std::string>().rfind("PCI\\VEN_5145&DEV_4C01", 0), 0u);
    EXPECT_EQ(cards[0]["ports"],
              json::array({portRow("port-1", 3, "14", "16"), portRow("port-2", 4, "14", "16"),
                           portRow("port-3", 5, "14", "16"), portRow("port-4", 6, "14", "16")}));

    const Result table = qelsim({"--machine", machine, "ports"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.out.find("port-4   COM6      14            16"), std::string::npos)
        << table.out;
}

TEST_F(Ports, RegistryChangesShowAsThePageReadsThem) {
    ports(); // the first boot installs the ports: their keys exist from then on
    run({"reg", "set", parameters("020D0000"), "RxFIFO", "REG_DWORD", "8"});
    run({"reg", "set", parameters("020D0000"), "TxFIFO", "REG_DWORD", "200"});
    run({"reg", "set", parameters("020D0001"), "ForceFifoEnable", "REG_DWORD", "0"});
    run({"reg", "set", parameters("020D0001"), "RxFIFO", "REG_DWORD", "8"});
    run({"reg", "set", parameters("020D0002"), "PORTNAME", "REG_SZ", "COM12x"});
    run({"reg", "delete", parameters("020D0003"), "PORTNAME"});
    EXPECT_EQ(ports()["cards"][0]["ports"],
              json::array({portRow("port-1", 3, "8", "16"), portRow("port-2", 4, "N/A", "N/A"),
                           portRow("port-3", 12, "14", "16"), portRow("port-4", 0, "N/A", "N/A")}));
    const Result table = qelsim({"--machine", machine, "ports"});
    EXPECT_NE(table.out.find("port-4   none"), std::string::npos) << table.out;
}

TEST_F(Ports, EveryCardOrTheOneAskedFor) {
    run({"card", "add", "--ports", "2"});
    const json cards = ports()["cards"];
    ASSERT_EQ(cards.size(), 2u) << cards.dump(2);
    EXPECT_EQ(cards[1]["ports"],
              json::array({portRow("port-1", 7, "14", "16"), portRow("port-2", 8, "14", "16")}));

    std::string second = cards[1]["instance"];
    for (char& c : second) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const json one = ports({"--card", second})["cards"];
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]["instance"], cards[1]["instance"]);

    const Result unknown = qelsim({"--machine", machine, "ports", "--card", "PCI\\NOPE"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("no card PCI\\NOPE"), std::string::npos) << unknown.err;
}

// The page is refused, or cannot be had: the card is named with the reason and qelsim fails.
TEST_F(Ports, NoPageIsAFailureThatSaysWhy) {
    const auto refused = [this](const char* why) {
        const Result result = qelsim({"--machine", machine, "ports", "--json"});
        EXPECT_EQ(result.exitCode, 1) << result.out;
        EXPECT_NE(result.err.find(why), std::string::npos) << result.err;
        return json::parse(result.out)["cards"];
    };

    // A card whose location text cannot be read: the provider loads no ports.
    run({"card", "add", "--no-location"});
    const json cards = refused("refused the card's page");
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_FALSE(cards[0].contains("error"));
    EXPECT_NE(cards[1]["error"].get<std::string>().find("refused"), std::string::npos);
    EXPECT_EQ(cards[1]["ports"], json::array());

    // No provider registered for the card.
    run({"reg", "delete",
         "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{50906CB8-BA12-11D1-BF5D-0000F805F530}"
         "\\0000",
         "EnumPropPages32"});
    refused("no property-page provider is registered");
}

// In a script the map of serial ports is there while the machine runs, the page sees changes
// made by earlier lines, and nothing of the map is saved.
TEST_F(Ports, InAScriptOnTheRunningMachine) {
    writeFile(scratch / "script.txt", "reg export \"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM\"\n"
                                      "reg set \"" +
                                          parameters("020D0001") +
                                          "\" TxFIFO REG_DWORD 4\n"
                                          "ports --json\n");
    const Result result = qelsim({"--machine", machine, "run", scratch / "script.txt"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                              "\"\\\\Device\\\\Serial0\"=\"COM3\"\n"
                              "\"\\\\Device\\\\Serial1\"=\"COM4\"\n"
                              "\"\\\\Device\\\\Serial2\"=\"COM5\"\n"
                              "\"\\\\Device\\\\Serial3\"=\"COM6\"\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(jsonIn(result.out)["cards"][0]["ports"][1], portRow("port-2", 4, "14", "4"));

    const Result saved = qelsim({"--machine", machine, "reg", "export", "HKLM\\HARDWARE"});
    EXPECT_EQ(saved.exitCode, 2) << saved.out;
    const Result kept = qelsim({"--machine", machine, "reg", "export", parameters("020D0001")});
    EXPECT_NE(kept.out.find("\"TxFIFO\"=dword:00000004"), std::string::npos) << kept.out;
}

} // namespace
} // namespace qelsim_test
