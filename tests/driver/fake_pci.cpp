#include "fake_pci.h"

#include <algorithm>
#include <cstring>

namespace qeltest {

namespace {

FakePci& pciOf(PDEVICE_OBJECT device) {
    return **static_cast<FakePci**>(device->DeviceExtension);
}

NTSTATUS NTAPI dispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    return pciOf(device).pnp(irp, IoGetCurrentIrpStackLocation(irp));
}

NTSTATUS NTAPI dispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    return pciOf(device).power(irp, IoGetCurrentIrpStackLocation(irp));
}

} // namespace

FakePci::FakePci() {
    setConfigWord(0x00040000);
    capabilities.Size = sizeof(DEVICE_CAPABILITIES);
    capabilities.Version = 1;
    capabilities.DeviceState[PowerSystemWorking] = PowerDeviceD0;
    for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s) {
        capabilities.DeviceState[s] = PowerDeviceD3;
    }
    capabilities.SystemWake = PowerSystemSleeping1;
    capabilities.DeviceWake = PowerDeviceD2;
    capabilities.D1Latency = 11;
    capabilities.D2Latency = 22;
    capabilities.D3Latency = 33;
    capabilities.Removable = TRUE;
    capabilities.SurpriseRemovalOK = TRUE;
}

void FakePci::setConfigWord(ULONG word) {
    std::memcpy(&config_[0x2C], &word, sizeof(word));
}

void FakePci::holdPower() {
    std::lock_guard guard(lock_);
    holdPower_ = true;
}

void FakePci::releasePower() {
    std::lock_guard guard(lock_);
    holdPower_ = false;
    changed_.notify_all();
}

void FakePci::waitPowerHeld() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return powerHeld_ > 0; });
}

std::vector<UCHAR> FakePci::pnpMinors() const {
    std::lock_guard guard(lock_);
    return pnpMinors_;
}

std::vector<PowerCall> FakePci::powerCalls() const {
    std::lock_guard guard(lock_);
    return powerCalls_;
}

std::size_t FakePci::countPnp(UCHAR minor) const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count(pnpMinors_.begin(), pnpMinors_.end(), minor));
}

NTSTATUS FakePci::pnp(PIRP irp, PIO_STACK_LOCATION stack) {
    {
        std::lock_guard guard(lock_);
        pnpMinors_.push_back(stack->MinorFunction);
    }
    NTSTATUS status = irp->IoStatus.Status;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = startStatus;
        break;
    case IRP_MN_READ_CONFIG: {
        const auto& rw = stack->Parameters.ReadWriteConfig;
        status = readConfigStatus;
        if (NT_SUCCESS(status)) {
            if (rw.WhichSpace != PCI_WHICHSPACE_CONFIG || rw.Offset + rw.Length > config_.size()) {
                status = STATUS_INVALID_PARAMETER;
            } else {
                std::memcpy(rw.Buffer, &config_[rw.Offset], rw.Length);
                irp->IoStatus.Information = rw.Length;
            }
        }
        break;
    }
    case IRP_MN_QUERY_CAPABILITIES: {
        status = capabilitiesStatus;
        if (NT_SUCCESS(status)) {
            PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
            std::copy(std::begin(capabilities.DeviceState), std::end(capabilities.DeviceState),
                      std::begin(caps->DeviceState));
            caps->SystemWake = capabilities.SystemWake;
            caps->DeviceWake = capabilities.DeviceWake;
            caps->D1Latency = capabilities.D1Latency;
            caps->D2Latency = capabilities.D2Latency;
            caps->D3Latency = capabilities.D3Latency;
            caps->Removable = capabilities.Removable;
            caps->SurpriseRemovalOK = capabilities.SurpriseRemovalOK;
        }
        break;
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    return finish(irp, status);
}

NTSTATUS FakePci::power(PIRP irp, PIO_STACK_LOCATION stack) {
    {
        std::unique_lock guard(lock_);
        powerCalls_.push_back(
            {stack->MinorFunction, stack->Parameters.Power.Type, stack->Parameters.Power.State});
        ++powerHeld_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return !holdPower_; });
        --powerHeld_;
    }
    PoStartNextPowerIrp(irp);
    return finish(irp, STATUS_SUCCESS);
}

NTSTATUS FakePci::finish(PIRP irp, NTSTATUS status) {
    if (completeLater && defer) {
        IoMarkIrpPending(irp);
        defer([irp, status] {
            irp->IoStatus.Status = status;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        });
        return STATUS_PENDING;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

extern "C" NTSTATUS NTAPI FakePciDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    (void)registryPath;
    driver->MajorFunction[IRP_MJ_PNP] = dispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = dispatchPower;
    return STATUS_SUCCESS;
}

PDEVICE_OBJECT createFakePdo(PDRIVER_OBJECT pciDriver, FakePci& pci) {
    PDEVICE_OBJECT pdo = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(pciDriver, sizeof(FakePci*), nullptr, FILE_DEVICE_BUS_EXTENDER,
                                   FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &pdo))) {
        return nullptr;
    }
    *static_cast<FakePci**>(pdo->DeviceExtension) = &pci;
    pdo->Flags |= DO_POWER_PAGABLE;
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return pdo;
}

void deleteFakePdo(PDEVICE_OBJECT pdo) {
    IoDeleteDevice(pdo);
}

} // namespace qeltest
