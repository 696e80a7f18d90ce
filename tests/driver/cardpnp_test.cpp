// The card's Plug and Play handling: start-up, state changes, stop, removal.
#include "fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace qeltest {
namespace {

namespace wk = winsim::kernel;

// ---- start-up and the port count ----

struct CountCase {
    ULONG word;
    ULONG ports; // 0: the card does not start
};

class PortCountTest : public CardTest,
                      public ::testing::WithParamInterface<std::tuple<CountCase, bool>> {};

TEST_P(PortCountTest, StartReadsTheCountFromTheCard) {
    const auto [count, later] = GetParam();
    Card& card = addedCard();
    card.pci.setConfigWord(count.word);
    card.pci.completeLater = later;

    Reply reply = start(card);

    // Completed by the PCI driver, handed back to the card, completed again by the card.
    EXPECT_EQ(reply.completions, 2u);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    // The PCI driver starts the card before its port count is read.
    auto minors = card.pci.pnpMinors();
    ASSERT_GE(minors.size(), 2u);
    EXPECT_EQ(minors[0], IRP_MN_START_DEVICE);
    EXPECT_EQ(minors[1], IRP_MN_READ_CONFIG);

    if (count.ports == 0) {
        EXPECT_EQ(reply.status, STATUS_DEVICE_CONFIGURATION_ERROR);
        EXPECT_EQ(reply.returned, STATUS_DEVICE_CONFIGURATION_ERROR);
        EXPECT_EQ(card.ext()->Header.PnpState, StateNotStarted);
        EXPECT_EQ(card.ext()->NumberOfPorts, 0u);
        EXPECT_FALSE(portsValue(card));
        EXPECT_FALSE(interfaceEnabled(card));
        EXPECT_TRUE(busRelations(card).empty());
        return;
    }
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(card.ext()->Header.PnpState, StateStarted);
    EXPECT_EQ(card.ext()->NumberOfPorts, count.ports);
    EXPECT_EQ(portsValue(card), count.ports);
    EXPECT_TRUE(interfaceEnabled(card));

    auto ports = busRelations(card);
    ASSERT_EQ(ports.size(), count.ports);
    for (ULONG i = 0; i < count.ports; ++i) {
        EXPECT_EQ(ports[i], card.ext()->ChildPdos[i]);
        EXPECT_EQ(card.port(i)->PortIndex, i);
    }
    for (ULONG i = count.ports; i < QEL_MAX_CHILDREN; ++i) {
        EXPECT_EQ(card.ext()->ChildPdos[i], nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Words, PortCountTest,
    ::testing::Combine(::testing::Values(CountCase{0x00010000, 1}, CountCase{0x00020000, 2},
                                         CountCase{0x00040000, 4}, CountCase{0x00080000, 8},
                                         CountCase{0x00000000, 0}, CountCase{0x00030000, 0},
                                         CountCase{0x00100000, 0}, CountCase{0x00041234, 0},
                                         CountCase{0x00000004, 0}, CountCase{0xFFFFFFFF, 0}),
                       ::testing::Bool()),
    [](const auto& info) {
        char name[32];
        std::snprintf(name, sizeof(name), "Word%08X%s", std::get<0>(info.param).word,
                      std::get<1>(info.param) ? "Pending" : "");
        return std::string(name);
    });

// ---- start-up failures ----

struct StartFailure {
    const char* name;
    std::function<void(CardTest&, Card&, wk::Faults&)> inject;
    NTSTATUS status;
    bool portsWritten;
};

class StartFailureTest : public CardTest, public ::testing::WithParamInterface<StartFailure> {
  public:
    using CardTest::kernel;
};

TEST_P(StartFailureTest, HasTheExpectedOutcome) {
    const auto& param = GetParam();
    Card& card = addedCard();
    param.inject(*this, card, kernel.faults());

    Reply reply = start(card);
    kernel.faults().clear();

    EXPECT_EQ(reply.status, param.status);
    EXPECT_EQ(reply.returned, param.status);
    EXPECT_EQ(reply.completions, 2u);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    EXPECT_EQ(card.ext()->Header.PnpState,
              NT_SUCCESS(param.status) ? StateStarted : StateNotStarted);
    EXPECT_EQ(portsValue(card).has_value(), param.portsWritten);
    EXPECT_EQ(interfaceEnabled(card), NT_SUCCESS(param.status));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, StartFailureTest,
    ::testing::Values(StartFailure{"LowerDriversFail",
                                   [](CardTest&, Card& card, wk::Faults&) {
                                       card.pci.startStatus = STATUS_DEVICE_NOT_READY;
                                   },
                                   STATUS_DEVICE_NOT_READY, false},
                      StartFailure{"LowerDriversFailLater",
                                   [](CardTest&, Card& card, wk::Faults&) {
                                       card.pci.startStatus = STATUS_DEVICE_NOT_READY;
                                       card.pci.completeLater = true;
                                   },
                                   STATUS_DEVICE_NOT_READY, false},
                      StartFailure{"ConfigReadFails",
                                   [](CardTest&, Card& card, wk::Faults&) {
                                       card.pci.readConfigStatus = STATUS_DEVICE_NOT_READY;
                                   },
                                   STATUS_DEVICE_CONFIGURATION_ERROR, false},
                      StartFailure{"ConfigRequestNotBuilt",
                                   [](CardTest&, Card&, wk::Faults& faults) {
                                       faults.failNth(wk::fault_call::IoBuildSynchronousFsdRequest,
                                                      1);
                                   },
                                   STATUS_DEVICE_CONFIGURATION_ERROR, false},
                      StartFailure{"DeviceKeyNotOpened",
                                   [](CardTest&, Card&, wk::Faults& faults) {
                                       faults.failNth(wk::fault_call::IoOpenDeviceRegistryKey, 1);
                                   },
                                   STATUS_SUCCESS, false},
                      StartFailure{"ValueNotWritten",
                                   [](CardTest&, Card&, wk::Faults& faults) {
                                       faults.failNth(wk::fault_call::ZwSetValueKey, 1);
                                   },
                                   STATUS_SUCCESS, false},
                      StartFailure{"ValueNameNotCopied",
                                   [](CardTest&, Card&, wk::Faults& faults) {
                                       faults.failPoolTag(QEL_POOL_TAG, 1);
                                   },
                                   STATUS_SUCCESS, false},
                      StartFailure{"InterfaceNotEnabled",
                                   [](CardTest&, Card&, wk::Faults& faults) {
                                       faults.failNth(wk::fault_call::IoSetDeviceInterfaceState, 1,
                                                      STATUS_INVALID_DEVICE_REQUEST);
                                   },
                                   STATUS_INVALID_DEVICE_REQUEST, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardTest, StartAfterStopStartsAgain) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    EXPECT_EQ(sendPnp(card.fdo(), IRP_MN_QUERY_STOP_DEVICE).status, STATUS_SUCCESS);
    EXPECT_EQ(sendPnp(card.fdo(), IRP_MN_STOP_DEVICE).status, STATUS_SUCCESS);
    EXPECT_EQ(card.ext()->Header.PnpState, StateStopped);
    // A stop keeps the ports, the count and the enabled interface.
    EXPECT_TRUE(interfaceEnabled(card));
    EXPECT_EQ(card.ext()->NumberOfPorts, 4u);

    // The rebalanced card comes back with new resources; the interface is enabled already.
    ResourceList raw{portResource(0x2E8, 0x20), interruptResource(10, 10, 1)};
    ResourceList translated{portResource(0x2E8, 0x20), interruptResource(17, 0x3A, 1)};
    Reply reply = start(card, raw, translated);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(card.ext()->Header.PnpState, StateStarted);
    EXPECT_EQ(card.ext()->RawIoBase.QuadPart, 0x2E8);
    EXPECT_EQ(card.ext()->TrInterruptVector, 0x3Au);
    EXPECT_EQ(startedPorts(card), ports);
}

TEST_F(CardTest, ReportsOnlyThePortsOfTheLastStart) {
    Card& card = startedCard(0x00040000);
    auto four = startedPorts(card);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(sendPnp(card.fdo(), IRP_MN_STOP_DEVICE).status, STATUS_SUCCESS);
    card.pci.setConfigWord(0x00020000);
    EXPECT_EQ(start(card).status, STATUS_SUCCESS);

    EXPECT_EQ(portsValue(card), 2u);
    auto two = busRelations(card);
    EXPECT_EQ(two, std::vector<PDEVICE_OBJECT>(four.begin(), four.begin() + 2));
    // The ports no longer reported stay until the card's removal.
    EXPECT_TRUE(exists(four[3]));
    EXPECT_EQ(remove(card).status, STATUS_SUCCESS);
    EXPECT_FALSE(exists(four[3]));
}

// ---- the resources ----

class SaveResourcesTest : public KernelTest {
  protected:
    void save(ResourceList* raw, ResourceList* translated) {
        IO_STACK_LOCATION stack{};
        stack.Parameters.StartDevice.AllocatedResources = raw ? raw->get() : nullptr;
        stack.Parameters.StartDevice.AllocatedResourcesTranslated =
            translated ? translated->get() : nullptr;
        SaveCardResources(&card, &stack);
    }
    CARD_EXTENSION card{};
};

TEST_F(SaveResourcesTest, FirstPortRangeAndLastInterruptWin) {
    ResourceList raw{portResource(0x300, 0x20, 0x0005), interruptResource(5, 5, 1),
                     memoryResource(0xF0000000, 0x100), portResource(0x400, 8, 0x0001),
                     interruptResource(7, 9, 2)};
    ResourceList translated{portResource(0x1300, 0x20, 0x0011), interruptResource(22, 0x35, 1),
                            portResource(0x1400, 8, 0x0001), interruptResource(20, 0x37, 4)};
    save(&raw, &translated);

    EXPECT_EQ(card.RawIoBase.QuadPart, 0x300);
    EXPECT_EQ(card.TrIoBase.QuadPart, 0x1300);
    EXPECT_EQ(card.PortFlags, 0x0011u); // the translated list's flags win
    EXPECT_EQ(card.RawInterruptLevel, 7u);
    EXPECT_EQ(card.RawInterruptVector, 9u);
    EXPECT_EQ(card.RawInterruptAffinity, 2u);
    EXPECT_EQ(card.TrInterruptLevel, 20u);
    EXPECT_EQ(card.TrInterruptVector, 0x37u);
    EXPECT_EQ(card.TrInterruptAffinity, 4u);
}

TEST_F(SaveResourcesTest, MissingDescriptorsKeepFormerValues) {
    card.RawIoBase.QuadPart = 0x111;
    card.TrIoBase.QuadPart = 0x222;
    card.PortFlags = 0x33;
    card.RawInterruptLevel = 4;
    card.TrInterruptLevel = 23;

    // The translated list reports the I/O range as memory; the raw list has no interrupt.
    ResourceList raw{portResource(0x300, 0x20, 0x0005)};
    ResourceList translated{memoryResource(0x300, 0x20), interruptResource(22, 0x35, 1)};
    save(&raw, &translated);
    EXPECT_EQ(card.RawIoBase.QuadPart, 0x300);
    EXPECT_EQ(card.TrIoBase.QuadPart, 0x222);
    EXPECT_EQ(card.PortFlags, 0x0005u);
    EXPECT_EQ(card.RawInterruptLevel, 4u);
    EXPECT_EQ(card.TrInterruptLevel, 22u);

    // Absent lists, and a list without any full descriptor, change nothing.
    ResourceList noDescriptor({portResource(0x600, 8)}, 0);
    save(nullptr, nullptr);
    save(&noDescriptor, &noDescriptor);
    EXPECT_EQ(card.RawIoBase.QuadPart, 0x300);
    EXPECT_EQ(card.TrIoBase.QuadPart, 0x222);
    EXPECT_EQ(card.PortFlags, 0x0005u);
}

// ---- state changes passed to the PCI driver ----

struct StateCase {
    const char* name;
    bool started;
    std::vector<UCHAR> minors;
    PNP_STATE state;
};

class CardStateTest : public CardTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(CardStateTest, EachRequestSucceedsAndGoesDown) {
    Card& card = GetParam().started ? startedCard() : addedCard();
    for (UCHAR minor : GetParam().minors) {
        const auto before = card.pci.countPnp(minor);
        Reply reply = sendPnp(card.fdo(), minor);
        EXPECT_EQ(reply.status, STATUS_SUCCESS) << int(minor);
        EXPECT_EQ(reply.completions, 1u);
        EXPECT_EQ(card.pci.countPnp(minor), before + 1) << int(minor);
    }
    EXPECT_EQ(card.ext()->Header.PnpState, GetParam().state);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CardStateTest,
    ::testing::Values(
        StateCase{"QueryStop", true, {IRP_MN_QUERY_STOP_DEVICE}, StateStopPending},
        StateCase{"CancelStop",
                  true,
                  {IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE},
                  StateStarted},
        StateCase{"Stop", true, {IRP_MN_QUERY_STOP_DEVICE, IRP_MN_STOP_DEVICE}, StateStopped},
        StateCase{"QueryRemove", true, {IRP_MN_QUERY_REMOVE_DEVICE}, StateRemovePending},
        StateCase{"CancelRemove",
                  true,
                  {IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE},
                  StateStarted},
        StateCase{"SurpriseRemoval", true, {IRP_MN_SURPRISE_REMOVAL}, StateSurpriseRemoved},
        StateCase{"CancelStopNeverStarted", false, {IRP_MN_CANCEL_STOP_DEVICE}, StateStarted},
        StateCase{"CancelRemoveNeverStarted", false, {IRP_MN_CANCEL_REMOVE_DEVICE}, StateStarted}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardTest, OtherRequestsPassDownUntouched) {
    Card& card = startedCard();
    Reply resources = sendPnp(card.fdo(), IRP_MN_QUERY_RESOURCES, {}, 0x77);
    EXPECT_EQ(resources.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(resources.information, 0x77u);
    EXPECT_EQ(card.pci.countPnp(IRP_MN_QUERY_RESOURCES), 1u);

    Reply removal = sendPnp(
        card.fdo(), IRP_MN_QUERY_DEVICE_RELATIONS,
        [](IO_STACK_LOCATION& s) { s.Parameters.QueryDeviceRelations.Type = RemovalRelations; }, 0,
        STATUS_NOT_SUPPORTED);
    EXPECT_EQ(removal.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(removal.information, 0u);
    EXPECT_EQ(card.pci.countPnp(IRP_MN_QUERY_DEVICE_RELATIONS), 1u);
    EXPECT_EQ(card.ext()->ChildPdos[0], nullptr);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
}

// ---- stop and removal wait for requests in progress ----

class WaitForRequestsTest : public CardTest, public ::testing::WithParamInterface<UCHAR> {};

TEST_P(WaitForRequestsTest, WaitsUntilAPowerRequestHasLeft) {
    const UCHAR minor = GetParam();
    Card& card = startedCard();
    PDEVICE_OBJECT fdo = card.fdo();
    card.pci.holdPower();

    std::thread power(
        [&] { sendPower(fdo, IRP_MN_SET_POWER, DevicePowerState, deviceState(PowerDeviceD0)); });
    card.pci.waitPowerHeld();
    EXPECT_EQ(card.ext()->OutstandingIo, 2);

    std::atomic<bool> done{false};
    std::thread request([&] {
        EXPECT_EQ(sendPnp(fdo, minor).status, STATUS_SUCCESS);
        done = true;
    });
    // Give the request every chance to overtake the power request; it must not.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done);
    EXPECT_EQ(card.pci.countPnp(minor), 0u);

    card.pci.releasePower();
    power.join();
    request.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(card.pci.countPnp(minor), 1u);
    if (minor == IRP_MN_STOP_DEVICE) {
        EXPECT_EQ(card.ext()->Header.PnpState, StateStopped);
        EXPECT_EQ(card.ext()->OutstandingIo, 1);
    } else {
        EXPECT_EQ(card.fdo(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, WaitForRequestsTest,
                         ::testing::Values(IRP_MN_STOP_DEVICE, IRP_MN_REMOVE_DEVICE),
                         [](const auto& info) {
                             return std::string(info.param == IRP_MN_STOP_DEVICE ? "Stop"
                                                                                 : "Remove");
                         });

// ---- removal ----

TEST_F(CardTest, SurpriseRemovalThenRemovalDisablesTheInterfaceOnce) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    const auto stateCalls = kernel.faults().calls(wk::fault_call::IoSetDeviceInterfaceState);

    EXPECT_EQ(sendPnp(card.fdo(), IRP_MN_SURPRISE_REMOVAL).status, STATUS_SUCCESS);
    EXPECT_EQ(card.ext()->Header.PnpState, StateSurpriseRemoved);
    EXPECT_FALSE(interfaceEnabled(card));
    EXPECT_EQ(card.ext()->InterfaceName.Buffer, nullptr);
    EXPECT_EQ(card.ext()->InterfaceName.MaximumLength, 0);
    EXPECT_EQ(kernel.pool().outstanding(wk::tagSystem), 0u);

    PDEVICE_OBJECT fdo = card.fdo();
    Reply reply = remove(card);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_EQ(kernel.faults().calls(wk::fault_call::IoSetDeviceInterfaceState), stateCalls + 1);
    EXPECT_EQ(card.fdo(), nullptr);
    EXPECT_FALSE(exists(fdo));
    for (PDEVICE_OBJECT port : ports) {
        EXPECT_FALSE(exists(port));
    }
    EXPECT_EQ(card.pci.countPnp(IRP_MN_REMOVE_DEVICE), 1u);
}

TEST_F(CardTest, RemovalDeletesPortsAndTheCard) {
    Card& card = startedCard(0x00080000);
    auto ports = startedPorts(card);
    ASSERT_EQ(ports.size(), 8u);
    EXPECT_EQ(sendPnp(ports[5], IRP_MN_START_DEVICE).status, STATUS_SUCCESS);

    EXPECT_EQ(remove(card).status, STATUS_SUCCESS);
    EXPECT_FALSE(interfaceEnabled(card));
    EXPECT_EQ(card.fdo(), nullptr);
    EXPECT_EQ(qelDriver->DeviceObject, nullptr);
    EXPECT_EQ(card.pci.countPnp(IRP_MN_REMOVE_DEVICE), 1u);
}

TEST_F(CardTest, RemovalOfACardThatNeverStarted) {
    Card& card = addedCard();
    EXPECT_EQ(remove(card).status, STATUS_SUCCESS);
    EXPECT_EQ(card.fdo(), nullptr);
    EXPECT_EQ(kernel.pool().outstanding(wk::tagSystem), 0u);
}

} // namespace
} // namespace qeltest
