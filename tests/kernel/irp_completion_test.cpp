// The I/O manager's request path: stack locations, completion routines, STATUS_MORE_PROCESSING_
// REQUIRED, pending propagation, synchronous FSD requests and requests completed later.
#include "kernel/irp_helpers.h"
#include "scripted_driver.h"

#include <atomic>
#include <string>
#include <vector>

namespace {

using namespace kt;
using winsim::kernel::IrpState;
using winsim::kernel::sendIrpSync;

struct Seen {
    std::string who;
    PDEVICE_OBJECT device;
    bool pendingReturned;
};

struct CompletionContext {
    std::vector<Seen>* log;
    std::string who;
    NTSTATUS result = STATUS_SUCCESS; // what the routine returns
    bool propagate = true;            // IoMarkIrpPending when PendingReturned
    PKEVENT event = nullptr;          // set, if given
};

NTSTATUS NTAPI recordCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    auto* c = static_cast<CompletionContext*>(context);
    c->log->push_back({c->who, device, irp->PendingReturned != FALSE});
    if (c->propagate && irp->PendingReturned && c->result != STATUS_MORE_PROCESSING_REQUIRED &&
        device != nullptr) {
        IoMarkIrpPending(irp);
    }
    // The context may be gone once the event is set (it lives with the waiter).
    const NTSTATUS result = c->result;
    if (c->event != nullptr) {
        KeSetEvent(c->event, IO_NO_INCREMENT, FALSE);
    }
    return result;
}

// Forwards with a completion routine in the lower location.
Dispatch forwardWithRoutine(PDEVICE_OBJECT* lower, CompletionContext* context) {
    return [lower, context](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, recordCompletion, context, TRUE, TRUE, TRUE);
        return IoCallDriver(*lower, irp);
    };
}

// Marks the request pending and completes it later on a kernel worker thread.
Dispatch completeLater(winsim::kernel::Kernel& kernel, NTSTATUS status) {
    return [&kernel, status](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        kernel.work().post([irp, status] { completeWith(irp, status); });
        return STATUS_PENDING;
    };
}

using IrpPathTest = KernelTest;

TEST_F(IrpPathTest, CompletionRoutinesRunBottomUpWithTheirOwnDevice) {
    std::vector<Seen> log;
    PDEVICE_OBJECT belowTop = nullptr, belowMiddle = nullptr;
    CompletionContext topContext{&log, "top"}, middleContext{&log, "middle"},
        originContext{&log, "origin"};
    DriverScript &bottom = script(), &middle = script(), &top = script();
    bottom.dispatch[IRP_MJ_PNP] = [](PDEVICE_OBJECT, PIRP irp) {
        return completeWith(irp, STATUS_SUCCESS, 42);
    };
    middle.dispatch[IRP_MJ_PNP] = forwardWithRoutine(&belowMiddle, &middleContext);
    top.dispatch[IRP_MJ_PNP] = forwardWithRoutine(&belowTop, &topContext);
    const auto devs = stack({&bottom, &middle, &top});
    belowMiddle = devs[0];
    belowTop = devs[1];

    PIRP irp = winsim::kernel::buildPnpIrp(devs[0], IRP_MN_QUERY_CAPABILITIES);
    ASSERT_EQ(irp->StackCount, 3);
    IoSetCompletionRoutine(irp, recordCompletion, &originContext, TRUE, TRUE, TRUE);
    const IO_STATUS_BLOCK result = sendIrpSync(devs[0], irp);

    EXPECT_EQ(result.Status, STATUS_SUCCESS);
    EXPECT_EQ(result.Information, 42u);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].who, "middle");
    EXPECT_EQ(log[0].device, devs[1]);
    EXPECT_EQ(log[1].who, "top");
    EXPECT_EQ(log[1].device, devs[2]);
    EXPECT_EQ(log[2].who, "origin");
    EXPECT_EQ(log[2].device, nullptr);
    EXPECT_EQ(kernel.irps().completionCount(irp), 1u);
    IoFreeIrp(irp);
}

struct InvokeCase {
    NTSTATUS status;
    bool cancel;
    bool onSuccess, onError, onCancel;
    bool invoked;
};

class InvokeBitsTest : public KernelTest, public ::testing::WithParamInterface<InvokeCase> {};

TEST_P(InvokeBitsTest, RoutineRunsOnlyWhenItsBitMatches) {
    const InvokeCase c = GetParam();
    std::vector<Seen> log;
    CompletionContext context{&log, "upper"};
    PDEVICE_OBJECT lower = nullptr;
    DriverScript &bottom = script(), &upper = script();
    bottom.dispatch[IRP_MJ_PNP] = [&c](PDEVICE_OBJECT, PIRP irp) {
        irp->Cancel = c.cancel;
        return completeWith(irp, c.status);
    };
    upper.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, recordCompletion, &context, c.onSuccess, c.onError, c.onCancel);
        return IoCallDriver(lower, irp);
    };
    const auto devs = stack({&bottom, &upper});
    lower = devs[0];
    EXPECT_EQ(winsim::kernel::sendPnpSync(devs[0], IRP_MN_START_DEVICE).Status, c.status);
    EXPECT_EQ(log.size(), c.invoked ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvokeBitsTest,
    ::testing::Values(InvokeCase{STATUS_SUCCESS, false, true, false, false, true},
                      InvokeCase{STATUS_SUCCESS, false, false, true, true, false},
                      InvokeCase{STATUS_UNSUCCESSFUL, false, false, true, false, true},
                      InvokeCase{STATUS_UNSUCCESSFUL, false, true, false, true, false},
                      InvokeCase{STATUS_CANCELLED, true, false, false, true, true},
                      InvokeCase{STATUS_SUCCESS, true, false, false, true, true},
                      InvokeCase{STATUS_SUCCESS, false, false, false, false, false}));

// The forward-and-wait pattern: the routine hands the request back with
// STATUS_MORE_PROCESSING_REQUIRED, the upper driver finishes and completes it again.
class ForwardAndWaitTest : public KernelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ForwardAndWaitTest, ReclaimedRequestIsCompletedAgainByItsOwner) {
    const bool lowerPends = GetParam();
    std::vector<Seen> log;
    PDEVICE_OBJECT lower = nullptr;
    KEVENT event;
    CompletionContext waitContext{&log, "upper", STATUS_MORE_PROCESSING_REQUIRED, true, &event};
    CompletionContext originContext{&log, "origin"};
    DriverScript &bottom = script(), &upper = script();
    bottom.dispatch[IRP_MJ_PNP] =
        lowerPends ? completeLater(kernel, STATUS_SUCCESS)
                   : [](PDEVICE_OBJECT, PIRP irp) { return completeWith(irp, STATUS_SUCCESS); };
    upper.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        KeInitializeEvent(&event, SynchronizationEvent, FALSE);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, recordCompletion, &waitContext, TRUE, TRUE, TRUE);
        NTSTATUS status = IoCallDriver(lower, irp);
        if (status == STATUS_PENDING) {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
            status = irp->IoStatus.Status;
        }
        return completeWith(irp, NT_SUCCESS(status) ? STATUS_DEVICE_NOT_READY : status, 7);
    };
    const auto devs = stack({&bottom, &upper});
    lower = devs[0];

    PIRP irp = winsim::kernel::buildPnpIrp(devs[0], IRP_MN_START_DEVICE);
    IoSetCompletionRoutine(irp, recordCompletion, &originContext, TRUE, TRUE, TRUE);
    const IO_STATUS_BLOCK result = sendIrpSync(devs[0], irp);
    EXPECT_EQ(result.Status, STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(result.Information, 7u);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].who, "upper");
    EXPECT_EQ(log[0].pendingReturned, lowerPends);
    EXPECT_EQ(log[1].who, "origin");
    EXPECT_EQ(kernel.irps().completionCount(irp), 2u);
    IoFreeIrp(irp);
}

INSTANTIATE_TEST_SUITE_P(LowerCompletes, ForwardAndWaitTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Later" : "AtOnce"; });

TEST_F(IrpPathTest, PendingPropagatesThroughLocationsWithoutRoutine) {
    std::vector<Seen> log;
    PDEVICE_OBJECT belowMiddle = nullptr, belowTop = nullptr;
    CompletionContext topContext{&log, "top"}, originContext{&log, "origin"};
    DriverScript &bottom = script(), &middle = script(), &top = script();
    bottom.dispatch[IRP_MJ_PNP] = completeLater(kernel, STATUS_SUCCESS);
    middle.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp); // no completion routine
        return IoCallDriver(belowMiddle, irp);
    };
    top.dispatch[IRP_MJ_PNP] = forwardWithRoutine(&belowTop, &topContext);
    const auto devs = stack({&bottom, &middle, &top});
    belowMiddle = devs[0];
    belowTop = devs[1];

    PIRP irp = winsim::kernel::buildPnpIrp(devs[0], IRP_MN_START_DEVICE);
    IoSetCompletionRoutine(irp, recordCompletion, &originContext, TRUE, TRUE, TRUE);
    EXPECT_EQ(sendIrpSync(devs[0], irp).Status, STATUS_SUCCESS);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].pendingReturned) << "the middle location passed the mark up";
    EXPECT_TRUE(log[1].pendingReturned) << "the top routine marked its own location";
    IoFreeIrp(irp);
}

class SynchronousFsdTest : public KernelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SynchronousFsdTest, EventSetStatusCopiedAndRequestFreed) {
    const bool later = GetParam();
    PDEVICE_OBJECT lower = nullptr;
    DriverScript &bus = script(), &function = script();
    bus.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION s = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(s->MinorFunction, IRP_MN_READ_CONFIG);
        *static_cast<ULONG*>(s->Parameters.ReadWriteConfig.Buffer) = 0x00040000;
        if (later) {
            IoMarkIrpPending(irp);
            kernel.work().post([irp, s] {
                completeWith(irp, STATUS_SUCCESS, s->Parameters.ReadWriteConfig.Length);
            });
            return static_cast<NTSTATUS>(STATUS_PENDING);
        }
        return completeWith(irp, STATUS_SUCCESS, s->Parameters.ReadWriteConfig.Length);
    };
    function.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) { return passDown(lower, irp); };
    const auto devs = stack({&bus, &function});
    lower = devs[0];

    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    ULONG word = 0;
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(devs[0]);
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, top, nullptr, 0, nullptr, &event, &iosb);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(irp->StackCount, 2);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MinorFunction = IRP_MN_READ_CONFIG;
    next->Parameters.ReadWriteConfig.Buffer = &word;
    next->Parameters.ReadWriteConfig.Offset = 0x2C;
    next->Parameters.ReadWriteConfig.Length = 4;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    NTSTATUS status = IoCallDriver(top, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    ObDereferenceObject(top);
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 4u);
    EXPECT_EQ(word, 0x00040000u);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    kernel.work().drain();
    EXPECT_FALSE(kernel.irps().isLive(irp)) << "the I/O manager frees its own requests";
}

INSTANTIATE_TEST_SUITE_P(LowerCompletes, SynchronousFsdTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Later" : "AtOnce"; });

TEST_F(IrpPathTest, StackLocationsFollowTheWindowsLayout) {
    PDEVICE_OBJECT lower = nullptr;
    PIO_STACK_LOCATION upperLocation = nullptr, lowerLocation = nullptr;
    DriverScript &bottom = script(), &upper = script();
    bottom.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT device, PIRP irp) {
        lowerLocation = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(irp->CurrentLocation, 1);
        EXPECT_EQ(lowerLocation->DeviceObject, device);
        EXPECT_EQ(lowerLocation->Parameters.QueryId.IdType, BusQueryInstanceID);
        EXPECT_EQ(lowerLocation->CompletionRoutine, nullptr);
        EXPECT_EQ(lowerLocation->Control, 0);
        return completeWith(irp, STATUS_SUCCESS);
    };
    upper.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        upperLocation = IoGetCurrentIrpStackLocation(irp);
        EXPECT_EQ(irp->CurrentLocation, 2);
        EXPECT_EQ(IoGetNextIrpStackLocation(irp), upperLocation - 1);
        IoGetNextIrpStackLocation(irp)->CompletionRoutine = recordCompletion; // stale: must go
        IoGetNextIrpStackLocation(irp)->Control = SL_INVOKE_ON_SUCCESS;
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(lower, irp);
    };
    const auto devs = stack({&bottom, &upper});
    lower = devs[0];
    PIRP irp = IoAllocateIrp(devs[1]->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(irp->StackCount, 2);
    EXPECT_EQ(irp->CurrentLocation, 3);
    PIO_STACK_LOCATION first = IoGetNextIrpStackLocation(irp);
    EXPECT_EQ(reinterpret_cast<char*>(first),
              reinterpret_cast<char*>(irp + 1) + sizeof(IO_STACK_LOCATION));
    first->MajorFunction = IRP_MJ_PNP;
    first->MinorFunction = IRP_MN_QUERY_ID;
    first->Parameters.QueryId.IdType = BusQueryInstanceID;
    EXPECT_EQ(sendIrpSync(devs[0], irp).Status, STATUS_SUCCESS);
    EXPECT_EQ(upperLocation, first);
    EXPECT_EQ(lowerLocation, first - 1);
    EXPECT_EQ(irp->CurrentLocation, 3) << "completion walks back to the top";
    IoFreeIrp(irp);
}

TEST_F(IrpPathTest, SkippedLocationIsSharedWithTheLowerDriver) {
    PDEVICE_OBJECT lower = nullptr;
    PIO_STACK_LOCATION seenUpper = nullptr, seenLower = nullptr;
    DriverScript &bottom = script(), &upper = script();
    bottom.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        seenLower = IoGetCurrentIrpStackLocation(irp);
        return completeWith(irp, STATUS_SUCCESS);
    };
    upper.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        seenUpper = IoGetCurrentIrpStackLocation(irp);
        return passDown(lower, irp);
    };
    const auto devs = stack({&bottom, &upper});
    lower = devs[0];
    EXPECT_EQ(winsim::kernel::sendPnpSync(devs[0], IRP_MN_START_DEVICE).Status, STATUS_SUCCESS);
    EXPECT_EQ(seenUpper, seenLower);
}

TEST_F(IrpPathTest, UnhandledMajorFunctionGetsInvalidDeviceRequest) {
    DriverScript& bare = script();
    PDEVICE_OBJECT device = newDevice(load(bare));
    const IO_STATUS_BLOCK result = winsim::kernel::sendPnpSync(device, IRP_MN_START_DEVICE);
    EXPECT_EQ(result.Status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(IrpPathTest, PnpRequestsStartOutNotSupported) {
    NTSTATUS seen = 0;
    DriverScript& bus = script();
    bus.dispatch[IRP_MJ_PNP] = [&](PDEVICE_OBJECT, PIRP irp) {
        seen = irp->IoStatus.Status;
        const NTSTATUS status = irp->IoStatus.Status; // not handled: completed as it came
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    };
    PDEVICE_OBJECT device = newDevice(load(bus));
    EXPECT_EQ(winsim::kernel::sendPnpSync(device, IRP_MN_QUERY_BUS_INFORMATION).Status,
              STATUS_NOT_SUPPORTED);
    EXPECT_EQ(seen, STATUS_NOT_SUPPORTED);
}

} // namespace
