// The device manager loads the provider registered for a device and runs its sheet.
#include "provider_record.h"
#include "user/device_manager.h"
#include "user_fixture.h"

namespace winsim::user::test {
namespace {

class DeviceManagerTest : public UserTest {
  protected:
    DeviceManagerTest() : allocations_before(live_allocations()) {
        write_card(registry);
        tree.nodes = {DeviceNode{card_instance, std::nullopt, true, "", "", "", {}, {}}};
        registry
            .open_key(std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") +
                      multifunction_class_guid + "\\0003")
            ->set_string("EnumPropPages32", "qelprov.dll, EnumPropPages");
        session.map_file("C:\\WINDOWS\\system32\\qelprov.dll", USER_TEST_PROVIDER);
    }
    ~DeviceManagerTest() override {
        // Everything the provider and the sheet took is given back.
        EXPECT_TRUE(session.open_keys().empty());
        EXPECT_EQ(session.open_device_info_sets(), 0u);
        EXPECT_EQ(session.live_property_pages(), 0u);
        EXPECT_EQ(session.loaded_modules(), 0u);
        EXPECT_EQ(session.live_windows(), 0u);
        EXPECT_EQ(live_allocations(), allocations_before);
    }

    std::optional<DWORD> applied() const {
        std::uint32_t value = 0;
        auto key = registry.open_key(std::string("SYSTEM\\CurrentControlSet\\Enum\\") +
                                     card_instance + "\\Device Parameters");
        if (key->get_dword("Applied", value) != reg::Status::ok) {
            return std::nullopt;
        }
        return value;
    }

    std::size_t allocations_before;
    DeviceManager manager{session};
};

TEST_F(DeviceManagerTest, ProviderPagesAreShownAndOkAppliesAtRelease) {
    const OpenResult opened = manager.open(card_instance);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_TRUE(opened.provider_result);
    EXPECT_EQ(opened.provider, "qelprov.dll, EnumPropPages");

    const std::vector<std::intptr_t> pages = manager.page_lparams();
    ASSERT_EQ(pages.size(), 1u);
    const auto* record = reinterpret_cast<const ProviderRecord*>(pages[0]);
    EXPECT_EQ(record->Ports, 4u);
    EXPECT_STREQ(record->Location, "PCI bus 2, device 11, function 0");
    EXPECT_TRUE(record->Initialised);

    EXPECT_TRUE(manager.ok());
    EXPECT_EQ(applied(), 1u);
    EXPECT_EQ(tree.reenumerated, std::vector<std::string>{card_instance});
}

TEST_F(DeviceManagerTest, CancelWritesNothing) {
    ASSERT_TRUE(manager.open(card_instance).ok);
    EXPECT_TRUE(manager.cancel());
    EXPECT_EQ(applied(), std::nullopt);
    EXPECT_TRUE(tree.reenumerated.empty());
}

TEST_F(DeviceManagerTest, ApplyThenCancelKeepsTheApply) {
    ASSERT_TRUE(manager.open(card_instance).ok);
    EXPECT_TRUE(manager.apply());
    EXPECT_EQ(applied(), std::nullopt); // the provider writes at release
    EXPECT_TRUE(manager.cancel());
    EXPECT_EQ(applied(), 1u);
}

TEST_F(DeviceManagerTest, APageTheSheetRefusesIsDestroyedByTheProvider) {
    manager.set_page_limit(0);
    const OpenResult opened = manager.open(card_instance);
    ASSERT_TRUE(opened.ok);
    EXPECT_TRUE(opened.provider_result);
    EXPECT_TRUE(manager.page_lparams().empty());
    EXPECT_TRUE(manager.cancel());
}

TEST_F(DeviceManagerTest, ProviderFailuresAreReported) {
    registry
        .open_key(std::string("SYSTEM\\CurrentControlSet\\Enum\\") + card_instance +
                  "\\Device Parameters")
        ->delete_value("PORTS");
    const OpenResult refused = manager.open(card_instance);
    ASSERT_TRUE(refused.ok);
    EXPECT_FALSE(refused.provider_result);
    EXPECT_TRUE(manager.page_lparams().empty());
    EXPECT_TRUE(manager.cancel());

    session.unmap_file("C:\\WINDOWS\\system32\\qelprov.dll");
    const OpenResult missing = manager.open(card_instance);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("qelprov.dll"), std::string::npos);
    EXPECT_FALSE(manager.open("PCI\\NOTHING\\0").ok);
}

} // namespace
} // namespace winsim::user::test
