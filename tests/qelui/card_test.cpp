// qelui32.dll as the device manager uses it: the page request for the card, the card's ports
// found in the registry, and the page's lifetime, after which the FIFO levels are written.
#include "qelui_fixture.h"

#include "user/device_manager.h"

namespace qelui::test {
namespace {

const std::vector<std::uint32_t> default_fifo = {1, 16, 16};
const std::vector<std::uint32_t> fifo_off = {0, 0, 0};

class CardTest : public QeluiTest {
  protected:
    CardTest() : allocations_before(user::live_allocations()) {
        write_card(card_location, 4);
        for (int port = 0; port < 4; ++port) {
            port_key(port)->set_string("PORTNAME", "COM" + std::to_string(port + 3));
        }
    }
    ~CardTest() override {
        manager.cancel();
        // The record, the keys, the page and the module are all given back.
        EXPECT_TRUE(session.open_keys().empty());
        EXPECT_EQ(session.open_device_info_sets(), 0u);
        EXPECT_EQ(session.live_property_pages(), 0u);
        EXPECT_EQ(session.loaded_modules(), 0u);
        EXPECT_EQ(session.live_windows(), 0u);
        EXPECT_EQ(user::live_allocations(), allocations_before);
        EXPECT_TRUE(session.errors().empty());
    }

    // Opens the card's properties; the provider's answer.
    bool open() {
        const user::OpenResult opened = manager.open(card_instance);
        EXPECT_TRUE(opened.ok) << opened.error;
        return opened.provider_result;
    }
    // The page's record, while the sheet is open.
    const PortPageContext* record() const {
        const std::vector<std::intptr_t> pages = manager.page_lparams();
        return pages.size() == 1 ? reinterpret_cast<const PortPageContext*>(pages[0]) : nullptr;
    }
    std::vector<std::uint32_t> fifo(int port) const {
        std::vector<std::uint32_t> out;
        for (const char* name : {"ForceFifoEnable", "RxFIFO", "TxFIFO"}) {
            if (auto value = port_dword(port, name)) {
                out.push_back(*value);
            }
        }
        return out;
    }

    std::size_t allocations_before;
    user::DeviceManager manager{session};
};

TEST_F(CardTest, FourPortCardListsItsPortsWithDefaultLevels) {
    ASSERT_TRUE(open());
    const PortPageContext* page = record();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->PortCount, 4);
    EXPECT_STREQ(page->LocationPrefix, card_prefix);
    EXPECT_NE(page->DeviceInfoData, nullptr);
    for (int port = 0; port < 4; ++port) {
        EXPECT_EQ(page->ComNumber[port], port + 3);
        EXPECT_EQ(page->RxLevelIndex[port], 4);
        EXPECT_EQ(page->TxLevel[port], 16);
    }
    EXPECT_FALSE(page->ApplyRequested);
}

// The count check: 1 to 32 ports, compared as a signed number; every accepted port has room.
class PortCountTest : public CardTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(PortCountTest, OnlyOneTo32PortsAreServed) {
    const std::uint32_t count = GetParam();
    write_card(card_location, count);
    port_key(31)->set_string("PORTNAME", "COM40");
    const bool served = count >= 1 && count <= 32;

    EXPECT_EQ(open(), served);

    const PortPageContext* page = record();
    ASSERT_EQ(page != nullptr, served);
    if (served) {
        EXPECT_EQ(page->PortCount, static_cast<LONG>(count));
        EXPECT_EQ(page->ComNumber[0], 3);
        EXPECT_EQ(page->ComNumber[31], count == 32 ? 40 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, PortCountTest,
                         ::testing::Values(0u, 1u, 4u, 8u, 17u, 32u, 33u, 0xFFFFFFFFu));

// Without its location text or its port count the card gets no page.
struct CardFault {
    const char* name;
    void (*apply)(reg::Registry&);
};

class CardFaultTest : public CardTest, public ::testing::WithParamInterface<CardFault> {};

TEST_P(CardFaultTest, NoPage) {
    GetParam().apply(registry);
    EXPECT_FALSE(open());
    EXPECT_EQ(record(), nullptr);
}

const std::string card_parameters = enum_root + card_instance + "\\Device Parameters";

INSTANTIATE_TEST_SUITE_P(
    Faults, CardFaultTest,
    ::testing::Values(
        CardFault{"NoLocation",
                  [](reg::Registry& r) {
                      r.open_key(enum_root + card_instance)->delete_value("LocationInformation");
                  }},
        CardFault{
            "NoDeviceKey",
            [](reg::Registry& r) { r.delete_key(card_parameters, reg::DeleteMode::subtree); }},
        CardFault{"NoPortCount",
                  [](reg::Registry& r) { r.open_key(card_parameters)->delete_value("PORTS"); }},
        CardFault{"PortCountOfTwoBytes",
                  [](reg::Registry& r) {
                      const std::uint8_t two[] = {4, 0};
                      r.open_key(card_parameters)->set_value("PORTS", REG_BINARY, two);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// The instance IDs of the ports start with the PCI position in the location text, read after
// its last backslash. Without three numbers there the bus driver names the ports as at
// location 0, and so does the page.
struct LocationCase {
    const char* location;
    const char* prefix;
};

class LocationTest : public CardTest, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(LocationTest, PortsAreFoundUnderThePrefix) {
    write_card(GetParam().location, 1);
    port_key(0, GetParam().prefix)->set_string("PORTNAME", "COM9");

    ASSERT_TRUE(open());
    ASSERT_NE(record(), nullptr);
    EXPECT_STREQ(record()->LocationPrefix, GetParam().prefix);
    EXPECT_EQ(record()->ComNumber[0], 9);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LocationTest,
    ::testing::Values(LocationCase{"Slot 7, 1, 2\\PCI bus 5, device 3, function 1", "050301"},
                      LocationCase{"PCI bus 5, device 3, function 1\\slot", "000000"},
                      LocationCase{"PCI bus 2, device 11", "000000"}, LocationCase{"", "000000"}));

// --- the page's lifetime -------------------------------------------------------------------

TEST_F(CardTest, OkWritesEveryListedPortEvenUnchanged) {
    port_key(0)->set_dword("RxFIFO", 14);
    port_key(1)->delete_value("PORTNAME"); // not listed: nothing is written for it
    port_key(2)->set_dword("ForceFifoEnable", 0);
    port_key(2)->set_dword("RxFIFO", 8);
    port_key(3)->set_dword("TxFIFO", 200);

    ASSERT_TRUE(open());
    EXPECT_TRUE(manager.ok());

    EXPECT_EQ(fifo(0), default_fifo); // "14" is stored as 16
    EXPECT_TRUE(fifo(1).empty());
    EXPECT_EQ(fifo(2), fifo_off);
    EXPECT_EQ(fifo(3), default_fifo);
}

TEST_F(CardTest, CancelWritesNothing) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(manager.cancel());
    for (int port = 0; port < 4; ++port) {
        EXPECT_TRUE(fifo(port).empty());
    }
}

TEST_F(CardTest, ApplyMarksThePageAndTheReleaseWrites) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(manager.apply());
    ASSERT_NE(record(), nullptr);
    EXPECT_TRUE(record()->ApplyRequested);
    EXPECT_TRUE(fifo(0).empty());

    EXPECT_TRUE(manager.cancel()); // a Cancel after Apply does not undo it
    EXPECT_EQ(fifo(0), default_fifo);
}

TEST_F(CardTest, PortWhoseKeyWentAwayIsSkipped) {
    ASSERT_TRUE(open());
    registry.delete_key(port_key_path(card_prefix, 1), reg::DeleteMode::subtree);
    EXPECT_TRUE(manager.ok());
    EXPECT_EQ(fifo(0), default_fifo);
    EXPECT_EQ(registry.open_key(port_key_path(card_prefix, 1)), nullptr);
}

// The record is freed however the page ends; the provider still answers TRUE once the card's
// ports were loaded.
TEST_F(CardTest, PageTheSheetRefusesFreesTheRecord) {
    manager.set_page_limit(0);
    EXPECT_TRUE(open());
    EXPECT_EQ(record(), nullptr);
}

TEST_F(CardTest, PageThatCannotBeMadeFreesTheRecord) {
    session.faults().fail_nth("CreatePropertySheetPageA", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(open());
    EXPECT_EQ(record(), nullptr);
}

TEST_F(CardTest, RecordThatCannotBeAllocatedGivesNoPage) {
    session.faults().fail_always("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(open());
    session.faults().clear();
    EXPECT_EQ(record(), nullptr);
}

// --- the module ----------------------------------------------------------------------------

using EnumPropPagesProc = BOOL(WINAPI*)(PSP_PROPSHEETPAGE_REQUEST, LPFNADDPROPSHEETPAGE, LPARAM);

BOOL WINAPI count_page(HPROPSHEETPAGE, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(CardTest, OtherPageRequestsAddNoPage) {
    HMODULE module = LoadLibraryA("qelui32.dll");
    ASSERT_NE(module, nullptr) << session.last_load_error();
    auto enum_pages = reinterpret_cast<EnumPropPagesProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "EnumPropPages")));
    ASSERT_NE(enum_pages, nullptr);

    for (DWORD kind : {SPPSR_SELECT_DEVICE_RESOURCES, SPPSR_ENUM_BASIC_DEVICE_PROPERTIES}) {
        SP_PROPSHEETPAGE_REQUEST request{sizeof(request), kind, nullptr, nullptr};
        int pages = 0;
        EXPECT_TRUE(enum_pages(&request, count_page, reinterpret_cast<LPARAM>(&pages)));
        EXPECT_EQ(pages, 0);
    }
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(CardTest, ExportsOnlyEnumPropPagesAndLibMain) {
    HMODULE module = LoadLibraryA("qelui32.dll");
    ASSERT_NE(module, nullptr) << session.last_load_error();
    EXPECT_NE(GetProcAddress(module, "EnumPropPages"), nullptr);
    EXPECT_NE(GetProcAddress(module, "LibMain"), nullptr);
    for (const char* name :
         {"LoadCardPorts", "ParseDecimal", "ApplyPortSettings", "ModuleHandle"}) {
        EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
    }
    EXPECT_TRUE(FreeLibrary(module));
}

} // namespace
} // namespace qelui::test
