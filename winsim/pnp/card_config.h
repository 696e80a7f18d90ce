// What one PCI card of the machine is, as the PCI bus driver presents it to Plug and Play.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <optional>
#include <string>

namespace winsim::pnp {

// One PCI card in the machine, as the PCI bus driver double presents it.
struct CardConfig {
    uint32_t configWord = 0x00040000; // the 32-bit word at PCI config offset 0x2C
    std::optional<std::string> location =
        "PCI bus 2, device 13, function 0"; // nullopt: property unreadable
    uint32_t ioBase = 0x300;                // start of the card's first I/O range
    uint32_t irq = 5;                       // raw interrupt level/vector
    // Failure switches and test knobs of the PCI double:
    NTSTATUS startStatus = STATUS_SUCCESS; // what the PCI driver's start returns
    bool failConfigRead = false;           // IRP_MN_READ_CONFIG fails
    bool completeLater = false;            // every request pends and completes on another thread
    bool translatedPortAsMemory = false;   // translated list reports the I/O range as memory
    NTSTATUS queryPowerStatus = STATUS_SUCCESS; // what the PCI driver answers a query-power
};

} // namespace winsim::pnp
