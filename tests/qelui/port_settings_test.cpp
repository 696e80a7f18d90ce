// One port's settings in its "Device Parameters" key: how the page reads them into its record,
// and the encoding in which it writes the FIFO levels back for the serial port driver.
#include "qelui_fixture.h"

#include <initializer_list>
#include <span>

namespace qelui::test {
namespace {

constexpr int port = 2;

std::string rx_text(BYTE index) {
    return index < RX_LEVEL_COUNT ? RxLevels[index].Text : "?";
}
std::string tx_text(BYTE level) {
    return level == TX_LEVEL_NONE ? "N/A" : std::to_string(level);
}

class PortSettingsTest : public QeluiTest {
  protected:
    PortSettingsTest() {
        context = static_cast<PortPageContext*>(LocalAlloc(LPTR, sizeof(PortPageContext)));
        lstrcpyA(context->LocationPrefix, card_prefix);
        context->PortCount = port + 1;
    }
    ~PortSettingsTest() override { LocalFree(context); }

    void set_bytes(const char* name, std::uint32_t type, std::initializer_list<std::uint8_t> data) {
        port_key(port)->set_value(name, type,
                                  std::span<const std::uint8_t>(data.begin(), data.size()));
    }

    PortPageContext* context = nullptr;
};

// --- reading ---------------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::optional<std::string> port_name;
    std::optional<std::uint32_t> force_fifo, rx_fifo, tx_fifo;
    LONG com_number;
    const char* rx_shown;
    const char* tx_shown;
};

class ReadPortTest : public PortSettingsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadPortTest, ValuesGiveComNumberAndShownLevels) {
    const ReadCase& c = GetParam();
    auto key = port_key(port);
    if (c.port_name) {
        key->set_string("PORTNAME", *c.port_name);
    }
    if (c.force_fifo) {
        key->set_dword("ForceFifoEnable", *c.force_fifo);
    }
    if (c.rx_fifo) {
        key->set_dword("RxFIFO", *c.rx_fifo);
    }
    if (c.tx_fifo) {
        key->set_dword("TxFIFO", *c.tx_fifo);
    }

    ReadPortSettings(context, port);

    EXPECT_EQ(context->ComNumber[port], c.com_number);
    EXPECT_EQ(rx_text(context->RxLevelIndex[port]), c.rx_shown);
    EXPECT_EQ(tx_text(context->TxLevel[port]), c.tx_shown);
    EXPECT_TRUE(session.open_keys().empty());
}

constexpr std::optional<std::uint32_t> none;

INSTANTIATE_TEST_SUITE_P(
    Values, ReadPortTest,
    ::testing::Values(
        ReadCase{"Defaults", "COM3", none, none, none, 3, "14", "16"},
        ReadCase{"Rx14ShownAs14", "COM3", none, 14, 8, 3, "14", "8"},
        ReadCase{"Rx0WithoutForceShownAs1", "COM3", none, 0, 8, 3, "1", "8"},
        ReadCase{"Rx1", "COM3", 1, 1, 8, 3, "1", "8"},
        ReadCase{"Rx2", "COM3", 1, 2, 8, 3, "4", "8"},
        ReadCase{"Rx4", "COM3", 1, 4, 8, 3, "4", "8"},
        ReadCase{"Rx5", "COM3", 1, 5, 8, 3, "8", "8"},
        ReadCase{"Rx8", "COM3", 1, 8, 8, 3, "8", "8"},
        ReadCase{"Rx9ShownAs14", "COM3", 1, 9, 8, 3, "14", "8"},
        ReadCase{"Rx16", "COM3", 1, 16, 8, 3, "14", "8"},
        ReadCase{"RxAbove2Pow31IsUnsigned", "COM3", 1, 0x80000000u, 8, 3, "14", "8"},
        ReadCase{"Tx0ShownAs1", "COM3", 1, 8, 0, 3, "8", "1"},
        ReadCase{"Tx1", "COM3", 1, 8, 1, 3, "8", "1"},
        ReadCase{"Tx2", "COM3", 1, 8, 2, 3, "8", "2"},
        ReadCase{"Tx16", "COM3", 1, 8, 16, 3, "8", "16"},
        ReadCase{"Tx17", "COM3", 1, 8, 17, 3, "8", "16"},
        ReadCase{"Tx200ShownAs16", "COM3", 1, 8, 200, 3, "8", "16"},
        ReadCase{"TxAbove2Pow31IsUnsigned", "COM3", 1, 8, 0xFFFFFFFFu, 3, "8", "16"},
        ReadCase{"ForceOffShowsBothNA", "COM3", 0, 8, 8, 3, "N/A", "N/A"},
        ReadCase{"ForceOtherNumberIsOn", "COM3", 7, 8, 4, 3, "8", "4"},
        ReadCase{"Com12x", "COM12x", none, none, none, 12, "14", "16"},
        ReadCase{"ComXIsNotListed", "COMX", none, none, none, 0, "14", "16"},
        ReadCase{"FirstThreeCharactersSkippedUnread", "LPT3", none, none, none, 3, "14", "16"},
        ReadCase{"ShortName", "COM", none, none, none, 0, "14", "16"},
        ReadCase{"EmptyName", "", none, none, none, 0, "14", "16"},
        ReadCase{"NoPortNameLeavesPortUnread", std::nullopt, 1, 8, 8, 0, "N/A", "N/A"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortSettingsTest, PortWithoutParameterKeyIsNotListed) {
    context->ComNumber[port] = 9;
    ReadPortSettings(context, port);
    EXPECT_EQ(context->ComNumber[port], 0);
}

// A FIFO value that is not 4 bytes long counts as missing, and a name is never read past the
// 256-byte buffer, however its data end.
TEST_F(PortSettingsTest, ValuesOfOtherSizesCountAsMissing) {
    port_key(port)->set_string("PORTNAME", "COM5");
    set_bytes("ForceFifoEnable", REG_BINARY, {0, 0});          // would read as 0: FIFO off
    set_bytes("RxFIFO", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}); // would read as 1
    set_bytes("TxFIFO", REG_BINARY, {4, 0});

    ReadPortSettings(context, port);

    EXPECT_EQ(context->ComNumber[port], 5);
    EXPECT_EQ(rx_text(context->RxLevelIndex[port]), "14");
    EXPECT_EQ(tx_text(context->TxLevel[port]), "16");
}

TEST_F(PortSettingsTest, PortNameFillingTheBufferIsReadWithinIt) {
    const std::string longest = "COM" + std::string(251, '0') + "7"; // 255 characters and NUL
    port_key(port)->set_string("PORTNAME", longest);
    ReadPortSettings(context, port);
    EXPECT_EQ(context->ComNumber[port], 7);

    port_key(port)->set_string("PORTNAME", longest + "1"); // 257 bytes: too long
    ReadPortSettings(context, port);
    EXPECT_EQ(context->ComNumber[port], 0);

    // 256 bytes of digits without a terminating NUL: the last one is cut to end the text.
    std::vector<std::uint8_t> digits(256, '0');
    digits[0] = 'C', digits[1] = 'O', digits[2] = 'M', digits[255] = '5';
    port_key(port)->set_value("PORTNAME", REG_BINARY, digits);
    ReadPortSettings(context, port);
    EXPECT_EQ(context->ComNumber[port], 0);
}

// --- writing ---------------------------------------------------------------------------------

struct WriteCase {
    BYTE rx_index;
    BYTE tx_level;
    std::uint32_t force_fifo, rx_fifo, tx_fifo;
};

class WritePortTest : public PortSettingsTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WritePortTest, WritesThreeDwordsInOrder) {
    const WriteCase& c = GetParam();
    context->RxLevelIndex[port] = c.rx_index;
    context->TxLevel[port] = c.tx_level;
    auto key = port_key(port);
    HKEY handle = nullptr;
    ASSERT_TRUE(OpenPortParameterKey(context, port, &handle));

    WritePortFifoSettings(handle, context, port);
    RegCloseKey(handle);

    EXPECT_EQ(port_dword(port, "ForceFifoEnable"), c.force_fifo);
    EXPECT_EQ(port_dword(port, "RxFIFO"), c.rx_fifo);
    EXPECT_EQ(port_dword(port, "TxFIFO"), c.tx_fifo);
    std::vector<std::string> order;
    for (const reg::Value& value : key->values()) {
        order.push_back(value.name);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"ForceFifoEnable", "RxFIFO", "TxFIFO"}));
}

INSTANTIATE_TEST_SUITE_P(Levels, WritePortTest,
                         ::testing::Values(WriteCase{1, 1, 1, 1, 1}, WriteCase{2, 8, 1, 4, 8},
                                           WriteCase{3, 16, 1, 8, 16},
                                           WriteCase{4, 16, 1, 16, 16}, // "14" is stored as 16
                                           WriteCase{4, 1, 1, 16, 1},
                                           WriteCase{0, 8, 0, 0, 0}, // receive "N/A" drops both
                                           WriteCase{3, 0, 0, 0, 0}, WriteCase{0, 0, 0, 0, 0},
                                           WriteCase{9, 5, 1, 1, 5})); // unknown index: 1

// What is written reads back as the page showed it, except that a single "N/A" becomes two.
TEST_F(PortSettingsTest, WrittenLevelsReadBack) {
    const struct {
        BYTE rx_index, tx_level;
        const char *rx_shown, *tx_shown;
    } cases[] = {{4, 16, "14", "16"}, {2, 3, "4", "3"}, {0, 8, "N/A", "N/A"}, {1, 0, "N/A", "N/A"}};
    port_key(port)->set_string("PORTNAME", "COM3");
    for (const auto& c : cases) {
        context->RxLevelIndex[port] = c.rx_index;
        context->TxLevel[port] = c.tx_level;
        HKEY handle = nullptr;
        ASSERT_TRUE(OpenPortParameterKey(context, port, &handle));
        WritePortFifoSettings(handle, context, port);
        RegCloseKey(handle);

        ReadPortSettings(context, port);
        EXPECT_EQ(rx_text(context->RxLevelIndex[port]), c.rx_shown);
        EXPECT_EQ(tx_text(context->TxLevel[port]), c.tx_shown);
    }
}

} // namespace
} // namespace qelui::test
