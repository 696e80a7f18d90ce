// The port devices: identities, capabilities, bus information, relations and state.
#include "fixture.h"

#include "kernel/wide.h"

namespace qeltest {
namespace {

namespace wk = winsim::kernel;

std::u16string wideText(const Reply& reply, std::size_t bytes) {
    const auto* text = reinterpret_cast<const char16_t*>(reply.information);
    return std::u16string(text, text + bytes / sizeof(WCHAR));
}

Reply queryId(PDEVICE_OBJECT port, BUS_QUERY_ID_TYPE type) {
    return sendPnp(port, IRP_MN_QUERY_ID,
                   [type](IO_STACK_LOCATION& s) { s.Parameters.QueryId.IdType = type; });
}

// ---- identities ----

struct IdCase {
    const char* name;
    std::optional<std::string> location;
    ULONG word;
    ULONG port;
    std::u16string instanceId;
};

class InstanceIdTest : public CardTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(InstanceIdTest, NamesTheCardsPositionAndThePort) {
    const auto& param = GetParam();
    Card& card = startedCard(param.word, param.location);
    auto ports = startedPorts(card);
    ASSERT_GT(ports.size(), param.port);

    Reply reply = queryId(ports[param.port], BusQueryInstanceID);
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(kernel.pool().outstandingBytes(QEL_POOL_TAG), 18u);
    EXPECT_EQ(wideText(reply, 18), param.instanceId + u'\0');
    ExFreePool(reinterpret_cast<PVOID>(reply.information));
}

INSTANTIATE_TEST_SUITE_P(
    Positions, InstanceIdTest,
    ::testing::Values(
        IdCase{"Bus2Device13Port3", kLocation, 0x00040000, 3, u"020D0003"},
        IdCase{"Bus1Device31Function7Port7", "PCI bus 1, device 31, function 7", 0x00080000, 7,
               u"011F0707"},
        IdCase{"ZeroLocationPort0", "PCI bus 0, device 0, function 0", 0x00010000, 0, u"00000000"},
        IdCase{"HexDigits", "PCI bus 171, device 12, function 5", 0x00020000, 1, u"AB0C0501"},
        IdCase{"UnreadableLocation", std::nullopt, 0x00020000, 1, u"00000001"}),
    [](const auto& info) { return std::string(info.param.name); });

struct IdAnswer {
    const char* name;
    BUS_QUERY_ID_TYPE type;
    std::size_t bytes;
    std::u16string text;
};

class IdAnswerTest : public CardTest, public ::testing::WithParamInterface<IdAnswer> {};

TEST_P(IdAnswerTest, AnswersWithExactlyTheIdsBytes) {
    Card& card = startedCard();
    auto ports = startedPorts(card);

    Reply reply = queryId(ports[0], GetParam().type);
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, STATUS_SUCCESS);
    EXPECT_EQ(kernel.pool().outstandingBytes(QEL_POOL_TAG), GetParam().bytes);
    EXPECT_EQ(wideText(reply, GetParam().bytes), GetParam().text);
    ExFreePool(reinterpret_cast<PVOID>(reply.information));
}

INSTANTIATE_TEST_SUITE_P(Types, IdAnswerTest,
                         ::testing::Values(IdAnswer{"DeviceId", BusQueryDeviceID, 32,
                                                    std::u16string(u"QEL_CARD\\SERIAL\0", 16)},
                                           IdAnswer{"HardwareIds", BusQueryHardwareIDs, 34,
                                                    std::u16string(u"QEL_CARD\\SERIAL\0\0", 17)},
                                           IdAnswer{"CompatibleIds", BusQueryCompatibleIDs, 34,
                                                    std::u16string(u"QEL_CARD\\SERIAL\0\0", 17)}),
                         [](const auto& info) { return std::string(info.param.name); });

using PortTest = CardTest;

TEST_F(PortTest, IdQueriesItDoesNotAnswerKeepTheirStatus) {
    Card& card = startedCard();
    auto ports = startedPorts(card);

    Reply serial = queryId(ports[0], BusQueryDeviceSerialNumber);
    EXPECT_EQ(serial.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(serial.returned, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(serial.information, 0u);
    EXPECT_EQ(serial.completions, 1u);

    kernel.faults().failPoolTag(QEL_POOL_TAG, 1);
    Reply noMemory = queryId(ports[0], BusQueryInstanceID);
    EXPECT_EQ(noMemory.status, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(noMemory.information, 0u);
}

// ---- device text ----

TEST_F(PortTest, DescribesItselfUnlessSomeoneAboveDid) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    auto text = [&](DEVICE_TEXT_TYPE type, ULONG_PTR information) {
        return sendPnp(
            ports[1], IRP_MN_QUERY_DEVICE_TEXT,
            [type](IO_STACK_LOCATION& s) { s.Parameters.QueryDeviceText.DeviceTextType = type; },
            information);
    };

    Reply description = text(DeviceTextDescription, 0);
    ASSERT_EQ(description.status, STATUS_SUCCESS);
    EXPECT_EQ(kernel.pool().outstandingBytes(QEL_POOL_TAG), 32u);
    EXPECT_EQ(wideText(description, 32), std::u16string(u"PCI serial port\0", 16));
    ExFreePool(reinterpret_cast<PVOID>(description.information));

    static char16_t fromAbove[] = u"Filtered";
    Reply kept = text(DeviceTextDescription, reinterpret_cast<ULONG_PTR>(fromAbove));
    EXPECT_EQ(kept.status, STATUS_SUCCESS);
    EXPECT_EQ(kept.information, reinterpret_cast<ULONG_PTR>(fromAbove));

    Reply location = text(DeviceTextLocationInformation, 0);
    EXPECT_EQ(location.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(location.information, 0u);

    kernel.faults().failPoolTag(QEL_POOL_TAG, 1);
    EXPECT_EQ(text(DeviceTextDescription, 0).status, STATUS_INSUFFICIENT_RESOURCES);
}

// ---- capabilities ----

DEVICE_CAPABILITIES incomingCapabilities() {
    DEVICE_CAPABILITIES caps{};
    caps.Size = sizeof(DEVICE_CAPABILITIES);
    caps.Version = 1;
    caps.DeviceD1 = caps.DeviceD2 = 1;
    caps.LockSupported = caps.EjectSupported = caps.Removable = caps.DockDevice = 1;
    caps.SilentInstall = caps.RawDeviceOK = caps.SurpriseRemovalOK = caps.HardwareDisabled = 1;
    caps.WakeFromD2 = caps.NonDynamic = caps.NoDisplayInUI = 1;
    caps.Address = 0x55;
    caps.UINumber = 0xFFFFFFFF;
    caps.D1Latency = caps.D2Latency = caps.D3Latency = 99;
    return caps;
}

Reply queryCapabilities(PDEVICE_OBJECT port, DEVICE_CAPABILITIES& caps) {
    return sendPnp(port, IRP_MN_QUERY_CAPABILITIES, [&](IO_STACK_LOCATION& s) {
        s.Parameters.DeviceCapabilities.Capabilities = &caps;
    });
}

class CapabilitiesTest : public CardTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CapabilitiesTest, TakesPowerDataFromTheCardsStack) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    card.pci.completeLater = GetParam();
    DEVICE_CAPABILITIES caps = incomingCapabilities();

    Reply reply = queryCapabilities(ports[3], caps);

    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(card.pci.countPnp(IRP_MN_QUERY_CAPABILITIES), 1u);
    EXPECT_EQ(caps.UniqueID, 1u);
    EXPECT_EQ(caps.LockSupported + caps.EjectSupported + caps.Removable + caps.DockDevice +
                  caps.SilentInstall + caps.RawDeviceOK + caps.SurpriseRemovalOK +
                  caps.HardwareDisabled,
              0u);
    EXPECT_EQ(caps.DeviceD1, 1u); // as they came
    EXPECT_EQ(caps.DeviceD2, 1u);
    EXPECT_EQ(caps.WakeFromD2, 1u);
    EXPECT_EQ(caps.WakeFromD0, 0u);
    EXPECT_EQ(caps.NonDynamic, 1u);
    EXPECT_EQ(caps.NoDisplayInUI, 1u);
    EXPECT_EQ(caps.Address, 0x55u);
    EXPECT_EQ(caps.UINumber, 24u);
    for (int s = 0; s < PowerSystemMaximum; ++s) {
        EXPECT_EQ(caps.DeviceState[s], card.pci.capabilities.DeviceState[s]) << s;
    }
    EXPECT_EQ(caps.SystemWake, PowerSystemSleeping1);
    EXPECT_EQ(caps.DeviceWake, PowerDeviceD2);
    EXPECT_EQ(caps.D1Latency + caps.D2Latency + caps.D3Latency, 0u);
}

INSTANTIATE_TEST_SUITE_P(PciDriver, CapabilitiesTest, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "Pending" : "AtOnce");
});

TEST_F(PortTest, CapabilitiesFailures) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    struct Case {
        const char* name;
        USHORT version;
        USHORT size;
        NTSTATUS status;
        std::function<void()> inject;
    };
    const USHORT full = sizeof(DEVICE_CAPABILITIES);
    const Case cases[] = {
        {"version 2", 2, full, STATUS_UNSUCCESSFUL, {}},
        {"version 0", 0, full, STATUS_UNSUCCESSFUL, {}},
        {"size 63", 1, full - 1, STATUS_UNSUCCESSFUL, {}},
        {"card stack fails", 1, full, STATUS_DEVICE_NOT_READY,
         [&] { card.pci.capabilitiesStatus = STATUS_DEVICE_NOT_READY; }},
        {"no request", 1, full, STATUS_INSUFFICIENT_RESOURCES,
         [&] {
             card.pci.capabilitiesStatus = STATUS_SUCCESS;
             kernel.faults().failNth(wk::fault_call::IoBuildSynchronousFsdRequest, 1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.inject) {
            c.inject();
        }
        DEVICE_CAPABILITIES caps = incomingCapabilities();
        caps.Version = c.version;
        caps.Size = c.size;
        Reply reply = queryCapabilities(ports[0], caps);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(caps.UniqueID, 0u);
        EXPECT_EQ(caps.UINumber, 0xFFFFFFFFu);
        kernel.faults().clear();
    }
}

// ---- bus information and target relation ----

TEST_F(PortTest, BusInformationNamesTheCardsBusType) {
    Card& card = startedCard();
    auto ports = startedPorts(card);

    Reply reply = sendPnp(ports[2], IRP_MN_QUERY_BUS_INFORMATION);
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(kernel.pool().outstandingBytes(QEL_POOL_TAG), sizeof(PNP_BUS_INFORMATION));
    auto* info = reinterpret_cast<PPNP_BUS_INFORMATION>(reply.information);
    EXPECT_EQ(0, std::memcmp(&info->BusTypeGuid, &GUID_CARD_BUS_TYPE, sizeof(GUID)));
    EXPECT_EQ(info->LegacyBusType, PNPBus);
    EXPECT_EQ(info->BusNumber, 0x268u);
    ExFreePool(info);

    kernel.faults().failPoolTag(QEL_POOL_TAG, 1);
    EXPECT_EQ(sendPnp(ports[2], IRP_MN_QUERY_BUS_INFORMATION).status,
              STATUS_INSUFFICIENT_RESOURCES);
}

Reply queryRelations(PDEVICE_OBJECT port, DEVICE_RELATION_TYPE type, ULONG_PTR information = 0) {
    return sendPnp(
        port, IRP_MN_QUERY_DEVICE_RELATIONS,
        [type](IO_STACK_LOCATION& s) { s.Parameters.QueryDeviceRelations.Type = type; },
        information);
}

TEST_F(PortTest, TargetRelationIsThePortItself) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    const long before = *references(ports[1]);

    // A list already there is replaced, and the references it held are given back.
    auto* old = static_cast<PDEVICE_RELATIONS>(
        ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), wk::makeTag("Test")));
    old->Count = 1;
    old->Objects[0] = ports[1];
    ObReferenceObject(ports[1]);

    Reply reply = queryRelations(ports[1], TargetDeviceRelation, reinterpret_cast<ULONG_PTR>(old));
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    auto* list = reinterpret_cast<PDEVICE_RELATIONS>(reply.information);
    ASSERT_EQ(list->Count, 1u);
    EXPECT_EQ(list->Objects[0], ports[1]);
    EXPECT_EQ(references(ports[1]), before + 1);
    EXPECT_EQ(kernel.pool().outstanding(wk::makeTag("Test")), 0u);
    ObDereferenceObject(list->Objects[0]);
    ExFreePool(list);

    Reply bus = queryRelations(ports[1], BusRelations, 0);
    EXPECT_EQ(bus.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(bus.information, 0u);
}

TEST_F(PortTest, TargetRelationWithoutMemoryLeavesNoStaleList) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    auto* old = static_cast<PDEVICE_RELATIONS>(
        ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), wk::makeTag("Test")));
    old->Count = 0;
    kernel.faults().failPoolTag(QEL_POOL_TAG, 1);

    Reply reply = queryRelations(ports[0], TargetDeviceRelation, reinterpret_cast<ULONG_PTR>(old));
    EXPECT_EQ(reply.status, STATUS_INSUFFICIENT_RESOURCES);
    // The old list is gone; a pointer to it must not come back.
    EXPECT_EQ(reply.information, 0u);
    EXPECT_EQ(kernel.pool().outstanding(wk::makeTag("Test")), 0u);
}

// ---- state ----

struct PortStateCase {
    const char* name;
    std::vector<UCHAR> minors;
    PNP_STATE state;
};

class PortStateTest : public CardTest, public ::testing::WithParamInterface<PortStateCase> {};

TEST_P(PortStateTest, FollowsItsRequests) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    card.port(2)->Header.PnpState = StateNotStarted;
    const auto pciRequests = card.pci.pnpMinors().size();
    for (UCHAR minor : GetParam().minors) {
        Reply reply = sendPnp(ports[2], minor);
        EXPECT_EQ(reply.status, STATUS_SUCCESS) << int(minor);
        EXPECT_EQ(reply.completions, 1u);
    }
    EXPECT_EQ(card.port(2)->Header.PnpState, GetParam().state);
    EXPECT_TRUE(exists(ports[2]));
    // A port device is the bottom of its stack: nothing reaches the card's PCI driver.
    EXPECT_EQ(card.pci.pnpMinors().size(), pciRequests);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, PortStateTest,
    ::testing::Values(
        PortStateCase{"Start", {IRP_MN_START_DEVICE}, StateStarted},
        PortStateCase{
            "QueryStop", {IRP_MN_START_DEVICE, IRP_MN_QUERY_STOP_DEVICE}, StateStopPending},
        PortStateCase{"Stop",
                      {IRP_MN_START_DEVICE, IRP_MN_QUERY_STOP_DEVICE, IRP_MN_STOP_DEVICE},
                      StateStopped},
        PortStateCase{"CancelStop",
                      {IRP_MN_START_DEVICE, IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE},
                      StateStarted},
        PortStateCase{
            "QueryRemove", {IRP_MN_START_DEVICE, IRP_MN_QUERY_REMOVE_DEVICE}, StateRemovePending},
        PortStateCase{
            "CancelRemove",
            {IRP_MN_START_DEVICE, IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE},
            StateStarted},
        PortStateCase{"SurpriseRemoval",
                      {IRP_MN_START_DEVICE, IRP_MN_SURPRISE_REMOVAL},
                      StateSurpriseRemoved},
        // The card still holds the port: its removal leaves it as it was.
        PortStateCase{"RemoveWhileHeld",
                      {IRP_MN_START_DEVICE, IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_REMOVE_DEVICE},
                      StateRemovePending}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortTest, UnhandledRequests) {
    Card& card = startedCard();
    auto ports = startedPorts(card);

    Reply usage = sendPnp(ports[0], IRP_MN_DEVICE_USAGE_NOTIFICATION, {}, 0, STATUS_SUCCESS);
    EXPECT_EQ(usage.status, STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(usage.returned, STATUS_NOT_IMPLEMENTED);

    for (UCHAR minor : {UCHAR(IRP_MN_QUERY_RESOURCES), UCHAR(IRP_MN_QUERY_RESOURCE_REQUIREMENTS),
                        UCHAR(IRP_MN_QUERY_PNP_DEVICE_STATE)}) {
        Reply reply = sendPnp(ports[0], minor, {}, 0x42, STATUS_NOT_SUPPORTED);
        EXPECT_EQ(reply.status, STATUS_NOT_SUPPORTED) << int(minor);
        EXPECT_EQ(reply.information, 0x42u);
        EXPECT_EQ(reply.completions, 1u);
    }
}

TEST_F(PortTest, RemovalDeletesAPortTheCardNoLongerHolds) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    // The card lets go of a port only while deleting it; here it is made to let go without.
    ExAcquireFastMutex(&card.ext()->ChildLock);
    card.ext()->ChildPdos[1] = nullptr;
    ExReleaseFastMutex(&card.ext()->ChildLock);

    Reply reply = sendPnp(ports[1], IRP_MN_REMOVE_DEVICE);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_FALSE(exists(ports[1]));
}

} // namespace
} // namespace qeltest
