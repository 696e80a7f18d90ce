// The card device's creation and the reading of the card's PCI location.
#include "fixture.h"

#include "kernel/wide.h"

namespace qeltest {
namespace {

namespace wk = winsim::kernel;

using AddCardTest = CardTest;

TEST_F(AddCardTest, BuildsTheCardDeviceOnThePciDevice) {
    Card& card = plugCard();
    ASSERT_EQ(addCard(card), STATUS_SUCCESS);

    PDEVICE_OBJECT fdo = card.fdo();
    ASSERT_NE(fdo, nullptr);
    EXPECT_EQ(fdo->DriverObject, qelDriver);
    EXPECT_EQ(fdo->DeviceType, static_cast<ULONG>(FILE_DEVICE_BUS_EXTENDER));
    EXPECT_NE(fdo->Flags & DO_POWER_PAGABLE, 0u);
    EXPECT_EQ(fdo->Flags & DO_DEVICE_INITIALIZING, 0u);

    PCARD_EXTENSION ext = card.ext();
    EXPECT_EQ(ext->Header.Self, fdo);
    EXPECT_TRUE(ext->Header.IsFdo);
    EXPECT_EQ(ext->Header.PnpState, StateNotStarted);
    EXPECT_EQ(ext->Header.SysPowerState, PowerSystemWorking);
    EXPECT_EQ(ext->Header.DevPowerState, PowerDeviceD0);
    EXPECT_EQ(ext->UnderlyingPdo, card.pdo);
    EXPECT_EQ(ext->LowerDevice, card.pdo);
    EXPECT_EQ(ext->OutstandingIo, 1);
    EXPECT_NE(KeReadStateEvent(&ext->StopEvent), 0);
    EXPECT_EQ(KeReadStateEvent(&ext->RemoveEvent), 0);
    EXPECT_EQ(ext->LocationCode, 0x268u);
    EXPECT_EQ(ext->NumberOfPorts, 0u);
    EXPECT_EQ(ext->RawIoBase.QuadPart, 0);
    for (const DEVICE_OBJECT* child : ext->ChildPdos) {
        EXPECT_EQ(child, nullptr);
    }
    EXPECT_FALSE(ext->HoldsUnlocatedCount);

    // Registered, not yet enabled: the start enables it.
    auto interfaces = kernel.interfaces().of(card.pdo);
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(0, std::memcmp(&interfaces[0].classGuid, &GUID_CARD_INTERFACE, sizeof(GUID)));
    EXPECT_FALSE(interfaces[0].enabled);
    EXPECT_EQ(wk::narrow(ext->InterfaceName), interfaces[0].symbolicLink);

    auto power = kernel.power().state(fdo);
    ASSERT_TRUE(power);
    EXPECT_EQ(power->device, PowerDeviceD0);
}

// ---- the location text ----

struct LocationCase {
    const char* name;
    std::optional<std::string> text;
    ULONG code;
    bool read; // the location was understood
};

class LocationTest : public CardTest, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(LocationTest, GivesTheLocationCode) {
    Card& card = plugCard(GetParam().text);
    ASSERT_EQ(addCard(card), STATUS_SUCCESS);
    EXPECT_EQ(card.ext()->LocationCode, GetParam().code);
    EXPECT_EQ(card.ext()->HoldsUnlocatedCount, !GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LocationTest,
    ::testing::Values(
        LocationCase{"Bus2Device13Function0", "PCI bus 2, device 13, function 0", 0x268, true},
        LocationCase{"Bus1Device31Function7", "PCI bus 1, device 31, function 7", 0x1FF, true},
        LocationCase{"AllZero", "PCI bus 0, device 0, function 0", 0, true},
        LocationCase{"HighBus", "PCI bus 255, device 31, function 7", 0xFFFF, true},
        LocationCase{"NumbersAtTheEdges", "7,3,1", (((7u << 5) | 3u) << 3) | 1u, true},
        LocationCase{"TwoNumbers", "PCI bus 2, device 13", 0, false},
        // Nothing past the end of the text counts.
        LocationCase{"NumberPastTheEnd", std::string("PCI bus 2, device 13\0function 7", 31), 0,
                     false},
        LocationCase{"NoNumbers", "on the main board", 0, false},
        LocationCase{"Empty", "", 0, false}, LocationCase{"Unreadable", std::nullopt, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddCardTest, LocationReadFailuresLeaveCodeZero) {
    struct Failure {
        const char* name;
        std::function<void(wk::Faults&)> inject;
    };
    const Failure failures[] = {
        {"length query", [](wk::Faults& f) { f.failNth(wk::fault_call::IoGetDeviceProperty, 1); }},
        {"buffer", [](wk::Faults& f) { f.failPoolTag(QEL_POOL_TAG, 1); }},
        {"read", [](wk::Faults& f) { f.failNth(wk::fault_call::IoGetDeviceProperty, 2); }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        Card& card = plugCard();
        failure.inject(kernel.faults());
        ASSERT_EQ(addCard(card), STATUS_SUCCESS);
        kernel.faults().clear();
        EXPECT_EQ(card.ext()->LocationCode, 0u);
        EXPECT_TRUE(card.ext()->HoldsUnlocatedCount);
        EXPECT_EQ(remove(card).status, STATUS_SUCCESS);
        EXPECT_EQ(kernel.pool().outstanding(QEL_POOL_TAG), 0u);
    }
}

// ---- failures of the card device's creation ----

struct AddFailure {
    const char* name;
    std::string_view call;
    NTSTATUS injected;
    NTSTATUS expected;
    bool unreadableLocation;
};

class AddFailureTest : public CardTest, public ::testing::WithParamInterface<AddFailure> {};

TEST_P(AddFailureTest, LeavesNothingBehind) {
    const auto& param = GetParam();
    Card& card =
        plugCard(param.unreadableLocation ? std::nullopt : std::optional<std::string>(kLocation));
    kernel.faults().failNth(param.call, 1, param.injected);

    EXPECT_EQ(addCard(card), param.expected);

    EXPECT_EQ(card.fdo(), nullptr);
    EXPECT_EQ(qelDriver->DeviceObject, nullptr);
    EXPECT_EQ(UnlocatedCardCount, 0);
    EXPECT_TRUE(kernel.interfaces().of(card.pdo).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, AddFailureTest,
    ::testing::Values(
        AddFailure{"CreateDevice", wk::fault_call::IoCreateDevice, STATUS_INSUFFICIENT_RESOURCES,
                   STATUS_INSUFFICIENT_RESOURCES, false},
        AddFailure{"Attach", wk::fault_call::IoAttachDeviceToDeviceStack, 0, STATUS_NO_SUCH_DEVICE,
                   false},
        AddFailure{"AttachUnlocated", wk::fault_call::IoAttachDeviceToDeviceStack, 0,
                   STATUS_NO_SUCH_DEVICE, true},
        AddFailure{"RegisterInterface", wk::fault_call::IoRegisterDeviceInterface,
                   STATUS_INVALID_DEVICE_REQUEST, STATUS_INVALID_DEVICE_REQUEST, false},
        AddFailure{"RegisterInterfaceUnlocated", wk::fault_call::IoRegisterDeviceInterface,
                   STATUS_INVALID_DEVICE_REQUEST, STATUS_INVALID_DEVICE_REQUEST, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- cards whose location cannot be read ----

TEST_F(AddCardTest, OnlyOneCardWithoutLocationLives) {
    Card& first = plugCard(std::nullopt);
    ASSERT_EQ(addCard(first), STATUS_SUCCESS);
    EXPECT_EQ(UnlocatedCardCount, 1);

    // Its ports would get the same instance IDs as the first card's.
    Card& second = plugCard(std::nullopt);
    EXPECT_EQ(addCard(second), STATUS_DUPLICATE_OBJECTID);
    EXPECT_EQ(second.fdo(), nullptr);
    EXPECT_EQ(UnlocatedCardCount, 1);

    // A card whose location is known does not take part.
    Card& located = plugCard();
    EXPECT_EQ(addCard(located), STATUS_SUCCESS);

    // The first card's removal gives its place back.
    EXPECT_EQ(remove(first).status, STATUS_SUCCESS);
    EXPECT_EQ(UnlocatedCardCount, 0);
    EXPECT_EQ(addCard(second), STATUS_SUCCESS);
    EXPECT_EQ(UnlocatedCardCount, 1);
}

} // namespace
} // namespace qeltest
