#include "scripted_driver.h"

#include <mutex>

namespace kt {

using winsim::kernel::Kernel;

namespace {

std::mutex scriptsLock;
std::map<PDRIVER_OBJECT, DriverScript*> scripts;
DriverScript* pending = nullptr;

DriverScript& scriptOf(PDRIVER_OBJECT driver) {
    const std::lock_guard guard(scriptsLock);
    return *scripts.at(driver);
}

NTSTATUS NTAPI dispatchTrampoline(PDEVICE_OBJECT device, PIRP irp) {
    DriverScript& s = scriptOf(device->DriverObject);
    return s.dispatch.at(IoGetCurrentIrpStackLocation(irp)->MajorFunction)(device, irp);
}

NTSTATUS NTAPI addDeviceTrampoline(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    return scriptOf(driver).addDevice(driver, pdo);
}

VOID NTAPI unloadTrampoline(PDRIVER_OBJECT driver) {
    scriptOf(driver).unload(driver);
}

NTSTATUS NTAPI entryTrampoline(PDRIVER_OBJECT driver, PUNICODE_STRING path) {
    DriverScript* s;
    {
        const std::lock_guard guard(scriptsLock);
        s = pending;
        scripts[driver] = s;
    }
    for (const auto& [major, routine] : s->dispatch) {
        driver->MajorFunction[major] = dispatchTrampoline;
    }
    if (s->addDevice) {
        driver->DriverExtension->AddDevice = addDeviceTrampoline;
    }
    if (s->unload) {
        driver->DriverUnload = unloadTrampoline;
    }
    return s->entry ? s->entry(driver, path) : STATUS_SUCCESS;
}

} // namespace

NTSTATUS loadScripted(Kernel& kernel, const std::string& service, DriverScript& script,
                      PDRIVER_OBJECT* driver) {
    {
        const std::lock_guard guard(scriptsLock);
        pending = &script;
    }
    return kernel.loadDriver(service, entryTrampoline, driver);
}

void forgetScripts() {
    const std::lock_guard guard(scriptsLock);
    scripts.clear();
    pending = nullptr;
}

NTSTATUS completeWith(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS passDown(PDEVICE_OBJECT lower, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

PDRIVER_OBJECT KernelTest::load(DriverScript& script, const std::string& service) {
    PDRIVER_OBJECT driver = nullptr;
    const std::string name = service.empty() ? "drv" + std::to_string(++serviceCounter) : service;
    EXPECT_EQ(loadScripted(kernel, name, script, &driver), STATUS_SUCCESS);
    drivers.push_back(driver);
    return driver;
}

PDEVICE_OBJECT KernelTest::newDevice(PDRIVER_OBJECT driver, ULONG extensionSize) {
    PDEVICE_OBJECT device = nullptr;
    EXPECT_EQ(
        IoCreateDevice(driver, extensionSize, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device),
        STATUS_SUCCESS);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    devices.push_back(device);
    return device;
}

std::vector<PDEVICE_OBJECT> KernelTest::stack(std::vector<DriverScript*> scripts) {
    std::vector<PDEVICE_OBJECT> out;
    for (DriverScript* s : scripts) {
        PDEVICE_OBJECT device = newDevice(load(*s));
        if (!out.empty()) {
            EXPECT_EQ(IoAttachDeviceToDeviceStack(device, out.back()), out.back());
        }
        out.push_back(device);
    }
    return out;
}

void KernelTest::dismantle() {
    kernel.work().drain();
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        const auto info = kernel.objects().device(*it);
        if (!info || info->deleted) {
            continue;
        }
        if (info->attachedTo != nullptr) {
            IoDetachDevice(info->attachedTo);
        }
        IoDeleteDevice(*it);
    }
    devices.clear();
    for (PDRIVER_OBJECT d : drivers) {
        if (kernel.objects().driverRecord(d) != nullptr &&
            kernel.objects().driverRecord(d)->loaded) {
            kernel.unloadDriver(d);
        }
    }
    drivers.clear();
}

void KernelTest::TearDown() {
    dismantle();
    kernel.shutdown();
    if (!expectViolations) {
        EXPECT_TRUE(kernel.verifier().clean()) << kernel.verifier().summary();
    }
    forgetScripts();
}

} // namespace kt
