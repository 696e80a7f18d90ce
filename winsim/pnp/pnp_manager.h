// The Plug and Play manager of the simulated Windows: the device tree from "HTREE\ROOT\0" down
// through the PCI root bus and the cards to the port devices their bus driver reports, with the
// requests Windows sends to build, rebalance and tear that tree down.
#pragma once

#include "pnp/card_config.h"
#include "pnp/driver_database.h"
#include "pnp/root_driver.h"

#include <wdm.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim::kernel {
class Kernel;
}
namespace winsim::reg {
class Registry;
}

namespace winsim::pnp {

struct Event {            // narration for `qelsim` (one line each)
    std::string kind;     // e.g. "driver-loaded", "add-device", "irp", "start", "device-created",
                          // "interface", "port-config", "removed", "fatal" ...
    std::string instance; // device instance path or empty
    std::string text;     // human-readable sentence
};

// One power request that a device received during the last system power transition.
struct PowerRequest {
    UCHAR minor = IRP_MN_SET_POWER; // IRP_MN_SET_POWER or IRP_MN_QUERY_POWER
    POWER_STATE_TYPE type = SystemPowerState;
    ULONG state = 0; // a SYSTEM_POWER_STATE or a DEVICE_POWER_STATE, by type
    NTSTATUS status = STATUS_SUCCESS;
    // A device request that a driver of the stack asked for (PoRequestPowerIrp), as opposed to
    // the system requests the power manager sends itself.
    bool fromDriver = false;
    unsigned step = 0; // its place among all the requests of the transition, from 1
};

// A device's power: the states its drivers recorded through PoSetPowerState (the topmost device
// object of the stack that recorded one). A stack in which no driver records system states has
// the system state of the last system set-power request it completed (working after boot).
struct DevicePowerInfo {
    SYSTEM_POWER_STATE system = PowerSystemWorking;
    DEVICE_POWER_STATE device = PowerDeviceUnspecified;
    std::vector<PowerRequest> requests; // of the last system power transition, in order
};

struct DeviceInfo {                    // a snapshot of one device node, for `devices` and tests
    std::string instance;              // device instance path
    std::optional<std::string> parent; // parent's instance path, nullopt for the root
    std::string service;               // "" when none
    std::string state;                 // "started", "stopped", "stop-pending", "remove-pending",
                                       // "surprise-removed", "removed", "not-started", "failed"
    NTSTATUS status = 0;               // last start status
    std::string deviceId, instanceId, description, location;
    std::vector<std::string> hardwareIds, compatibleIds;
    std::optional<DEVICE_CAPABILITIES> capabilities; // as the bus driver answered
    std::optional<PNP_BUS_INFORMATION> busInformation;
    std::optional<long> interfaceRefs; // port devices: the port interface references now held
    // Port devices: the PORT_CONFIG fields by name ("RawPortBase", "TrInterruptVector", ...), as
    // the port driver received them.
    std::optional<std::map<std::string, uint64_t>> portConfig;
    std::vector<std::string> childInstances;
    DevicePowerInfo power;
};

// Told when a device of a setup class has been installed (first seen) or has started; the place
// where a class installer (the Ports class installer, for instance) plugs in. Called on the Plug
// and Play thread, after the device's registry keys are written.
struct ClassEvent {
    enum class Phase { installed, started };
    Phase phase = Phase::installed;
    std::string className; // "Ports"
    std::string classGuid; // "{4D36E978-E325-11CE-BFC1-08002BE10318}"
    std::string instance;
};

class PnpManager {
  public:
    PnpManager(kernel::Kernel& kernel, reg::Registry& registry);
    ~PnpManager(); // shuts down if still running
    PnpManager(const PnpManager&) = delete;
    PnpManager& operator=(const PnpManager&) = delete;

    void setEventSink(std::function<void(const Event&)> sink);
    void addCard(const CardConfig& card); // before start(): a card in the next free PCI slot

    // More set-up before start(): a driver entry point for a service (the built-in ones are
    // "pci", "qelmf" and "qelser"), a driver package for a hardware ID, a device that the root
    // enumerator reports besides the PCI root bus, and a class hook.
    void registerDriver(const std::string& service, PDRIVER_INITIALIZE entry);
    void addDriverPackage(const DriverPackage& package);
    void addRootDevice(const RootChild& device);
    void addClassHook(std::function<void(const ClassEvent&)> hook);
    NTSTATUS start(); // boot: root, PCI bus, cards, their children ... all started

    // One Plug and Play action on a device, as Windows would send it (children first where
    // Windows does). Returns the status of the request (a veto is a failure status). Unknown
    // instance -> STATUS_NO_SUCH_DEVICE; after a fatal error or before start() every action
    // fails with STATUS_INVALID_DEVICE_STATE and sends nothing.
    //
    // queryRemove queries the device's subtree, children first; cancelRemove undoes it, parents
    // first. remove sends the removal to the subtree, children first; surpriseRemove sends the
    // surprise removal to the subtree first. A removed device whose bus still reports it stays
    // in the tree as "removed" until its bus's next bus-relations query finds it again (it is
    // then started anew) or stops reporting it (it is then gone). startDevice starts a stopped,
    // failed or removed device again.
    NTSTATUS queryStop(const std::string& instance);
    NTSTATUS cancelStop(const std::string& instance);
    NTSTATUS stop(const std::string& instance);
    NTSTATUS startDevice(const std::string& instance);
    NTSTATUS queryRemove(const std::string& instance);
    NTSTATUS cancelRemove(const std::string& instance);
    NTSTATUS remove(const std::string& instance);
    NTSTATUS surpriseRemove(const std::string& instance);
    NTSTATUS reenumerate(const std::string& instance); // bus-relations query and its consequences
    // Query-stop, stop and start again with the device's resources (a refused query-stop is
    // cancelled and its status returned).
    NTSTATUS rebalance(const std::string& instance);

    // Plugs the card added n-th (from 0) in or pulls it out. The PCI bus reports the change at
    // its next bus-relations query (reenumerate("ACPI\\PNP0A03\\0")). False for no such card.
    bool setCardPresent(std::size_t card, bool present);
    // The port driver of a port device keeps its interface reference across a query-remove, so
    // that the port device vetoes the removal. False when the device runs no port driver.
    bool setPortKeepsReference(const std::string& instance, bool keep);

    // A system power transition over the whole device tree: PowerSystemSleeping1..3,
    // PowerSystemHibernate or PowerSystemShutdown puts the machine to sleep (or down),
    // PowerSystemWorking wakes it. Going down, every device first gets a query-power (children
    // before parents), then a set-power (children before parents); waking, only a set-power
    // (parents before children). Each request goes to the top of the device's stack and is waited
    // for, with the device requests its drivers asked for, before the next device. A refused
    // query ends the transition: every device queried so far gets a set-power to the working
    // state (parents first), and the refusal's status is returned.
    //
    // STATUS_INVALID_PARAMETER for an unknown state; STATUS_INVALID_DEVICE_STATE before start(),
    // after a fatal error, or for a sleep while the machine is not working. A wake while working
    // sends nothing. While the machine is not working, the Plug and Play actions above fail with
    // STATUS_INVALID_DEVICE_STATE.
    NTSTATUS setSystemPower(SYSTEM_POWER_STATE state);
    SYSTEM_POWER_STATE systemPower() const; // the machine's state: PowerSystemWorking after boot

    std::vector<DeviceInfo> devices() const; // tree order (parents before children)
    std::optional<DeviceInfo> device(const std::string& instance) const;
    bool crashed() const; // a fatal error (bug check) happened
    // "STOP 0x000000CA (0x00000001, ...) PNP_DETECTED_FATAL_ERROR: duplicate PDO: ..."
    std::string crashText() const;
    void shutdown(); // remove every device (children first), unload drivers

  private:
    std::unique_ptr<class Manager> impl_;
};

// "STATUS_SUCCESS" etc. for the statuses used in this project, else "0x%08X".
std::string statusName(NTSTATUS status);

// "PowerSystemSleeping3", "PowerDeviceD3", "IRP_MN_SET_POWER" (else a number).
std::string systemPowerName(SYSTEM_POWER_STATE state);
std::string devicePowerName(DEVICE_POWER_STATE state);
std::string powerMinorName(UCHAR minor);
// The state of a request by its type: "PowerSystemSleeping3" or "PowerDeviceD3".
std::string powerStateName(POWER_STATE_TYPE type, ULONG state);

} // namespace winsim::pnp
