// The kernel's verifier: a record of every rule a driver (or the kernel's other clients) broke.
// Each violation has a check code and a text for a person. Tests assert that a correct driver
// leaves the record empty and that a faulty one leaves the expected codes in it.
//
// Violations are printed to stderr as they are recorded (unless turned off). A fatal violation
// (a state the simulation cannot go on from, like running out of stack locations or a deadlock)
// is recorded, printed and then aborts the process.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::kernel {

enum class Check {
    // I/O requests
    IrpCompletedTwice,    // IofCompleteRequest on a request that is already complete
    IrpCompletedPending,  // IoStatus.Status was STATUS_PENDING at completion
    PendingNotMarked,     // a dispatch routine returned STATUS_PENDING without IoMarkIrpPending
    PendingNotPropagated, // a completion routine saw PendingReturned and did not mark its location
    IrpNotCompleted,      // a request came back without STATUS_PENDING but was never completed
    IrpToDeletedDevice,   // a request sent to a deleted device object
    IrpFreedInUse,        // IoFreeIrp on a request that a driver still holds
    NoMoreStackLocations, // fatal: a request went below its last stack location
    IrpLeak,              // requests still allocated at shutdown
    // Device and driver objects
    DeleteDeviceTwice,
    DeleteAttachedDevice,    // IoDeleteDevice while another device is attached on top
    DeleteWithoutDetach,     // IoDeleteDevice on a device still attached to a lower one
    DeviceStillInitializing, // AddDevice returned with DO_DEVICE_INITIALIZING still set
    DeviceLeak,              // a device object never deleted
    ReferenceLeak,           // a deleted device object still referenced
    UnloadWithDevices,       // unloadDriver while the driver still has device objects
    UnknownObject,           // a pointer that is no live object of the kind expected
    // Pool
    PoolDoubleFree,
    PoolUnknownFree,
    PoolTagMismatch,
    PoolLeak,
    // Handles
    InvalidHandle,
    HandleLeak,
    // Synchronisation
    MutexNotOwner,     // a fast mutex released by a thread that does not own it
    MutexRecursive,    // a fast mutex acquired again by its owner (would deadlock)
    MutexHeldOnReturn, // a driver routine returned with a fast mutex held
    Deadlock,          // fatal: a wait without timeout lasted longer than the watchdog limit
    // Everything else
    WrongIrql,
    InvalidCall, // a call with arguments that Windows would reject or crash on
    BugCheck,    // fatal: KeBugCheckEx
};

std::string_view to_string(Check check);

struct Violation {
    Check check;
    std::string text;
};

class Verifier {
  public:
    // Records a violation (and prints it, if printing is on).
    void report(Check check, std::string text);
    // Records, prints and aborts the process.
    [[noreturn]] void fatal(Check check, std::string text);

    std::vector<Violation> violations() const;
    std::size_t count(Check check) const;
    std::size_t total() const;
    bool clean() const { return total() == 0; }
    // All violations, one per line ("Check: text"); empty when clean.
    std::string summary() const;
    void clear();

    void setPrint(bool print);

  private:
    mutable std::mutex lock_;
    std::vector<Violation> violations_;
    bool print_ = true;
};

} // namespace winsim::kernel
