#include "registry/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace winsim::reg {
namespace {

TEST(ValueCodec, StringsAreUtf16LeWithATerminatingNul) {
    EXPECT_EQ(encode_string("A\xE9"), (Bytes{'A', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(encode_string(""), (Bytes{0, 0}));
    EXPECT_EQ(decode_string(Bytes{'A', 0, 0xE9, 0, 0, 0}), "A\xE9");
    // Stops at the first NUL; reads data without a terminator to the end; odd byte ignored.
    EXPECT_EQ(decode_string(Bytes{'a', 0, 0, 0, 'b', 0}), "a");
    EXPECT_EQ(decode_string(Bytes{'a', 0, 'b', 0, 'c'}), "ab");
    // Characters beyond Latin-1 read back as '?'.
    EXPECT_EQ(decode_string(Bytes{0xAC, 0x20, 0, 0}), "?");
    EXPECT_EQ(from_utf16(to_utf16("COM5\xFF")), "COM5\xFF");
}

TEST(ValueCodec, DwordsAndMultiStrings) {
    EXPECT_EQ(encode_dword(0x0A0B0C0D), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(decode_dword(Bytes{0x0D, 0x0C, 0x0B, 0x0A}), 0x0A0B0C0Du);
    EXPECT_EQ(decode_dword(Bytes{1, 2, 3}), std::nullopt);
    EXPECT_EQ(decode_dword(Bytes{1, 2, 3, 4, 5}), std::nullopt);

    EXPECT_EQ(encode_multi_string({"a", "bc"}), (Bytes{'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode_multi_string({}), (Bytes{0, 0}));
    EXPECT_EQ(encode_multi_string({"a", "", "b"}), std::nullopt);
    EXPECT_EQ(decode_multi_string(Bytes{'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}),
              (std::vector<std::string>{"a", "bc"}));
    // Without the final NUL, and with data after the empty string that ends the list.
    EXPECT_EQ(decode_multi_string(Bytes{'a', 0, 0, 0, 'b', 0}),
              (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(decode_multi_string(Bytes{'a', 0, 0, 0, 0, 0, 'z', 0}),
              (std::vector<std::string>{"a"}));
}

TEST(ValueCodec, Latin1AndUtf8) {
    EXPECT_EQ(latin1_to_utf8("a\xE9\xFF"), "a\xC3\xA9\xC3\xBF");
    EXPECT_EQ(utf8_to_latin1("a\xC3\xA9\xC3\xBF"), "a\xE9\xFF");
    EXPECT_EQ(utf8_to_latin1("\xE2\x82\xAC"), std::nullopt); // U+20AC
    EXPECT_EQ(utf8_to_latin1("\xC3"), std::nullopt);
    EXPECT_EQ(from_hex("00ff7A"), (Bytes{0x00, 0xFF, 0x7A}));
    EXPECT_EQ(from_hex("0"), std::nullopt);
    EXPECT_EQ(from_hex("0g"), std::nullopt);
}

class KeyValues : public testing::Test {
  protected:
    Registry registry;
    std::shared_ptr<Key> key = registry.create_key("Enum\\QEL_CARD\\Device Parameters").key;
};

TEST_F(KeyValues, TypedHelpersRoundTripAndCheckTheType) {
    ASSERT_EQ(key->set_string("PORTNAME", "COM5"), Status::ok);
    ASSERT_EQ(key->set_string("Path", "%SystemRoot%", value_type::expand_sz), Status::ok);
    ASSERT_EQ(key->set_dword("PORTS", 4), Status::ok);
    ASSERT_EQ(key->set_multi_string("Ids", {"QEL_CARD\\SERIAL", "x"}), Status::ok);
    ASSERT_EQ(key->set_value("Raw", value_type::dword, Bytes{1, 2}), Status::ok);

    std::string text;
    std::uint32_t number = 0;
    std::vector<std::string> list;
    EXPECT_EQ(key->get_string("portname", text), Status::ok);
    EXPECT_EQ(text, "COM5");
    EXPECT_EQ(key->get_string("PATH", text), Status::ok);
    EXPECT_EQ(text, "%SystemRoot%");
    EXPECT_EQ(key->get_dword("Ports", number), Status::ok);
    EXPECT_EQ(number, 4u);
    EXPECT_EQ(key->get_multi_string("IDS", list), Status::ok);
    EXPECT_EQ(list, (std::vector<std::string>{"QEL_CARD\\SERIAL", "x"}));

    EXPECT_EQ(key->get_dword("PORTNAME", number), Status::wrong_type);
    EXPECT_EQ(key->get_dword("Raw", number), Status::wrong_type); // REG_DWORD of 2 bytes
    EXPECT_EQ(key->get_string("PORTS", text), Status::wrong_type);
    EXPECT_EQ(key->get_multi_string("PORTNAME", list), Status::wrong_type);
    EXPECT_EQ(key->get_dword("missing", number), Status::not_found);

    EXPECT_EQ(key->set_string("Bad", "x", value_type::binary), Status::invalid_parameter);
    EXPECT_EQ(key->set_multi_string("Bad", {"a", ""}), Status::invalid_parameter);
    Value value;
    EXPECT_EQ(key->query_value("Bad", value), Status::not_found);
}

TEST_F(KeyValues, EnumerateInInsertionOrderAndOverwriteInPlace) {
    ASSERT_EQ(key->set_dword("RxFIFO", 8), Status::ok);
    ASSERT_EQ(key->set_string("", "default"), Status::ok);
    ASSERT_EQ(key->set_dword("TxFIFO", 14), Status::ok);
    ASSERT_EQ(key->set_dword("rxfifo", 1), Status::ok); // same value, other case

    std::vector<std::string> names;
    Value value;
    for (std::size_t i = 0; key->enum_value(i, value) == Status::ok; ++i) {
        names.push_back(value.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"RxFIFO", "", "TxFIFO"}));
    EXPECT_EQ(key->enum_value(3, value), Status::no_more_items);
    std::uint32_t number = 0;
    EXPECT_EQ(key->get_dword("RxFIFO", number), Status::ok);
    EXPECT_EQ(number, 1u);

    EXPECT_EQ(key->delete_value("RXFIFO"), Status::ok);
    EXPECT_EQ(key->delete_value("RXFIFO"), Status::not_found);
    ASSERT_EQ(key->enum_value(0, value), Status::ok);
    EXPECT_EQ(value.name, "");

    KeyInfo info;
    ASSERT_EQ(key->query_info(info), Status::ok);
    EXPECT_EQ(info.values, 2u);
    EXPECT_EQ(info.max_value_name_length, 6u);
    EXPECT_EQ(info.max_value_data_size, 16u); // "default" and its NUL in UTF-16
}

} // namespace
} // namespace winsim::reg
