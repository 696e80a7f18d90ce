// Tiny drivers for the kernel's tests: each routine is a std::function, set per test.
#pragma once

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kt {

using Dispatch = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;

struct DriverScript {
    std::function<NTSTATUS(PDRIVER_OBJECT, PUNICODE_STRING)> entry; // default: success
    std::map<UCHAR, Dispatch> dispatch;                             // by major function
    std::function<NTSTATUS(PDRIVER_OBJECT, PDEVICE_OBJECT)> addDevice;
    std::function<void(PDRIVER_OBJECT)> unload = [](PDRIVER_OBJECT) {};
};

// Loads a driver that runs the script (which must outlive the driver).
NTSTATUS loadScripted(winsim::kernel::Kernel& kernel, const std::string& service,
                      DriverScript& script, PDRIVER_OBJECT* driver);
void forgetScripts();

// Common dispatch routines.
NTSTATUS completeWith(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);
NTSTATUS passDown(PDEVICE_OBJECT lower, PIRP irp); // skip the location and call `lower`

// A kernel with quiet violations; TearDown removes what the test left (top devices first),
// unloads the drivers, shuts down and expects a clean verifier unless told otherwise.
class KernelTest : public ::testing::Test {
  protected:
    static winsim::kernel::KernelOptions quiet() {
        winsim::kernel::KernelOptions o;
        o.printViolations = false;
        return o;
    }

    void TearDown() override;

    // A script that lives as long as the test's drivers.
    DriverScript& script() { return scripts.emplace_back(); }
    PDRIVER_OBJECT load(DriverScript& script, const std::string& service = "");
    PDEVICE_OBJECT newDevice(PDRIVER_OBJECT driver, ULONG extensionSize = 0);
    // Creates one device per script, bottom first, each attached on the previous one; returns
    // them bottom first.
    std::vector<PDEVICE_OBJECT> stack(std::vector<DriverScript*> scripts);
    // Deletes every device this test created that still exists, then unloads every driver.
    void dismantle();
    std::size_t violations(winsim::kernel::Check check) { return kernel.verifier().count(check); }

    std::deque<DriverScript> scripts;
    winsim::kernel::Kernel kernel{quiet()};
    bool expectViolations = false;
    std::vector<PDEVICE_OBJECT> devices;
    std::vector<PDRIVER_OBJECT> drivers;
    int serviceCounter = 0;
};

} // namespace kt
