// The power manager's primitives: the recorded states and log, and PoRequestPowerIrp.
#include "kernel/irp_helpers.h"
#include "scripted_driver.h"

#include <thread>

namespace {

using namespace kt;
using winsim::kernel::PowerCallKind;

using PowerTest = KernelTest;

POWER_STATE deviceState(DEVICE_POWER_STATE s) {
    POWER_STATE p;
    p.DeviceState = s;
    return p;
}

POWER_STATE systemState(SYSTEM_POWER_STATE s) {
    POWER_STATE p;
    p.SystemState = s;
    return p;
}

TEST_F(PowerTest, SetPowerStateRecordsPerDeviceAndReturnsTheOldState) {
    PDRIVER_OBJECT driver = load(script());
    PDEVICE_OBJECT a = newDevice(driver), b = newDevice(driver);
    EXPECT_EQ(PoSetPowerState(a, DevicePowerState, deviceState(PowerDeviceD0)).DeviceState,
              PowerDeviceUnspecified);
    EXPECT_EQ(PoSetPowerState(a, DevicePowerState, deviceState(PowerDeviceD3)).DeviceState,
              PowerDeviceD0);
    PoSetPowerState(b, SystemPowerState, systemState(PowerSystemSleeping3));
    EXPECT_EQ(kernel.power().state(a)->device, PowerDeviceD3);
    EXPECT_EQ(kernel.power().state(b)->system, PowerSystemSleeping3);
    const auto log = kernel.power().logOf(a);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, PowerCallKind::SetPowerState);
    EXPECT_EQ(log[1].state.DeviceState, PowerDeviceD3);
    EXPECT_LT(log[0].sequence, log[1].sequence);
    EXPECT_EQ(kernel.power().log().size(), 3u);
}

struct Requested {
    PDEVICE_OBJECT device = nullptr;
    UCHAR minor = 0;
    POWER_STATE state{};
    NTSTATUS status = 0;
    KEVENT done;
};

VOID NTAPI requestDone(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state, PVOID context,
                       PIO_STATUS_BLOCK status) {
    auto* r = static_cast<Requested*>(context);
    r->device = device;
    r->minor = minor;
    r->state = state;
    r->status = status->Status;
    KeSetEvent(&r->done, IO_NO_INCREMENT, FALSE);
}

TEST_F(PowerTest, RequestedPowerIrpGoesToTheTopOfTheStackOnAWorkerThread) {
    PDEVICE_OBJECT lower = nullptr;
    std::thread::id seenOn;
    POWER_STATE_TYPE seenType = SystemPowerState;
    POWER_STATE seenState{};
    DriverScript &bus = script(), &function = script();
    bus.dispatch[IRP_MJ_POWER] = [](PDEVICE_OBJECT, PIRP irp) {
        PoStartNextPowerIrp(irp);
        return completeWith(irp, STATUS_SUCCESS);
    };
    function.dispatch[IRP_MJ_POWER] = [&](PDEVICE_OBJECT, PIRP irp) {
        seenOn = std::this_thread::get_id();
        seenType = IoGetCurrentIrpStackLocation(irp)->Parameters.Power.Type;
        seenState = IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State;
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(lower, irp);
    };
    const auto devs = stack({&bus, &function});
    lower = devs[0];

    Requested r;
    KeInitializeEvent(&r.done, NotificationEvent, FALSE);
    PIRP irp = nullptr;
    // As a function driver does: it names the device below it, the request enters at the top.
    EXPECT_EQ(PoRequestPowerIrp(lower, IRP_MN_SET_POWER, deviceState(PowerDeviceD3), requestDone,
                                &r, &irp),
              STATUS_PENDING);
    EXPECT_NE(irp, nullptr);
    KeWaitForSingleObject(&r.done, Executive, KernelMode, FALSE, nullptr);
    kernel.work().drain();
    EXPECT_NE(seenOn, std::this_thread::get_id());
    EXPECT_EQ(seenType, DevicePowerState);
    EXPECT_EQ(seenState.DeviceState, PowerDeviceD3);
    EXPECT_EQ(r.device, lower);
    EXPECT_EQ(r.minor, IRP_MN_SET_POWER);
    EXPECT_EQ(r.state.DeviceState, PowerDeviceD3);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_FALSE(kernel.irps().isLive(irp)) << "the power manager frees its request";

    std::vector<PowerCallKind> kinds;
    for (const auto& call : kernel.power().log()) {
        kinds.push_back(call.kind);
    }
    EXPECT_EQ(kinds, (std::vector<PowerCallKind>{
                         PowerCallKind::RequestPowerIrp, PowerCallKind::CallDriver,
                         PowerCallKind::StartNextPowerIrp, PowerCallKind::CallDriver,
                         PowerCallKind::StartNextPowerIrp, PowerCallKind::RequestCompleted}));
}

TEST_F(PowerTest, PowerSequenceIsNoRequestThatCanBeMade) {
    PDEVICE_OBJECT device = newDevice(load(script()));
    EXPECT_EQ(PoRequestPowerIrp(device, IRP_MN_POWER_SEQUENCE, deviceState(PowerDeviceD0), nullptr,
                                nullptr, nullptr),
              STATUS_INVALID_PARAMETER);
}

TEST_F(PowerTest, SystemPowerRequestFromThePowerManager) {
    DriverScript& bus = script();
    POWER_ACTION seenAction = PowerActionNone;
    bus.dispatch[IRP_MJ_POWER] = [&](PDEVICE_OBJECT, PIRP irp) {
        seenAction = IoGetCurrentIrpStackLocation(irp)->Parameters.Power.ShutdownType;
        PoStartNextPowerIrp(irp);
        return completeWith(irp, STATUS_SUCCESS);
    };
    PDEVICE_OBJECT device = newDevice(load(bus));
    const auto result =
        winsim::kernel::sendPowerSync(device, IRP_MN_SET_POWER, SystemPowerState,
                                      systemState(PowerSystemSleeping3), PowerActionSleep);
    EXPECT_EQ(result.Status, STATUS_SUCCESS);
    EXPECT_EQ(seenAction, PowerActionSleep);
}

} // namespace
