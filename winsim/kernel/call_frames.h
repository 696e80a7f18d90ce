// What runs on the current thread: the driver routines that the kernel has entered (DriverEntry,
// AddDevice, dispatch and completion routines, DriverUnload, work items), innermost last, and the
// fast mutexes the thread holds.
//
// The innermost driver owns what the thread allocates from pool and the handles it opens, so that
// unloading a driver can tell what it left behind. A routine that returns holding more fast
// mutexes than it was entered with is a verifier violation.
#pragma once

#include "wdm.h"

#include <cstddef>
#include <string>

namespace winsim::kernel {

struct DriverRecord;

// Entered around every call into a driver routine. `what` names the routine for messages
// ("dispatch routine", "completion routine", "AddDevice", ...); `major` is the request's major
// function for dispatch routines, -1 otherwise.
class DriverCall {
  public:
    DriverCall(DriverRecord* driver, const char* what, int major = -1);
    ~DriverCall();
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;

  private:
    DriverRecord* driver_;
    const char* what_;
    int major_;
    std::size_t held_;
};

// The innermost driver routine on this thread, or nullptr (the kernel, a test, the PnP manager).
DriverRecord* currentDriver();

// Fast mutexes held by this thread (the dispatcher keeps this up to date).
void noteMutexAcquired(PFAST_MUTEX mutex);
void noteMutexReleased(PFAST_MUTEX mutex);
std::size_t heldMutexCount();

// Text naming a routine, e.g. "dispatch routine (IRP_MJ_PNP) of \Driver\qelmf".
std::string describeCall(DriverRecord* driver, const char* what, int major);
const char* majorName(int major);

} // namespace winsim::kernel
