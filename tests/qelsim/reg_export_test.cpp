// `reg export`: the machine's registry as regedit writes it, kept from one command to the next.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

class RegExport : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0); }
    Result reg(const std::string& key) {
        return qelsim({"--machine", machine, "reg", "export", key});
    }

    Scratch scratch;
    std::string machine = scratch / "m";
};

// The service key as the package's INF leaves it. ImagePath is REG_EXPAND_SZ, which REGEDIT4
// writes as hex(2) bytes.
TEST_F(RegExport, ServiceKeyWithAnyPrefix) {
    const std::string expected =
        "REGEDIT4\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\qelser]\n"
        "\"Type\"=dword:00000001\n"
        "\"Start\"=dword:00000003\n"
        "\"ErrorControl\"=dword:00000001\n"
        "\"ImagePath\"=hex(2):53,79,73,74,65,6d,33,32,5c,44,52,49,56,45,52,53,5c,71,65,\\\n"
        "  6c,73,65,72,2e,73,79,73,00\n"
        "\"DisplayName\"=\"PCI Serial Port Driver\"\n"
        "\n";
    for (const char* key : {"SYSTEM\\CurrentControlSet\\Services\\qelser",
                            "HKLM\\SYSTEM\\CurrentControlSet\\Services\\qelser",
                            "HKEY_LOCAL_MACHINE\\system\\currentcontrolset\\services\\QELSER"}) {
        const Result result = reg(key);
        EXPECT_EQ(result.exitCode, 0) << key << "\n" << result.err;
        EXPECT_EQ(result.out, expected) << key;
    }
}

TEST_F(RegExport, InstalledPackageInTheWholeRegistry) {
    const Result all = reg("");
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(qelsim({"--machine", machine, "reg", "export"}).out, all.out);
    for (const char* text :
         {"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\qelmf]",
          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\pci]",
          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter]\n"
          "\"ComDB\"=hex:03,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\\\n"
          "  00,00,00,00,00,00,00,00,00,00\n",
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QEL_CARD]"
          "\n"
          "\"DisplayName\"=\"QEL PCI serial card driver package\"\n"
          "\"UninstallString\"=\"rundll32.exe qelun2k.dll,uninstall_driver\"\n"}) {
        EXPECT_NE(all.out.find(text), std::string::npos) << text << "\n" << all.out;
    }
}

// The driver writes "PORTS" when the card starts; the boot saves it with the registry.
TEST_F(RegExport, BootKeepsWhatTheDriverWrote) {
    ASSERT_EQ(qelsim({"--machine", machine, "card", "add", "--ports", "8"}).exitCode, 0);
    const Result devices = qelsim({"--machine", machine, "devices", "--json"});
    ASSERT_EQ(devices.exitCode, 0) << devices.err;
    std::string card;
    const auto tree = nlohmann::json::parse(devices.out);
    for (const auto& device : tree["devices"]) {
        if (device["service"] == "qelmf") {
            card = device["instance"];
        }
    }
    ASSERT_FALSE(card.empty()) << devices.out;
    const Result params =
        reg("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\" + card + "\\Device Parameters");
    ASSERT_EQ(params.exitCode, 0) << params.err;
    EXPECT_NE(params.out.find("\"PORTS\"=dword:00000008\n"), std::string::npos) << params.out;
}

} // namespace
} // namespace qelsim_test
