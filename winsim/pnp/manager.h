// Inside the Plug and Play manager: the device tree and the requests that build it up, change it
// and tear it down. One Plug and Play operation runs at a time (Windows has one PnP thread): every
// member below "operations" is called with lock_ held.
#pragma once

#include "pnp/bridge.h"
#include "pnp/driver_database.h"
#include "pnp/irp_sender.h"
#include "pnp/node.h"
#include "pnp/pnp_manager.h"
#include "pnp/root_driver.h"

#include "pci/pci_bus.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace winsim::pnp {

// A capabilities record as the Plug and Play manager hands it out: Size and Version set,
// Address and UINumber unknown.
DEVICE_CAPABILITIES freshCapabilities();

class Manager {
  public:
    Manager(kernel::Kernel& kernel, reg::Registry& registry);
    ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // Set-up (before start).
    void setEventSink(std::function<void(const Event&)> sink);
    void addCard(const CardConfig& card);
    void registerDriver(const std::string& service, PDRIVER_INITIALIZE entry);
    void addDriverPackage(const DriverPackage& package);
    void addRootDevice(const RootChild& device);
    void addClassHook(std::function<void(const ClassEvent&)> hook);

    NTSTATUS start();
    void shutdown();

    // Actions on one device; STATUS_NO_SUCH_DEVICE for an unknown instance.
    enum class Action {
        queryStop,
        cancelStop,
        stop,
        start,
        queryRemove,
        cancelRemove,
        remove,
        surpriseRemove,
        reenumerate,
        rebalance,
    };
    NTSTATUS act(Action action, const std::string& instance);

    NTSTATUS setSystemPower(SYSTEM_POWER_STATE state);
    SYSTEM_POWER_STATE systemPower() const { return systemPower_; }

    bool setCardPresent(std::size_t card, bool present);
    bool setPortKeepsReference(const std::string& instance, bool keep);

    std::vector<DeviceInfo> devices() const;
    std::optional<DeviceInfo> device(const std::string& instance) const;
    bool crashed() const { return crashed_; }
    std::string crashText() const;

  private:
    using Lock = std::unique_lock<std::recursive_mutex>;

    // --- narration (narration.cpp)
    void emit(const std::string& kind, const std::string& instance, const std::string& text);
    void narrateStart(Node& node);
    void narrateInterface(const kernel::InterfaceInfo& info);
    void notifyClass(const Node& node, ClassEvent::Phase phase);

    // --- requests (manager.cpp)
    PnpReply send(Node& node, UCHAR minor, const std::string& what,
                  const std::function<void(IO_STACK_LOCATION&)>& fill = {});
    Node* find(const std::string& instance) const;
    Node* findByPdo(PDEVICE_OBJECT pdo) const;
    void forEach(const Node& from, const std::function<void(const Node&)>& visit) const;
    void publish(const Node& node); // the node's facts, for the kernel
    void bugCheck(ULONG code, ULONG_PTR p1, ULONG_PTR p2, const std::string& what);
    void setState(Node& node, NodeState state);
    void runInvalidation(PDEVICE_OBJECT pdo);

    // --- enumeration (enumeration.cpp)
    NTSTATUS enumerate(Node& node);
    void addChild(Node& parent, PDEVICE_OBJECT pdo);
    void queryIdentity(Node& node);

    // --- life of a device (lifecycle.cpp)
    PDRIVER_OBJECT loadDriver(const std::string& service);
    void unloadUnusedDrivers();
    void bringUp(Node& node);
    NTSTATUS startStack(Node& node);
    void removeSubtree(Node& node);
    void surpriseSubtree(Node& node);
    void dropChildren(Node& node);
    void dropChild(Node& parent, Node& child);
    NTSTATUS queryRemove(Node& node);
    NTSTATUS cancelRemove(Node& node);
    NTSTATUS queryStop(Node& node);
    NTSTATUS startAgain(Node& node);

    // --- system power (system_power.cpp)
    std::vector<Node*> poweredNodes(bool childrenFirst) const;
    NTSTATUS sendSystemPower(Node& node, UCHAR minor, SYSTEM_POWER_STATE state,
                             POWER_ACTION action);
    Node* nodeOfDevice(PDEVICE_OBJECT device) const; // the node whose stack holds the device
    DevicePowerInfo powerOf(const Node& node) const;

    // --- snapshots (snapshot.cpp)
    DeviceInfo snapshot(const Node& node) const;
    PDEVICE_OBJECT deviceOfDriver(const Node& node, const std::string& service) const;

    kernel::Kernel& kernel_;
    reg::Registry& registry_;
    mutable std::recursive_mutex lock_;

    std::function<void(const Event&)> sink_;
    std::mutex sinkLock_;
    std::vector<std::function<void(const ClassEvent&)>> classHooks_;
    DriverDatabase database_;
    std::map<std::string, PDRIVER_INITIALIZE> entries_; // by upper-cased service name
    std::vector<std::string> loadedServices_;           // in load order
    std::vector<pci::Slot> slots_;
    std::vector<RootChild> rootDevices_;

    std::unique_ptr<Bridge> bridge_;
    std::unique_ptr<Node> root_;
    bool started_ = false;
    bool shutDown_ = false;
    std::atomic<bool> crashed_{false};
    std::atomic<SYSTEM_POWER_STATE> systemPower_{PowerSystemWorking};
    unsigned powerStep_ = 0; // requests so far in the current system power transition
    std::string crashText_;

    // Bus-relations invalidations queued to the kernel's worker threads.
    std::mutex workLock_;
    std::condition_variable workDone_;
    int pendingWork_ = 0;
    bool closing_ = false;
};

} // namespace winsim::pnp
