// The serial port driver of the simulated machine (service "qelser"): a WDM function driver that
// loads on each port device of the card, takes the port interface when the port starts and keeps
// what the interface's configuration function gave it. The C++ functions here let the machine
// and tests look at, and steer, one port driver device.
//
// Like the serial driver of Windows it names its ports: each port driver device is
// "\Device\SerialN" (the lowest N free when the device is added). When the port starts with a
// "PortName" in its "Device Parameters" key, that name (e.g. "COM3") becomes the DOS name of the
// device and the value "\Device\SerialN" = "COM3" is entered in the volatile map
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM. Both go when the port is surprise-removed or removed.
#pragma once

#include <qelmf.h>

#include <optional>
#include <string>

namespace winsim::qelser {

// The driver's entry point, registered for the service "qelser".
extern "C" NTSTATUS NTAPI QelserDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// What one port driver device has received and holds.
struct PortView {
    bool started = false;
    bool holdsInterface = false;       // a port interface reference is held now
    unsigned interfaceQueries = 0;     // successful interface queries so far
    NTSTATUS lastQueryStatus = 0;      // status of the last interface query
    std::optional<PORT_CONFIG> config; // the last configuration received
    bool keepsReference = false;       // the knob below
    // The device state of the port as the last device set-power request that passed set it.
    DEVICE_POWER_STATE devicePower = PowerDeviceD0;
    std::string deviceName; // "\Device\Serial0"
    std::string comName;    // the DOS name the port made at its start; "" while it has none
};

// The map in which serial drivers enter their ports, below HKEY_LOCAL_MACHINE.
inline constexpr const char* serial_comm_key = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The view of a port driver device, or nothing when device is not one of this driver's.
std::optional<PortView> inspect(PDEVICE_OBJECT device);

// When keep is true, the device passes a query-remove down without giving its interface
// reference back first, so that the port device refuses the removal. Returns false when device
// is not one of this driver's.
bool setKeepsReference(PDEVICE_OBJECT device, bool keep);

} // namespace winsim::qelser
