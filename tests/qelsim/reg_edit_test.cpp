// `reg set` and `reg delete` on the saved machine: each value type as regedit shows it, values
// and whole keys deleted, and bad input refused with the folder left as it was.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

class RegEdit : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0); }

    Result reg(const std::vector<std::string>& args) {
        std::vector<std::string> full{"--machine", machine, "reg"};
        full.insert(full.end(), args.begin(), args.end());
        return qelsim(full);
    }

    std::string exported(const std::string& key) {
        const Result result = reg({"export", key});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.out;
    }

    Scratch scratch;
    std::string machine = scratch / "m";
};

struct SetCase {
    const char* name;
    std::vector<std::string> args; // NAME TYPE VALUE...
    const char* line;              // the value's line in the REGEDIT4 export
};

const SetCase set_cases[] = {
    {"Text", {"PORTNAME", "REG_SZ", "COM 7 \"x\""}, "\"PORTNAME\"=\"COM 7 \\\"x\\\"\"\n"},
    {"EmptyText", {"Empty", "REG_SZ", ""}, "\"Empty\"=\"\"\n"},
    {"DefaultValue", {"@", "REG_SZ", "d"}, "@=\"d\"\n"},
    {"ExpandText",
     {"Path", "reg_expand_sz", "%SystemRoot%"},
     "\"Path\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,00\n"},
    {"DwordDecimal", {"RxFIFO", "REG_DWORD", "8"}, "\"RxFIFO\"=dword:00000008\n"},
    {"DwordHex", {"TxFIFO", "REG_DWORD", "0xFFFFFFFF"}, "\"TxFIFO\"=dword:ffffffff\n"},
    {"Binary", {"Bits", "REG_BINARY", "01,2 ff", "A0"}, "\"Bits\"=hex:01,02,ff,a0\n"},
    {"MultiSeparated", {"List", "REG_MULTI_SZ", "a\\0bc"}, "\"List\"=hex(7):61,00,62,63,00,00\n"},
    {"MultiWords", {"List", "REG_MULTI_SZ", "a", "bc"}, "\"List\"=hex(7):61,00,62,63,00,00\n"},
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.name;
}

class RegSetCase : public RegEdit, public testing::WithParamInterface<SetCase> {};

TEST_P(RegSetCase, StoresTheValueAsRegeditShowsIt) {
    const std::string key = "HKLM\\SOFTWARE\\Test\\New";
    std::vector<std::string> args{"set", key};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const Result set = reg(args);
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_NE(set.out.find("(a new key)"), std::string::npos) << set.out;
    EXPECT_EQ(exported(key), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\New]\n" +
                                 std::string(GetParam().line) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Types, RegSetCase, testing::ValuesIn(set_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegEdit, SetReplacesAndDeleteRemovesValuesAndKeys) {
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\qelser";
    ASSERT_EQ(reg({"set", key, "start", "REG_DWORD", "4"}).exitCode, 0);
    EXPECT_NE(exported(key).find("\"Start\"=dword:00000004\n"), std::string::npos);

    ASSERT_EQ(reg({"set", key + "\\Parameters\\Deeper", "x", "REG_SZ", "y"}).exitCode, 0);
    const Result value = reg({"delete", key, "DisplayName"});
    ASSERT_EQ(value.exitCode, 0) << value.err;
    EXPECT_EQ(exported(key).find("DisplayName"), std::string::npos);

    const Result whole = reg({"delete", "hklm\\" + key});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(reg({"export", key}).exitCode, 2);
    EXPECT_EQ(reg({"export", "SYSTEM\\CurrentControlSet\\Services\\qelmf"}).exitCode, 0);
}

struct BadCase {
    const char* name;
    std::vector<std::string> args; // after "reg"
    const char* message;
};

const BadCase bad_cases[] = {
    {"UnknownType", {"set", "SOFTWARE\\T", "v", "REG_QWORD", "1"}, "unknown value type"},
    {"DwordNotANumber", {"set", "SOFTWARE\\T", "v", "REG_DWORD", "eight"}, "REG_DWORD"},
    {"DwordTooLarge", {"set", "SOFTWARE\\T", "v", "REG_DWORD", "0x100000000"}, "0xFFFFFFFF"},
    {"DwordNegative", {"set", "SOFTWARE\\T", "v", "REG_DWORD", "--", "-1"}, "REG_DWORD"},
    {"DwordTwoValues", {"set", "SOFTWARE\\T", "v", "REG_DWORD", "1", "2"}, "takes one value"},
    {"TextTwoValues", {"set", "SOFTWARE\\T", "v", "REG_SZ", "a", "b"}, "in quotes"},
    {"BinaryNotHex", {"set", "SOFTWARE\\T", "v", "REG_BINARY", "01,0g"}, "\"0g\" is not a byte"},
    {"BinaryTooWide", {"set", "SOFTWARE\\T", "v", "REG_BINARY", "123"}, "\"123\" is not a byte"},
    {"MultiEmptyString", {"set", "SOFTWARE\\T", "v", "REG_MULTI_SZ", "a\\0\\0b"}, "empty"},
    {"TextNotLatin1", {"set", "SOFTWARE\\T", "v", "REG_SZ", "\xE2\x82\xAC"}, "Latin-1"},
    {"NoValue", {"set", "SOFTWARE\\T", "v", "REG_SZ"}, "VALUE"},
    {"BadKeyPath", {"set", "SOFTWARE\\\\T", "v", "REG_SZ", "x"}, "not a registry key path"},
    {"DeleteMissingKey", {"delete", "SOFTWARE\\Nope"}, "no such registry key"},
    {"DeleteMissingValue",
     {"delete", "SYSTEM\\CurrentControlSet\\Services\\qelmf", "Nope"},
     "no value \"Nope\""},
    {"DeleteRoot", {"delete", "HKEY_LOCAL_MACHINE"}, "cannot be deleted"},
    {"DeleteBadPath", {"delete", "SYSTEM\\"}, "not a registry key path"},
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class RegEditBadInput : public RegEdit, public testing::WithParamInterface<BadCase> {};

TEST_P(RegEditBadInput, FailsWithMessageAndChangesNothing) {
    const auto before = snapshot(scratch.path());
    const Result result = reg(GetParam().args);
    EXPECT_EQ(result.exitCode, 2) << result.out;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos)
        << "expected \"" << GetParam().message << "\" in:\n"
        << result.err;
    EXPECT_EQ(snapshot(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Table, RegEditBadInput, testing::ValuesIn(bad_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegEdit, NotAMachine) {
    const Result result =
        qelsim({"--machine", scratch / "none", "reg", "set", "SOFTWARE\\T", "v", "REG_SZ", "x"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("does not exist"), std::string::npos) << result.err;
}

} // namespace
} // namespace qelsim_test
