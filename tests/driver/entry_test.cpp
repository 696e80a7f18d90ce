// Loading and unloading, create/close, and requests to deleted devices.
#include "fixture.h"

#include <array>

namespace qeltest {
namespace {

constexpr WCHAR kServicePath[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\qelmf";

UNICODE_STRING servicePath() {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kServicePath);
    return path;
}

struct BareDriver {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    BareDriver() { object.DriverExtension = &extension; }
};

using DriverEntryTest = KernelTest;

TEST_F(DriverEntryTest, CopiesTheRegistryPathAndFillsTheDispatchTable) {
    BareDriver driver;
    UNICODE_STRING path = servicePath();

    ASSERT_EQ(DriverEntry(&driver.object, &path), STATUS_SUCCESS);

    EXPECT_EQ(RegistryPathCopy.Length, path.Length);
    EXPECT_EQ(RegistryPathCopy.MaximumLength, path.Length + 2);
    ASSERT_NE(RegistryPathCopy.Buffer, path.Buffer);
    EXPECT_EQ(0, std::memcmp(RegistryPathCopy.Buffer, path.Buffer, path.Length));
    EXPECT_EQ(kernel.pool().outstanding(QEL_REGPATH_TAG), 1u);
    EXPECT_EQ(kernel.pool().outstandingBytes(QEL_REGPATH_TAG), path.Length + 2u);

    EXPECT_EQ(driver.object.MajorFunction[IRP_MJ_CREATE], DispatchCreateClose);
    EXPECT_EQ(driver.object.MajorFunction[IRP_MJ_CLOSE], DispatchCreateClose);
    EXPECT_EQ(driver.object.MajorFunction[IRP_MJ_PNP], DispatchPnp);
    EXPECT_EQ(driver.object.MajorFunction[IRP_MJ_POWER], DispatchPower);
    EXPECT_EQ(driver.object.MajorFunction[IRP_MJ_DEVICE_CONTROL], nullptr);
    EXPECT_EQ(driver.object.DriverUnload, UnloadDriver);
    EXPECT_EQ(driver.extension.AddDevice, AddCardDevice);

    UnloadDriver(&driver.object);
    EXPECT_EQ(kernel.pool().outstanding(QEL_REGPATH_TAG), 0u);
    EXPECT_EQ(RegistryPathCopy.Buffer, nullptr);
}

TEST_F(DriverEntryTest, FailedCopyFailsTheLoadAndSetsNothing) {
    BareDriver driver;
    UNICODE_STRING path = servicePath();
    kernel.faults().failPoolTag(QEL_REGPATH_TAG, 1);

    EXPECT_EQ(DriverEntry(&driver.object, &path), STATUS_INSUFFICIENT_RESOURCES);

    for (auto routine : driver.object.MajorFunction) {
        EXPECT_EQ(routine, nullptr);
    }
    EXPECT_EQ(driver.object.DriverUnload, nullptr);
    EXPECT_EQ(driver.extension.AddDevice, nullptr);
    EXPECT_EQ(RegistryPathCopy.Buffer, nullptr);
}

TEST_F(DriverEntryTest, LoadsAndUnloadsThroughTheKernel) {
    PDRIVER_OBJECT driver = nullptr;
    ASSERT_EQ(kernel.loadDriver("qelmf", DriverEntry, &driver), STATUS_SUCCESS);
    EXPECT_EQ(kernel.unloadDriver(driver), STATUS_SUCCESS);
    EXPECT_EQ(kernel.pool().outstanding(QEL_REGPATH_TAG), 0u);
}

// ---- create and close ----

struct OpenCase {
    const char* name;
    UCHAR major;
    bool onPort;
};

class CreateCloseTest : public CardTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(CreateCloseTest, NobodyOpensTheCardOrAPort) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    ASSERT_EQ(ports.size(), 4u);
    PDEVICE_OBJECT target = GetParam().onPort ? ports[1] : card.fdo();

    Reply reply = send(target, GetParam().major, 0, {}, 0x1234, STATUS_SUCCESS);

    EXPECT_EQ(reply.returned, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(reply.status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(reply.information, 0u);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    EXPECT_NE(KeReadStateEvent(&card.ext()->StopEvent), 0);
}

INSTANTIATE_TEST_SUITE_P(Devices, CreateCloseTest,
                         ::testing::Values(OpenCase{"CreateOnCard", IRP_MJ_CREATE, false},
                                           OpenCase{"CloseOnCard", IRP_MJ_CLOSE, false},
                                           OpenCase{"CreateOnPort", IRP_MJ_CREATE, true},
                                           OpenCase{"CloseOnPort", IRP_MJ_CLOSE, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- deleted devices ----

struct DeletedCase {
    const char* name;
    UCHAR major;
    bool onPort;
};

class DeletedDeviceTest : public CardTest, public ::testing::WithParamInterface<DeletedCase> {};

TEST_P(DeletedDeviceTest, RefusesEveryRequest) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    ASSERT_EQ(ports.size(), 4u);
    PDEVICE_OBJECT target = GetParam().onPort ? ports[0] : card.fdo();
    auto* header = static_cast<PEXTENSION_HEADER>(target->DeviceExtension);
    const PNP_STATE before = header->PnpState;
    const auto pciPower = card.pci.powerCalls().size();
    const auto pciPnp = card.pci.pnpMinors().size();

    header->PnpState = StateDeleted;
    Reply reply =
        GetParam().major == IRP_MJ_POWER
            ? sendPower(target, IRP_MN_SET_POWER, DevicePowerState, deviceState(PowerDeviceD3))
            : sendPnp(target, IRP_MN_QUERY_CAPABILITIES);
    header->PnpState = before;

    EXPECT_EQ(reply.returned, STATUS_DELETE_PENDING);
    EXPECT_EQ(reply.status, STATUS_DELETE_PENDING);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_EQ(reply.startNextPower, GetParam().major == IRP_MJ_POWER ? 1u : 0u);
    EXPECT_EQ(card.pci.powerCalls().size(), pciPower);
    EXPECT_EQ(card.pci.pnpMinors().size(), pciPnp);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
}

INSTANTIATE_TEST_SUITE_P(Requests, DeletedDeviceTest,
                         ::testing::Values(DeletedCase{"PnpToCard", IRP_MJ_PNP, false},
                                           DeletedCase{"PowerToCard", IRP_MJ_POWER, false},
                                           DeletedCase{"PnpToPort", IRP_MJ_PNP, true},
                                           DeletedCase{"PowerToPort", IRP_MJ_POWER, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the outstanding-request count ----

using IoCountTest = CardTest;

TEST_F(IoCountTest, EventsFollowTheCount) {
    Card& card = addedCard();
    PCARD_EXTENSION ext = card.ext();

    IncrementIoCount(ext); // 1 -> 2: a request holds the card
    EXPECT_EQ(KeReadStateEvent(&ext->StopEvent), 0);
    IncrementIoCount(ext); // 2 -> 3
    DecrementIoCount(ext); // 3 -> 2: still held
    EXPECT_EQ(KeReadStateEvent(&ext->StopEvent), 0);
    DecrementIoCount(ext); // 2 -> 1: idle
    EXPECT_NE(KeReadStateEvent(&ext->StopEvent), 0);
    EXPECT_EQ(KeReadStateEvent(&ext->RemoveEvent), 0);

    KeClearEvent(&ext->StopEvent);
    DecrementIoCount(ext); // 1 -> 0: the removal's last count
    EXPECT_NE(KeReadStateEvent(&ext->RemoveEvent), 0);
    EXPECT_EQ(KeReadStateEvent(&ext->StopEvent), 0);

    // Back to the idle state, so that the card's removal can run.
    ext->OutstandingIo = 1;
    KeClearEvent(&ext->RemoveEvent);
    KeSetEvent(&ext->StopEvent, IO_NO_INCREMENT, FALSE);
}

} // namespace
} // namespace qeltest
