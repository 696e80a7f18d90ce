// I/O request packets: allocation with Windows' stack-location layout, IofCallDriver,
// IofCompleteRequest and the stack-location routines, with the verifier's request checks.
//
// Layout: the stack locations follow the IRP in one block; location k (1-based) is the kth.
// A new IRP has CurrentLocation = StackCount + 1; IofCallDriver moves down one location,
// completion walks back up. An IRP's memory stays while any IofCallDriver or IofCompleteRequest
// frame on it is still running, even after it has been freed, so that the checks that run when
// such a frame returns (and a second completion) are safe.
#pragma once

#include "wdm.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <condition_variable>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace winsim::kernel {

class Verifier;
class ObjectManager;
class Dispatcher;

enum class IrpState {
    Idle,       // allocated, not sent yet
    InDriver,   // sent; a driver owns it
    Completing, // IofCompleteRequest is walking up its stack locations
    Reclaimed,  // a completion routine returned STATUS_MORE_PROCESSING_REQUIRED
    Completed,  // the walk reached the top
};

// The routine that a driver object's MajorFunction entries start with: completes the request
// with STATUS_INVALID_DEVICE_REQUEST.
NTSTATUS NTAPI defaultDispatch(PDEVICE_OBJECT device, PIRP irp);

class IrpManager {
  public:
    IrpManager(Verifier& verifier, ObjectManager& objects, Dispatcher& dispatcher);
    ~IrpManager(); // releases every IRP left
    IrpManager(const IrpManager&) = delete;
    IrpManager& operator=(const IrpManager&) = delete;

    PIRP allocate(CCHAR stackSize); // no failure injection here
    void free(PIRP irp);            // IoFreeIrp
    NTSTATUS call(PDEVICE_OBJECT device, PIRP irp);
    void complete(PIRP irp);

    PIO_STACK_LOCATION next(PIRP irp);
    void skip(PIRP irp);
    void copyToNext(PIRP irp);
    void setCompletion(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, bool onSuccess,
                       bool onError, bool onCancel);
    void markPending(PIRP irp);

    // For the kernel's own requests: the I/O manager frees the IRP when it reaches the top
    // (IoBuildSynchronousFsdRequest); `onTop` runs when the completion reaches the top.
    void setIoManagerOwned(PIRP irp);
    void setOnTop(PIRP irp, std::function<void(PIRP)> onTop);

    // Queries, for live IRPs (nullopt otherwise).
    bool isLive(PIRP irp) const;
    std::optional<IrpState> state(PIRP irp) const;
    std::optional<unsigned> completionCount(PIRP irp) const; // IofCompleteRequest calls
    void noteStartNextPowerIrp(PIRP irp);
    std::optional<unsigned> startNextPowerIrpCount(PIRP irp) const;
    std::size_t liveIrps() const;
    std::uint64_t totalAllocated() const;

    std::size_t reportLeaks(const std::string& context) const;

  private:
    struct Record {
        PIRP irp = nullptr;
        std::uint64_t serial = 0;
        int frames = 0;     // IofCallDriver / IofCompleteRequest frames running on it
        bool freed = false; // freed; released when frames drops to 0
        IrpState state = IrpState::Idle;
        unsigned completions = 0;
        unsigned startNextPower = 0;
        bool ioManagerOwned = false;
        std::vector<bool> marked; // IoMarkIrpPending per location, 0..StackCount+1
        std::function<void(PIRP)> onTop;
        // Completion routines running on it, and the thread running them. A completion that
        // arrives meanwhile from another thread waits for them (the routine may yet return
        // STATUS_MORE_PROCESSING_REQUIRED, which makes it legitimate).
        int routines = 0;
        std::thread::id routineThread;
    };

    Record* find(PIRP irp) const; // lock held
    // Drops a frame; returns the IRP's memory to release when it was the last one of a freed IRP.
    PIRP leaveFrame(Record* record);                            // lock held
    void markFreed(Record* record, std::vector<PIRP>& release); // lock held
    static void releaseMemory(PIRP irp);
    static std::string describe(const Record& record);

    Verifier& verifier_;
    ObjectManager& objects_;
    Dispatcher& dispatcher_;
    mutable std::mutex lock_;
    std::condition_variable routineDone_;
    std::unordered_map<PIRP, Record> irps_;
    std::unordered_set<PIRP> freed_; // freed and released, not handed out again
    std::uint64_t serial_ = 0;
};

} // namespace winsim::kernel
