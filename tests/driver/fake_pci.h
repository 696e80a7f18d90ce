// The PCI driver below the card device, reduced to what the card's driver asks of it: a WDM
// driver of the test's own whose physical device objects answer the start request, the
// configuration-space read, the capabilities query and power requests, and record what reached
// them. Each PDO carries a FakePci that the test owns and configures.
#pragma once

#include <wdm.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace qeltest {

struct PowerCall {
    UCHAR minor = 0;
    POWER_STATE_TYPE type = SystemPowerState;
    POWER_STATE state{};
};

class FakePci {
  public:
    FakePci();

    // Configuration space; the port-count word lies at 0x2C.
    void setConfigWord(ULONG word);

    // How the PCI driver answers.
    NTSTATUS startStatus = STATUS_SUCCESS;
    NTSTATUS readConfigStatus = STATUS_SUCCESS;
    NTSTATUS capabilitiesStatus = STATUS_SUCCESS;
    DEVICE_CAPABILITIES capabilities{}; // what it fills into a capabilities query
    // Every request pends and is completed later on another thread.
    bool completeLater = false;
    // Runs a completion later; set by the fixture (the kernel's work queue).
    std::function<void(std::function<void()>)> defer;

    // Holds every power request inside the PCI driver until releasePower().
    void holdPower();
    void releasePower();
    void waitPowerHeld(); // until a held power request has arrived

    // What reached the PCI driver.
    std::vector<UCHAR> pnpMinors() const;
    std::vector<PowerCall> powerCalls() const;
    std::size_t countPnp(UCHAR minor) const;

    // Called by the driver's dispatch routines.
    NTSTATUS pnp(PIRP irp, PIO_STACK_LOCATION stack);
    NTSTATUS power(PIRP irp, PIO_STACK_LOCATION stack);

  private:
    NTSTATUS finish(PIRP irp, NTSTATUS status);

    std::array<std::uint8_t, 256> config_{};
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<UCHAR> pnpMinors_;
    std::vector<PowerCall> powerCalls_;
    bool holdPower_ = false;
    int powerHeld_ = 0;
};

// The test PCI driver's entry point.
extern "C" NTSTATUS NTAPI FakePciDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// A physical device object of the test PCI driver for one card; deleted with deleteFakePdo.
PDEVICE_OBJECT createFakePdo(PDRIVER_OBJECT pciDriver, FakePci& pci);
void deleteFakePdo(PDEVICE_OBJECT pdo);

} // namespace qeltest
