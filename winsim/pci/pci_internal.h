// Inside the PCI bus driver: the device extensions and the routines the driver's files share.
#pragma once

#include "pci/pci_bus.h"

#include <wdm.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>
#include <vector>

namespace winsim::pci {

// Pool tag of the driver's allocations ("PciS").
inline constexpr ULONG poolTag = 'S' << 24 | 'i' << 16 | 'c' << 8 | 'P';

enum class DeviceKind : ULONG { bus = 0x42757346, card = 0x43617264 };

// The most cards the bus holds.
inline constexpr std::size_t maxSlots = 32;

// The extensions hold nothing that needs destroying: after a fatal error the kernel frees the
// device objects as they are.

enum class PdoState { notStarted, started, stopPending, stopped, removePending, surpriseRemoved };

// Extension of the bus device (the function device on the PCI root bus's physical device).
struct BusExtension {
    DeviceKind kind = DeviceKind::bus;
    PDEVICE_OBJECT self = nullptr;
    PDEVICE_OBJECT lower = nullptr;
    // Physical device object of slot i, or NULL where none exists.
    PDEVICE_OBJECT cards[maxSlots] = {};
};

// Extension of a card's physical device object.
struct CardExtension {
    DeviceKind kind = DeviceKind::card;
    PDEVICE_OBJECT self = nullptr;
    BusExtension* bus = nullptr;
    std::size_t slot = 0;
    PdoState state = PdoState::notStarted;
    // Removed while its card was out: the device object goes once nothing sits on it any more
    // (the next bus-relations query, or the bus device's removal).
    bool removedWhileOut = false;
};

static_assert(std::is_trivially_destructible_v<BusExtension>);
static_assert(std::is_trivially_destructible_v<CardExtension>);

inline DeviceKind kindOf(PDEVICE_OBJECT device) {
    return *static_cast<DeviceKind*>(device->DeviceExtension);
}

// The slot table, read under its lock.
std::optional<Slot> slotAt(std::size_t slot);
std::size_t slotCount();

NTSTATUS busPnp(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS cardPnp(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS cardPower(PDEVICE_OBJECT device, PIRP irp);
// Waits while power requests are held (holdPower).
void passPowerGate();
NTSTATUS createCardDevice(BusExtension* bus, std::size_t slot);
// Destroys a card device's extension and deletes the device object.
void deleteCardDevice(PDEVICE_OBJECT device);
// Deletes the devices of cards that were removed while out of their slot.
void purgeRemovedCards(BusExtension* bus);

// Completes the request with the status in IoStatus, now or, for a card that completes later,
// from a worker thread (the request is then marked pending and STATUS_PENDING returned).
NTSTATUS finishRequest(PIRP irp, bool later);

// Runs work on a kernel worker thread.
void runOnWorker(std::function<void()> work);

} // namespace winsim::pci
