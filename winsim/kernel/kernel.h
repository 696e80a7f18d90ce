// The simulated Windows kernel.
//
// A Kernel object holds the whole kernel state: the verifier (rules that drivers broke), failure
// injection, the pool, dispatcher objects (events, fast mutexes, with a deadlock watchdog), the
// object manager (driver and device objects, references, device stacks), the I/O manager's IRPs,
// device interfaces, the kernel handle table, the power manager's primitives, the worker
// threads, the machine registry and the bridge to the Plug and Play manager.
//
// The C routines of <wdm.h> act on the current Kernel: the one constructed last and not yet
// destroyed (one at a time). Tests and the machine create one:
//
//     winsim::kernel::Kernel kernel;                 // its own empty registry
//     PDRIVER_OBJECT driver;
//     kernel.loadDriver("qelmf", DriverEntry, &driver);
//     ...                                             // PnP manager: addDevice, IRPs
//     (irp_helpers.h) kernel.unloadDriver(driver); kernel.shutdown(); // joins workers, records
//     leaks EXPECT_TRUE(kernel.verifier().clean()) << kernel.verifier().summary();
//
// Every routine runs at PASSIVE_LEVEL. Routines that drivers call while a driver routine runs
// are attributed to that driver (pool blocks, handles), so that unloading a driver can report
// what it left behind.
#pragma once

#include "kernel/dispatcher.h"
#include "kernel/faults.h"
#include "kernel/handles.h"
#include "kernel/interfaces.h"
#include "kernel/irps.h"
#include "kernel/objects.h"
#include "kernel/pnp_bridge.h"
#include "kernel/pool.h"
#include "kernel/power.h"
#include "kernel/symbolic_links.h"
#include "kernel/verifier.h"
#include "kernel/work_queue.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string_view>

namespace winsim::reg {
class Registry;
}

namespace winsim::kernel {

struct KernelOptions {
    // The machine registry; nullptr: the kernel makes an empty one of its own.
    reg::Registry* registry = nullptr;
    // A wait without a timeout that lasts longer than this aborts the process (Deadlock).
    std::chrono::milliseconds deadlockLimit{60000};
    // Print each violation to stderr as it is recorded.
    bool printViolations = true;
    // Whether shutdown() records what is still allocated (pool, devices, IRPs, handles).
    bool reportLeaksAtShutdown = true;
    std::size_t maxWorkerThreads = 8;
};

class Kernel {
  public:
    explicit Kernel(KernelOptions options = {});
    ~Kernel(); // shutdown(), then releases everything left
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // The current kernel; aborts with a message when there is none.
    static Kernel& current();
    static Kernel* currentOrNull();

    Verifier& verifier() { return verifier_; }
    Faults& faults() { return faults_; }
    Pool& pool() { return pool_; }
    Dispatcher& dispatcher() { return dispatcher_; }
    ObjectManager& objects() { return objects_; }
    IrpManager& irps() { return irps_; }
    DeviceInterfaces& interfaces() { return *interfaces_; }
    HandleTable& handles() { return handles_; }
    PowerManager& power() { return power_; }
    WorkQueue& work() { return work_; }
    reg::Registry& registry() { return *registry_; }
    // The DOS device names ("\??\COM3" -> "\Device\Serial0").
    SymbolicLinks& symbolicLinks() { return symbolicLinks_; }

    // The PnP manager's side (not owned; may be nullptr).
    void setPnpBridge(PnpBridge* bridge) { bridge_.store(bridge); }
    PnpBridge* pnpBridge() const { return bridge_.load(); }

    // Builds the driver object of the service (every MajorFunction preset to a routine that
    // completes with STATUS_INVALID_DEVICE_REQUEST, registry path
    // "\Registry\Machine\System\CurrentControlSet\Services\<service>") and calls its entry. If the
    // entry fails, the driver is not loaded and its status returned. STATUS_OBJECT_NAME_COLLISION
    // when the service is loaded already.
    NTSTATUS loadDriver(std::string_view service, PDRIVER_INITIALIZE entry,
                        PDRIVER_OBJECT* driver = nullptr);
    // Calls DriverUnload (refused, with an UnloadWithDevices violation, while the driver still has
    // device objects) and records whatever the driver left: pool, handles, referenced devices.
    NTSTATUS unloadDriver(PDRIVER_OBJECT driver);
    PDRIVER_OBJECT driver(std::string_view service) const; // a loaded driver, or nullptr
    // Calls the driver's AddDevice for the PDO (as the PnP manager does), checking that every
    // device it created has DO_DEVICE_INITIALIZING cleared when it succeeds.
    NTSTATUS addDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);

    // Drains and joins the worker threads and records leaks (see KernelOptions). Idempotent.
    void shutdown();
    bool isShutDown() const { return shutDown_; }

  private:
    static std::atomic<Kernel*> current_;

    KernelOptions options_;
    Verifier verifier_;
    Faults faults_;
    Pool pool_;
    Dispatcher dispatcher_;
    ObjectManager objects_;
    IrpManager irps_;
    std::unique_ptr<reg::Registry> ownRegistry_;
    reg::Registry* registry_;
    std::unique_ptr<DeviceInterfaces> interfaces_;
    HandleTable handles_;
    WorkQueue work_;
    PowerManager power_;
    SymbolicLinks symbolicLinks_;
    std::atomic<PnpBridge*> bridge_{nullptr};
    bool shutDown_ = false;
};

} // namespace winsim::kernel
