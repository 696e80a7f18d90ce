// The machine's side of the PCI bus: which card sits in which slot, and what its configuration
// space holds.
#include "pci/pci_internal.h"

#include <mutex>

namespace winsim::pci {

const GUID busTypeGuid = {
    0xC8EBDFB0, 0xB510, 0x11D0, {0x80, 0xE5, 0x00, 0xA0, 0xC9, 0x25, 0x42, 0xE3}};

namespace {

std::mutex& slotLock() {
    static std::mutex lock;
    return lock;
}

std::vector<Slot>& slotTable() {
    static std::vector<Slot> slots;
    return slots;
}

void put16(std::vector<std::uint8_t>& space, std::size_t at, std::uint32_t value) {
    space[at] = static_cast<std::uint8_t>(value);
    space[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& space, std::size_t at, std::uint32_t value) {
    put16(space, at, value & 0xFFFF);
    put16(space, at + 2, value >> 16);
}

} // namespace

void installSlots(std::vector<Slot> slots) {
    std::lock_guard guard(slotLock());
    slotTable() = std::move(slots);
}

void clearSlots() {
    std::lock_guard guard(slotLock());
    slotTable().clear();
}

bool setPresent(std::size_t slot, bool present) {
    std::lock_guard guard(slotLock());
    if (slot >= slotTable().size()) {
        return false;
    }
    slotTable()[slot].present = present;
    return true;
}

std::optional<Slot> slotAt(std::size_t slot) {
    std::lock_guard guard(slotLock());
    if (slot >= slotTable().size()) {
        return std::nullopt;
    }
    return slotTable()[slot];
}

std::size_t slotCount() {
    std::lock_guard guard(slotLock());
    return slotTable().size();
}

std::vector<std::uint8_t> configSpace(const pnp::CardConfig& card) {
    std::vector<std::uint8_t> space(256, 0);
    put16(space, 0x00, 0x5145);           // vendor
    put16(space, 0x02, 0x4C01);           // device
    put16(space, 0x04, 0x0001);           // command: I/O space enabled
    space[0x08] = 0x01;                   // revision
    space[0x09] = 0x02;                   // programming interface: 16550-compatible
    space[0x0A] = 0x00;                   // subclass: serial controller
    space[0x0B] = 0x07;                   // base class: communication controller
    put32(space, 0x10, card.ioBase | 1u); // BAR0: I/O space
    put32(space, 0x2C, card.configWord);  // subsystem vendor and subsystem ID
    space[0x3C] = static_cast<std::uint8_t>(card.irq);
    space[0x3D] = 0x01; // interrupt pin INTA#
    return space;
}

} // namespace winsim::pci
