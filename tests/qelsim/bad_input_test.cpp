// Bad input: a clear message on standard error, a non-zero exit, and every folder exactly as it
// was.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

namespace fs = std::filesystem;

// In the scratch folder: "m", a machine with one 4-port card; "other", a folder holding a file;
// "empty", an empty folder; and scripts.
class BadInput : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(qelsim({"--machine", scratch / "m", "init"}).exitCode, 0);
        ASSERT_EQ(qelsim({"--machine", scratch / "m", "card", "add"}).exitCode, 0);
        fs::create_directory(scratch / "other");
        writeFile(scratch / "other/notes.txt", "not a machine\n");
        fs::create_directory(scratch / "empty");
        writeFile(scratch / "unknown-device.txt",
                  "devices\npnp stop QEL_CARD\\SERIAL\\020D0009\ndevices --json\n");
        writeFile(scratch / "typo.txt", "# fine so far\n\ndevices\nfrobnicate now\n");
        writeFile(scratch / "nested.txt", "run typo.txt\n");
        writeFile(scratch / "quote.txt", "reg export \"HKLM\\SYSTEM\n");
    }

    Scratch scratch;
};

struct Case {
    const char* name;
    std::vector<std::string> args; // "@" at the start of an argument stands for the scratch folder
    const char* message;           // part of what standard error must say
};

const Case cases[] = {
    {"MissingFolder", {"--machine", "@/nowhere", "devices"}, "does not exist"},
    {"FolderNotAMachine", {"--machine", "@/empty", "boot"}, "is not a machine"},
    {"FolderWithOtherFiles", {"--machine", "@/other", "card", "add"}, "is not a machine"},
    {"NoMachineGiven", {"devices"}, "needs a machine"},
    {"InitOverMachine", {"--machine", "@/m", "init"}, "already holds a machine"},
    {"InitOverOtherFiles", {"--machine", "@/other", "init"}, "not empty"},
    {"InitWithoutParent", {"--machine", "@/no/such", "init"}, "does not exist"},
    {"InitUnknownOs", {"--machine", "@/new", "init", "--os", "vista"}, "unknown Windows version"},
    {"PortCountThree", {"--machine", "@/m", "card", "add", "--ports", "3"}, "1, 2, 4 or 8"},
    {"PortCountZero", {"--machine", "@/m", "card", "add", "--ports", "0"}, "1, 2, 4 or 8"},
    {"DemoPortCount", {"demo", "--ports", "16"}, "1, 2, 4 or 8"},
    {"MalformedIo", {"--machine", "@/m", "card", "add", "--io", "0x3G0"}, "--io"},
    {"IoTooHigh", {"--machine", "@/m", "card", "add", "--io", "0x10000"}, "--io"},
    {"IoRangePastEnd", {"--machine", "@/m", "card", "add", "--io", "0xFFF0"}, "past the end"},
    {"IoOverlapsFirstCard",
     {"--machine", "@/m", "card", "add", "--ports", "1", "--io", "0x318"},
     "overlap those of card 1 (0x0300-0x031F)"},
    {"LocationTaken",
     {"--machine", "@/m", "card", "add", "--location", "PCI bus 2, device 13, function 0"},
     "card 1 is already at"},
    {"NegativeIrq", {"--machine", "@/m", "card", "add", "--irq", "-1"}, "--irq"},
    {"ConfigWordTooWide",
     {"--machine", "@/m", "card", "add", "--config-word", "0x100000000"},
     "--config-word"},
    {"PortsAndConfigWord",
     {"--machine", "@/m", "card", "add", "--ports", "4", "--config-word", "0x00040000"},
     "excludes"},
    {"UnknownCommand", {"--machine", "@/m", "frobnicate"}, "frobnicate"},
    {"PnpOutsideScript", {"--machine", "@/m", "pnp", "stop", "HTREE\\ROOT\\0"}, "pnp"},
    {"UnknownKey", {"--machine", "@/m", "reg", "export", "HKLM\\SYSTEM\\Nope"}, "no such"},
    {"BadKeyPath", {"--machine", "@/m", "reg", "export", "SYSTEM\\\\Services"}, "not a registry"},
    {"MissingScript", {"--machine", "@/m", "run", "@/none.txt"}, "cannot read the script"},
    {"ScriptUnknownDevice",
     {"--machine", "@/m", "run", "@/unknown-device.txt"},
     "unknown-device.txt:2: unknown device QEL_CARD\\SERIAL\\020D0009"},
    {"ScriptTypoFoundBeforeBoot", {"--machine", "@/m", "run", "@/typo.txt"}, "typo.txt:4:"},
    {"ScriptRunsNoScript", {"--machine", "@/m", "run", "@/nested.txt"}, "nested.txt:1:"},
    {"ScriptOpenQuote", {"--machine", "@/m", "run", "@/quote.txt"}, "quote.txt:1: the quote"},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class BadInputCase : public BadInput, public testing::WithParamInterface<Case> {};

TEST_P(BadInputCase, FailsWithMessageAndChangesNothing) {
    const Case& c = GetParam();
    std::vector<std::string> args;
    for (std::string arg : c.args) {
        if (arg.rfind('@', 0) == 0) {
            arg = scratch.path().string() + arg.substr(1);
        }
        args.push_back(arg);
    }
    const auto before = snapshot(scratch.path());
    const Result result = qelsim(args);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.exitCode, 3) << "not a crash";
    EXPECT_NE(result.err.find(c.message), std::string::npos)
        << "expected \"" << c.message << "\" in:\n"
        << result.err;
    EXPECT_EQ(snapshot(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputCase, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qelsim_test
