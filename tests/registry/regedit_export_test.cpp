#include "registry/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace winsim::reg {
namespace {

struct ValueLine {
    const char* what;
    std::string name;
    std::uint32_t type;
    Bytes data;
    std::string line;
    friend void PrintTo(const ValueLine& c, std::ostream* out) { *out << c.what; }
};

class ExportedValue : public testing::TestWithParam<ValueLine> {};

TEST_P(ExportedValue, IsWrittenAsRegeditDoes) {
    Registry registry;
    const ValueLine& c = GetParam();
    ASSERT_EQ(registry.create_key("K").key->set_value(c.name, c.type, c.data), Status::ok);
    std::string text;
    ASSERT_EQ(registry.export_regedit4("K", text), Status::ok);
    EXPECT_EQ(text, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n" + c.line + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Types, ExportedValue,
    testing::Values(
        ValueLine{"Sz", "PORTNAME", value_type::sz, encode_string("COM5"),
                  "\"PORTNAME\"=\"COM5\"\n"},
        ValueLine{"Default", "", value_type::sz, encode_string("x"), "@=\"x\"\n"},
        ValueLine{"Escaped", "a\\\"b", value_type::sz, encode_string("C:\\dir\\\"q\""),
                  "\"a\\\\\\\"b\"=\"C:\\\\dir\\\\\\\"q\\\"\"\n"},
        ValueLine{"Dword", "PORTS", value_type::dword, encode_dword(10),
                  "\"PORTS\"=dword:0000000a\n"},
        ValueLine{"DwordMax", "d", value_type::dword, encode_dword(0xFFFFFFFF),
                  "\"d\"=dword:ffffffff\n"},
        ValueLine{"ShortDword", "d", value_type::dword, Bytes{1, 2}, "\"d\"=hex(4):01,02\n"},
        ValueLine{"Binary", "ComDB", value_type::binary, Bytes{0x01, 0xAB},
                  "\"ComDB\"=hex:01,ab\n"},
        ValueLine{"EmptyBinary", "b", value_type::binary, Bytes{}, "\"b\"=hex:\n"},
        ValueLine{"ExpandSz", "e", value_type::expand_sz, encode_string("%a%"),
                  "\"e\"=hex(2):25,61,25,00\n"},
        ValueLine{"MultiSz", "m", value_type::multi_sz, *encode_multi_string({"ab", "c"}),
                  "\"m\"=hex(7):61,62,00,63,00,00\n"},
        ValueLine{"None", "n", value_type::none, Bytes{0xFF}, "\"n\"=hex(0):ff\n"},
        ValueLine{"Other", "q", 11, Bytes{1, 0, 0, 0, 0, 0, 0, 0},
                  "\"q\"=hex(b):01,00,00,00,00,00,00,00\n"}),
    [](const testing::TestParamInfo<ValueLine>& info) { return info.param.what; });

TEST(RegeditExport, LongHexLinesWrapAtEightyColumns) {
    Registry registry;
    Bytes data(60);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_EQ(registry.create_key("K").key->set_value("Data", value_type::binary, data),
              Status::ok);
    std::string text;
    ASSERT_EQ(registry.export_regedit4("K", text), Status::ok);
    // 22 bytes after the 11-character head, then 25 per continued line.
    EXPECT_EQ(text,
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n"
              "\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
              "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\n"
              "  2f,30,31,32,33,34,35,36,37,38,39,3a,3b\n\n");
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u);
        start = end + 1;
    }
}

TEST(RegeditExport, WritesKeysInRegeditOrderAndExportsSubtrees) {
    Registry registry;
    ASSERT_EQ(registry.create_key("SYSTEM\\b").key->set_dword("n", 1), Status::ok);
    ASSERT_EQ(registry.create_key("SYSTEM\\A\\Child").status, Status::ok);
    ASSERT_EQ(
        registry
            .create_key("HARDWARE\\DEVICEMAP\\SERIALCOMM", {.is_volatile = true, .class_name = ""})
            .key->set_string("\\Device\\Serial0", "COM1"),
        Status::ok);

    std::string text;
    ASSERT_EQ(registry.export_regedit4("", text), Status::ok);
    EXPECT_EQ(text, "REGEDIT4\n\n"
                    "[HKEY_LOCAL_MACHINE]\n\n"
                    "[HKEY_LOCAL_MACHINE\\HARDWARE]\n\n"
                    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP]\n\n"
                    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                    "\"\\\\Device\\\\Serial0\"=\"COM1\"\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM]\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\A]\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\A\\Child]\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\b]\n"
                    "\"n\"=dword:00000001\n\n");

    ASSERT_EQ(registry.export_regedit4("system\\a", text), Status::ok);
    EXPECT_EQ(text, "REGEDIT4\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\A]\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\A\\Child]\n\n");

    text = "untouched";
    EXPECT_EQ(registry.export_regedit4("SYSTEM\\Missing", text), Status::not_found);
    EXPECT_EQ(text, "untouched");
}

} // namespace
} // namespace winsim::reg
