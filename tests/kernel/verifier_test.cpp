// Each verifier check fires on a deliberately faulty tiny driver. (The request-path and other
// tests expect a clean verifier from the correct drivers they run.)
#include "kernel/irp_helpers.h"
#include "scripted_driver.h"

#include <thread>

namespace {

using namespace kt;
using winsim::kernel::Check;
using winsim::kernel::Kernel;
using winsim::kernel::KernelOptions;
using winsim::kernel::sendPnpSync;

constexpr ULONG leakTag = winsim::kernel::makeTag("Leak");

NTSTATUS NTAPI keepPending(PDEVICE_OBJECT, PIRP irp, PVOID) {
    return STATUS_SUCCESS; // ignores PendingReturned: does not mark its own location
}

struct FaultCase {
    const char* name;
    Check expected;
    std::function<void(KernelTest&)> run;
};

class FaultyDriverTest : public KernelTest, public ::testing::WithParamInterface<FaultCase> {
  public:
    // KernelTest's helpers, for the scenarios below.
    using KernelTest::kernel;
    using KernelTest::load;
    using KernelTest::newDevice;
    using KernelTest::script;
    using KernelTest::stack;
};

TEST_P(FaultyDriverTest, CheckFires) {
    expectViolations = true;
    GetParam().run(*this);
    dismantle();
    kernel.shutdown();
    EXPECT_GE(kernel.verifier().count(GetParam().expected), 1u) << kernel.verifier().summary();
}

// A bottom driver whose IRP_MJ_PNP routine is `dispatch`; the request goes through sendPnpSync.
void sendToBottom(KernelTest& t, Dispatch dispatch) {
    auto& f = static_cast<FaultyDriverTest&>(t);
    DriverScript& s = f.script();
    s.dispatch[IRP_MJ_PNP] = std::move(dispatch);
    sendPnpSync(f.newDevice(f.load(s)), IRP_MN_START_DEVICE);
}

const FaultCase faultCases[] = {
    {"CompletedTwice", Check::IrpCompletedTwice,
     [](KernelTest& t) {
         sendToBottom(t, [](PDEVICE_OBJECT, PIRP irp) {
             completeWith(irp, STATUS_SUCCESS);
             return completeWith(irp, STATUS_SUCCESS);
         });
     }},
    {"CompletedWithPending", Check::IrpCompletedPending,
     [](KernelTest& t) {
         sendToBottom(t, [](PDEVICE_OBJECT, PIRP irp) {
             completeWith(irp, STATUS_PENDING);
             return STATUS_SUCCESS;
         });
     }},
    {"PendingWithoutMark", Check::PendingNotMarked,
     [](KernelTest& t) {
         auto& k = static_cast<FaultyDriverTest&>(t).kernel;
         sendToBottom(t, [&k](PDEVICE_OBJECT, PIRP irp) {
             k.work().post([irp] { completeWith(irp, STATUS_SUCCESS); });
             return STATUS_PENDING;
         });
     }},
    {"ReturnedWithoutCompleting", Check::IrpNotCompleted,
     [](KernelTest& t) { sendToBottom(t, [](PDEVICE_OBJECT, PIRP) { return STATUS_SUCCESS; }); }},
    {"CompletionRoutineDropsPending", Check::PendingNotPropagated,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         static PDEVICE_OBJECT lower;
         DriverScript &bottom = f.script(), &upper = f.script();
         Kernel& k = f.kernel;
         bottom.dispatch[IRP_MJ_PNP] = [&k](PDEVICE_OBJECT, PIRP irp) {
             IoMarkIrpPending(irp);
             k.work().post([irp] { completeWith(irp, STATUS_SUCCESS); });
             return STATUS_PENDING;
         };
         upper.dispatch[IRP_MJ_PNP] = [](PDEVICE_OBJECT, PIRP irp) {
             IoCopyCurrentIrpStackLocationToNext(irp);
             IoSetCompletionRoutine(irp, keepPending, nullptr, TRUE, TRUE, TRUE);
             return IoCallDriver(lower, irp);
         };
         const auto devs = f.stack({&bottom, &upper});
         lower = devs[0];
         sendPnpSync(devs[0], IRP_MN_START_DEVICE);
     }},
    {"DeleteTwice", Check::DeleteDeviceTwice,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         PDEVICE_OBJECT d = f.newDevice(f.load(f.script()));
         IoDeleteDevice(d);
         IoDeleteDevice(d);
     }},
    {"DeleteWhileAttachedOnTop", Check::DeleteAttachedDevice,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         const auto devs = f.stack({&f.script(), &f.script()});
         IoDeleteDevice(devs[0]);
     }},
    {"DeleteWithoutDetach", Check::DeleteWithoutDetach,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         const auto devs = f.stack({&f.script(), &f.script()});
         IoDeleteDevice(devs[1]);
     }},
    {"RequestToDeletedDevice", Check::IrpToDeletedDevice,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         PDEVICE_OBJECT d = f.newDevice(f.load(f.script()));
         ObReferenceObject(d);
         IoDeleteDevice(d);
         sendPnpSync(d, IRP_MN_START_DEVICE);
         ObDereferenceObject(d);
     }},
    {"ReferenceLeftOnDeletedDevice", Check::ReferenceLeak,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         PDEVICE_OBJECT d = f.newDevice(f.load(f.script()));
         ObReferenceObject(d);
         IoDeleteDevice(d);
     }},
    {"UnloadWithDevices", Check::UnloadWithDevices,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         PDRIVER_OBJECT driver = f.load(f.script());
         f.newDevice(driver);
         f.kernel.unloadDriver(driver);
     }},
    {"PoolLeftAtUnload", Check::PoolLeak,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         DriverScript& s = f.script();
         s.entry = [](PDRIVER_OBJECT, PUNICODE_STRING) {
             ExAllocatePoolWithTag(PagedPool, 16, leakTag);
             return STATUS_SUCCESS;
         };
         f.kernel.unloadDriver(f.load(s));
     }},
    {"MutexHeldOnReturn", Check::MutexHeldOnReturn,
     [](KernelTest& t) {
         static FAST_MUTEX mutex;
         ExInitializeFastMutex(&mutex);
         sendToBottom(t, [](PDEVICE_OBJECT, PIRP irp) {
             ExAcquireFastMutex(&mutex);
             return completeWith(irp, STATUS_SUCCESS);
         });
         ExReleaseFastMutex(&mutex);
     }},
    {"MutexAcquiredTwice", Check::MutexRecursive,
     [](KernelTest&) {
         FAST_MUTEX mutex;
         ExInitializeFastMutex(&mutex);
         ExAcquireFastMutex(&mutex);
         ExAcquireFastMutex(&mutex);
         ExReleaseFastMutex(&mutex);
         ExReleaseFastMutex(&mutex);
     }},
    {"MutexReleasedByOtherThread", Check::MutexNotOwner,
     [](KernelTest&) {
         FAST_MUTEX mutex;
         ExInitializeFastMutex(&mutex);
         ExAcquireFastMutex(&mutex);
         std::thread([&mutex] { ExReleaseFastMutex(&mutex); }).join();
         ExReleaseFastMutex(&mutex);
     }},
    {"AddDeviceLeavesInitializing", Check::DeviceStillInitializing,
     [](KernelTest& t) {
         auto& f = static_cast<FaultyDriverTest&>(t);
         PDEVICE_OBJECT pdo = f.newDevice(f.load(f.script()));
         DriverScript& function = f.script();
         static PDEVICE_OBJECT fdo;
         function.addDevice = [](PDRIVER_OBJECT driver, PDEVICE_OBJECT below) {
             IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
             IoAttachDeviceToDeviceStack(fdo, below);
             return STATUS_SUCCESS;
         };
         f.kernel.addDevice(f.load(function), pdo);
         IoDetachDevice(pdo);
         IoDeleteDevice(fdo);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, FaultyDriverTest, ::testing::ValuesIn(faultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Fatal checks end the process with a message.
class FatalCheckTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void sendWithOneLocationTooFew() {
    Kernel kernel;
    DriverScript bottom;
    DriverScript upper;
    static PDEVICE_OBJECT lower;
    bottom.dispatch[IRP_MJ_PNP] = [](PDEVICE_OBJECT, PIRP irp) {
        return completeWith(irp, STATUS_SUCCESS);
    };
    upper.dispatch[IRP_MJ_PNP] = [](PDEVICE_OBJECT, PIRP irp) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(lower, irp);
    };
    PDRIVER_OBJECT bottomDriver = nullptr;
    PDRIVER_OBJECT upperDriver = nullptr;
    loadScripted(kernel, "bottom", bottom, &bottomDriver);
    loadScripted(kernel, "upper", upper, &upperDriver);
    PDEVICE_OBJECT upperDevice = nullptr;
    IoCreateDevice(bottomDriver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower);
    IoCreateDevice(upperDriver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upperDevice);
    IoAttachDeviceToDeviceStack(upperDevice, lower);
    PIRP irp = IoAllocateIrp(1, FALSE); // the stack needs two
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
    IoCallDriver(upperDevice, irp);
}

TEST_F(FatalCheckTest, RunningOutOfStackLocationsAborts) {
    EXPECT_DEATH(sendWithOneLocationTooFew(), "NoMoreStackLocations");
}

TEST_F(FatalCheckTest, WatchdogEndsAWaitThatNeverEnds) {
    EXPECT_DEATH(
        {
            KernelOptions options;
            options.deadlockLimit = std::chrono::milliseconds(50);
            Kernel kernel(options);
            KEVENT never;
            KeInitializeEvent(&never, NotificationEvent, FALSE);
            KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
        },
        "deadlock");
}

TEST_F(FatalCheckTest, WatchdogEndsAFastMutexDeadlock) {
    EXPECT_DEATH(
        {
            KernelOptions options;
            options.deadlockLimit = std::chrono::milliseconds(50);
            Kernel kernel(options);
            FAST_MUTEX mutex;
            ExInitializeFastMutex(&mutex);
            std::thread([&mutex] { ExAcquireFastMutex(&mutex); }).join(); // never released
            ExAcquireFastMutex(&mutex);
        },
        "deadlock");
}

} // namespace
