// Power requests to a card's physical device object. The PCI driver is the bottom of the card's
// stack: it reports the device states it is set to, answers query-power as the card's
// configuration says, and completes every request (now, or later on another thread for a card
// that completes later).
#include "pci/pci_internal.h"

#include <condition_variable>
#include <mutex>

namespace winsim::pci {

namespace {

struct PowerGate {
    std::mutex lock;
    std::condition_variable changed;
    bool hold = false;
    std::size_t held = 0;
};

PowerGate& gate() {
    static PowerGate g;
    return g;
}

} // namespace

void holdPower(bool hold) {
    PowerGate& g = gate();
    {
        const std::lock_guard guard(g.lock);
        g.hold = hold;
    }
    g.changed.notify_all();
}

bool waitPowerHeld(std::size_t n, std::chrono::milliseconds limit) {
    PowerGate& g = gate();
    std::unique_lock lock(g.lock);
    return g.changed.wait_for(lock, limit, [&] { return g.held >= n; });
}

std::size_t powerHeld() {
    PowerGate& g = gate();
    const std::lock_guard guard(g.lock);
    return g.held;
}

void passPowerGate() {
    PowerGate& g = gate();
    std::unique_lock lock(g.lock);
    if (!g.hold) {
        return;
    }
    ++g.held;
    g.changed.notify_all();
    g.changed.wait(lock, [&] { return !g.hold; });
    --g.held;
    g.changed.notify_all();
}

NTSTATUS cardPower(PDEVICE_OBJECT device, PIRP irp) {
    auto* card = static_cast<CardExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const Slot slot = slotAt(card->slot).value_or(Slot{});
    passPowerGate();

    NTSTATUS status = irp->IoStatus.Status;
    switch (stack->MinorFunction) {
    case IRP_MN_SET_POWER:
        if (stack->Parameters.Power.Type == DevicePowerState) {
            PoSetPowerState(device, DevicePowerState, stack->Parameters.Power.State);
        }
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_QUERY_POWER:
        status = slot.card.queryPowerStatus;
        break;
    default: // wait-wake, power sequence: the card supports neither
        break;
    }
    PoStartNextPowerIrp(irp);
    irp->IoStatus.Status = status;
    return finishRequest(irp, slot.card.completeLater);
}

} // namespace winsim::pci
