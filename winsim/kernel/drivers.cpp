// Loading and unloading drivers, and calling AddDevice for the PnP manager.
#include "kernel/call_frames.h"
#include "kernel/kernel.h"
#include "kernel/wide.h"

#include <algorithm>

namespace winsim::kernel {

namespace {

const std::string servicesPath = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";

} // namespace

NTSTATUS Kernel::loadDriver(std::string_view service, PDRIVER_INITIALIZE entry,
                            PDRIVER_OBJECT* driverOut) {
    DriverRecord* d = objects_.createDriver(service);
    if (d == nullptr) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    for (auto& routine : d->object.MajorFunction) {
        routine = defaultDispatch;
    }
    d->object.DriverInit = entry;

    NTSTATUS status;
    {
        // The path lives only during the call, as on Windows: a driver must copy it.
        std::vector<WCHAR> pathText = widen(servicesPath + std::string(service));
        UNICODE_STRING path;
        viewAsUnicode(pathText, path);
        const DriverCall frame(d, "DriverEntry");
        status = entry(&d->object, &path);
    }
    if (!NT_SUCCESS(status)) {
        const std::string context = "failed DriverEntry of " + d->name;
        std::size_t left = objects_.reportLeaks(d, context);
        left += pool_.reportLeaks(d, false, context);
        left += handles_.reportLeaks(d, false, context);
        if (left == 0) {
            objects_.destroyDriver(d);
        }
        return status;
    }
    d->loaded = true;
    if (driverOut != nullptr) {
        *driverOut = &d->object;
    }
    return status;
}

NTSTATUS Kernel::unloadDriver(PDRIVER_OBJECT driver) {
    DriverRecord* d = objects_.driverRecord(driver);
    if (d == nullptr || !d->loaded) {
        verifier_.report(Check::InvalidCall, "unloadDriver of a driver object that is not loaded");
        return STATUS_INVALID_PARAMETER;
    }
    if (driver->DeviceObject != nullptr) {
        verifier_.report(Check::UnloadWithDevices,
                         "unload of " + d->name + " while it still has device objects");
        return STATUS_UNSUCCESSFUL;
    }
    if (driver->DriverUnload != nullptr) {
        const DriverCall frame(d, "DriverUnload");
        driver->DriverUnload(driver);
    }
    d->loaded = false;
    const std::string context = "unload of " + d->name;
    std::size_t left = objects_.reportLeaks(d, context);
    left += pool_.reportLeaks(d, false, context);
    left += handles_.reportLeaks(d, false, context);
    if (left == 0) {
        objects_.destroyDriver(d);
    }
    return STATUS_SUCCESS;
}

PDRIVER_OBJECT Kernel::driver(std::string_view service) const {
    DriverRecord* d = objects_.findDriver(service);
    return d == nullptr ? nullptr : &d->object;
}

NTSTATUS Kernel::addDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    DriverRecord* d = objects_.driverRecord(driver);
    if (d == nullptr || !d->loaded || driver->DriverExtension->AddDevice == nullptr) {
        verifier_.report(Check::InvalidCall,
                         "addDevice for a driver that is not loaded or has no AddDevice routine");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const std::vector<PDEVICE_OBJECT> before = objects_.devicesOf(d);
    NTSTATUS status;
    {
        const DriverCall frame(d, "AddDevice");
        status = driver->DriverExtension->AddDevice(driver, pdo);
    }
    if (NT_SUCCESS(status)) {
        for (PDEVICE_OBJECT device : objects_.devicesOf(d)) {
            const auto info = objects_.device(device);
            if (std::find(before.begin(), before.end(), device) == before.end() && info &&
                !info->deleted && (device->Flags & DO_DEVICE_INITIALIZING) != 0) {
                verifier_.report(Check::DeviceStillInitializing,
                                 "AddDevice of " + d->name +
                                     " returned with DO_DEVICE_INITIALIZING still set on a new "
                                     "device object");
            }
        }
    }
    return status;
}

} // namespace winsim::kernel
