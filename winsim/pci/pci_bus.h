// The PCI bus driver of the simulated machine (service "pci"): a WDM driver whose bus device sits
// on the PCI root bus "ACPI\PNP0A03\0" and reports one physical device object per card in the
// slot table below. Plug and Play talks to it only through IRPs; the C++ functions here are the
// machine's side: what is plugged in, and where.
#pragma once

#include "pnp/card_config.h"

#include <wdm.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace winsim::pci {

// One card in its PCI slot.
struct Slot {
    pnp::CardConfig card;
    std::uint32_t bus = 2;
    std::uint32_t device = 13;  // 0..31
    std::uint32_t function = 0; // 0..7
    bool present = true;        // false: the card has been pulled out
};

// Bus type GUID that the card devices report: {C8EBDFB0-B510-11D0-80E5-00A0C92542E3}.
extern const GUID busTypeGuid;

// The driver's entry point, registered for the service "pci".
extern "C" NTSTATUS NTAPI PciDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// Puts the machine's cards into the slots. Call before the driver's bus device is started;
// one machine's bus at a time in a process.
void installSlots(std::vector<Slot> slots);
// Empties the slot table again (after the driver is gone).
void clearSlots();
// Plugs a card in or pulls it out; the next bus-relations query reports the change.
bool setPresent(std::size_t slot, bool present);

// The slot behind a card's physical device object, or nothing for any other device object.
std::optional<Slot> slotOfDevice(PDEVICE_OBJECT pdo);

// A test knob: while held, every power request that reaches a card's device waits inside the
// PCI driver, on the thread that sent it, until holdPower(false) lets them all go on. It keeps a
// request inside the handlers of the drivers above for as long as a test needs.
void holdPower(bool hold);
// Waits until at least n power requests are held; false when that does not happen in `limit`.
bool waitPowerHeld(std::size_t n, std::chrono::milliseconds limit);
std::size_t powerHeld();

// The card's PCI configuration space: 256 bytes, the port-count word at 0x2C.
std::vector<std::uint8_t> configSpace(const pnp::CardConfig& card);

} // namespace winsim::pci
