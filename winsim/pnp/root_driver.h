// The root enumerator: the driver of the root device "HTREE\ROOT\0", which reports the devices
// that no bus below it finds, the PCI root bus "ACPI\PNP0A03\0" first. It is a WDM driver like
// any other; the Plug and Play manager creates its root device at boot.
#pragma once

#include <wdm.h>

#include <string>
#include <vector>

namespace winsim::pnp {

// A device the root enumerator reports.
struct RootChild {
    std::string deviceId;   // "ACPI\PNP0A03"
    std::string instanceId; // "0"
    std::vector<std::string> hardwareIds;
    std::vector<std::string> compatibleIds;
    std::string description;
    bool uniqueId = true;
};

// The PCI root bus.
RootChild pciRootBus();

extern "C" NTSTATUS NTAPI RootDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// The most devices the root enumerator reports.
inline constexpr std::size_t maxRootChildren = 16;

// Creates the root device, which will report these children (the first maxRootChildren). The
// list must outlive the root device.
NTSTATUS createRootDevice(PDRIVER_OBJECT driver, const std::vector<RootChild>& children,
                          PDEVICE_OBJECT* root);
// Deletes the root device and the children's device objects it still holds.
void deleteRootDevice(PDEVICE_OBJECT root);

} // namespace winsim::pnp
