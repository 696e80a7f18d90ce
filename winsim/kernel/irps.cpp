#include "kernel/irps.h"

#include "kernel/call_frames.h"
#include "kernel/dispatcher.h"
#include "kernel/kernel.h"
#include "kernel/objects.h"
#include "kernel/verifier.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace winsim::kernel {

namespace {

constexpr CSHORT typeIrp = 6; // IO_TYPE_IRP

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

PIO_STACK_LOCATION locations(PIRP irp) {
    return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
}

// The dispatch calls running on this thread. A driver that passes a request down and returns
// the STATUS_PENDING it got back need not mark the request itself: the mark reaches its location
// on the way up (a location without a completion routine passes it on).
struct DispatchFrame {
    PIRP irp;
    bool lowerPended;
};
thread_local std::vector<DispatchFrame> dispatchFrames;

} // namespace

NTSTATUS NTAPI defaultDispatch(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

IrpManager::IrpManager(Verifier& verifier, ObjectManager& objects, Dispatcher& dispatcher)
    : verifier_(verifier), objects_(objects), dispatcher_(dispatcher) {}

IrpManager::~IrpManager() {
    for (auto& [irp, record] : irps_) {
        releaseMemory(irp);
    }
}

std::string IrpManager::describe(const Record& record) {
    return "IRP " + pointerText(record.irp) + " (#" + std::to_string(record.serial) + ")";
}

IrpManager::Record* IrpManager::find(PIRP irp) const {
    const auto it = irps_.find(irp);
    return it == irps_.end() ? nullptr : const_cast<Record*>(&it->second);
}

void IrpManager::releaseMemory(PIRP irp) {
    std::free(irp);
}

PIRP IrpManager::leaveFrame(Record* record) {
    if (--record->frames == 0 && record->freed) {
        PIRP irp = record->irp;
        irps_.erase(irp);
        freed_.insert(irp);
        return irp;
    }
    return nullptr;
}

void IrpManager::markFreed(Record* record, std::vector<PIRP>& release) {
    record->freed = true;
    if (record->frames == 0) {
        PIRP irp = record->irp;
        irps_.erase(irp);
        freed_.insert(irp);
        release.push_back(irp);
    }
}

PIRP IrpManager::allocate(CCHAR stackSize) {
    const int count = stackSize < 0 ? 0 : stackSize;
    const std::size_t bytes =
        sizeof(IRP) + static_cast<std::size_t>(count) * sizeof(IO_STACK_LOCATION);
    auto* irp = static_cast<PIRP>(std::calloc(1, bytes));
    if (irp == nullptr) {
        return nullptr;
    }
    irp->Type = typeIrp;
    irp->Size = static_cast<USHORT>(bytes);
    irp->StackCount = static_cast<CHAR>(count);
    irp->CurrentLocation = static_cast<CHAR>(count + 1);
    irp->Tail.Overlay.CurrentStackLocation = locations(irp) + count;
    irp->ThreadListEntry.Flink = &irp->ThreadListEntry;
    irp->ThreadListEntry.Blink = &irp->ThreadListEntry;
    const std::lock_guard guard(lock_);
    freed_.erase(irp);
    Record& r = irps_[irp];
    r.irp = irp;
    r.serial = ++serial_;
    r.marked.assign(static_cast<std::size_t>(count) + 2, false);
    return irp;
}

void IrpManager::free(PIRP irp) {
    std::vector<PIRP> release;
    {
        std::unique_lock lock(lock_);
        Record* r = find(irp);
        if (r == nullptr || r->freed) {
            const bool twice = (r != nullptr && r->freed) || freed_.contains(irp);
            lock.unlock();
            verifier_.report(twice ? Check::InvalidCall : Check::UnknownObject,
                             "IoFreeIrp of " + pointerText(irp) +
                                 (twice ? ", which was freed already" : ", which is no IRP"));
            return;
        }
        if (r->state == IrpState::InDriver || r->state == IrpState::Completing) {
            const std::string text =
                "IoFreeIrp of " + describe(*r) +
                (r->state == IrpState::InDriver ? " while a driver still holds it"
                                                : " while its completion is running");
            verifier_.report(Check::IrpFreedInUse, text);
        }
        markFreed(r, release);
    }
    for (PIRP p : release) {
        releaseMemory(p);
    }
}

NTSTATUS IrpManager::call(PDEVICE_OBJECT device, PIRP irp) {
    Record* r;
    {
        std::unique_lock lock(lock_);
        r = find(irp);
        if (r == nullptr || r->freed) {
            lock.unlock();
            verifier_.report(Check::UnknownObject,
                             "IofCallDriver with " + pointerText(irp) + ", which is no live IRP");
            return STATUS_INVALID_PARAMETER;
        }
        ++r->frames;
        r->state = IrpState::InDriver;
    }
    const auto info = objects_.device(device);
    if (!info) {
        verifier_.report(Check::UnknownObject, "IofCallDriver to " + pointerText(device) +
                                                   ", which is no device object (freed?)");
    } else if (info->deleted) {
        verifier_.report(Check::IrpToDeletedDevice, "IRP sent to deleted device object " +
                                                        pointerText(device) + " of " +
                                                        info->driver->name);
    }
    if (irp->CurrentLocation <= 1) {
        verifier_.fatal(Check::NoMoreStackLocations,
                        "IofCallDriver to " + pointerText(device) + ": " + describe(*r) + " with " +
                            std::to_string(irp->StackCount) +
                            " stack locations has no location left for it");
    }
    --irp->CurrentLocation;
    --irp->Tail.Overlay.CurrentStackLocation;
    PIO_STACK_LOCATION location = irp->Tail.Overlay.CurrentStackLocation;
    location->DeviceObject = device;
    const auto index = static_cast<std::size_t>(irp->CurrentLocation);
    const UCHAR major = location->MajorFunction;

    NTSTATUS status;
    bool passedUp = false; // the STATUS_PENDING came from a lower driver
    if (!info) {
        irp->IoStatus.Status = STATUS_NO_SUCH_DEVICE;
        irp->IoStatus.Information = 0;
        complete(irp);
        status = STATUS_NO_SUCH_DEVICE;
    } else {
        DriverRecord* driver = info->driver;
        PDRIVER_DISPATCH routine =
            major <= IRP_MJ_MAXIMUM_FUNCTION ? driver->object.MajorFunction[major] : nullptr;
        if (routine == nullptr) {
            routine = defaultDispatch;
        }
        dispatchFrames.push_back({irp, false});
        {
            const DriverCall frame(driver, "dispatch routine", major);
            status = routine(device, irp);
        }
        const bool lowerPended = dispatchFrames.back().lowerPended;
        dispatchFrames.pop_back();
        if (status == STATUS_PENDING && !dispatchFrames.empty() &&
            dispatchFrames.back().irp == irp) {
            dispatchFrames.back().lowerPended = true;
        }
        passedUp = lowerPended;
    }

    PIRP release = nullptr;
    bool notMarked = false;
    std::string text;
    {
        const std::lock_guard guard(lock_);
        if (status == STATUS_PENDING && !r->marked[index] && !passedUp) {
            notMarked = true;
            text = "dispatch routine (" + std::string(majorName(major)) + ") of " +
                   (info ? info->driver->name : std::string("?")) +
                   " returned STATUS_PENDING for " + describe(*r) + " without IoMarkIrpPending";
        }
        release = leaveFrame(r);
    }
    if (notMarked) {
        verifier_.report(Check::PendingNotMarked, text);
    }
    if (release != nullptr) {
        releaseMemory(release);
    }
    return status;
}

void IrpManager::complete(PIRP irp) {
    Record* r;
    {
        std::unique_lock lock(lock_);
        r = find(irp);
        bool nested = false; // completed from inside one of its own completion routines
        if (r != nullptr && !r->freed && r->routines > 0) {
            if (r->routineThread == std::this_thread::get_id()) {
                nested = true;
            } else {
                routineDone_.wait(lock, [r] { return r->routines == 0; });
            }
        }
        const char* problem = nullptr;
        if (r == nullptr) {
            problem = freed_.contains(irp) ? " after it was completed and freed"
                                           : ", which is no live IRP";
        } else if (r->freed) {
            problem = " after it was freed";
        } else if (r->state == IrpState::Completed) {
            problem = " a second time";
        } else if (r->state == IrpState::Completing && !nested) {
            problem = " again while its completion is still running";
        }
        if (problem != nullptr) {
            const bool known = r != nullptr || freed_.contains(irp);
            const std::string text = "IofCompleteRequest of " +
                                     (r != nullptr ? describe(*r) : pointerText(irp)) + problem;
            lock.unlock();
            verifier_.report(known ? Check::IrpCompletedTwice : Check::UnknownObject, text);
            return;
        }
        ++r->completions;
        ++r->frames;
        r->state = IrpState::Completing;
    }
    if (irp->IoStatus.Status == STATUS_PENDING) {
        verifier_.report(Check::IrpCompletedPending,
                         "IofCompleteRequest of " + describe(*r) + " with STATUS_PENDING");
    }

    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION location = irp->Tail.Overlay.CurrentStackLocation;
        ++irp->CurrentLocation;
        ++irp->Tail.Overlay.CurrentStackLocation;
        const bool atTop = irp->CurrentLocation > irp->StackCount;
        const auto above = static_cast<std::size_t>(irp->CurrentLocation);

        irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) != 0;
        const UCHAR control = location->Control;
        PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
        PVOID context = location->Context;
        location->Control = 0;
        location->CompletionRoutine = nullptr;
        location->Context = nullptr;

        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke =
            routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS) != 0) ||
                                   (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR) != 0) ||
                                   (irp->Cancel && (control & SL_INVOKE_ON_CANCEL) != 0));
        if (invoke) {
            // The routine belongs to the driver of the location above (none at the top).
            PDEVICE_OBJECT owner =
                atTop ? nullptr : irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
            DriverRecord* driver = nullptr;
            if (owner != nullptr) {
                if (const auto info = objects_.device(owner)) {
                    driver = info->driver;
                }
            }
            unsigned completionsBefore;
            {
                const std::lock_guard guard(lock_);
                ++r->routines;
                r->routineThread = std::this_thread::get_id();
                completionsBefore = r->completions;
            }
            NTSTATUS result;
            {
                const DriverCall frame(driver, "completion routine");
                result = routine(owner, irp, context);
            }
            bool completedInside;
            {
                const std::lock_guard guard(lock_);
                --r->routines;
                completedInside = r->completions != completionsBefore;
                if (result == STATUS_MORE_PROCESSING_REQUIRED && !completedInside) {
                    r->state = IrpState::Reclaimed;
                }
            }
            routineDone_.notify_all();
            if (result == STATUS_MORE_PROCESSING_REQUIRED || completedInside) {
                if (completedInside && result != STATUS_MORE_PROCESSING_REQUIRED) {
                    verifier_.report(Check::IrpCompletedTwice,
                                     "completion routine of " +
                                         (driver != nullptr ? driver->name : std::string("?")) +
                                         " completed " + describe(*r) +
                                         " and returned without STATUS_MORE_PROCESSING_REQUIRED");
                }
                PIRP release;
                {
                    const std::lock_guard guard(lock_);
                    release = leaveFrame(r);
                }
                if (release != nullptr) {
                    releaseMemory(release);
                }
                return;
            }
            if (irp->PendingReturned && !atTop) {
                bool marked;
                {
                    const std::lock_guard guard(lock_);
                    marked = r->marked[above] || (irp->Tail.Overlay.CurrentStackLocation->Control &
                                                  SL_PENDING_RETURNED) != 0;
                }
                if (!marked) {
                    verifier_.report(Check::PendingNotPropagated,
                                     "completion routine of " +
                                         (driver != nullptr ? driver->name : std::string("?")) +
                                         " saw PendingReturned on " + describe(*r) +
                                         " and returned without IoMarkIrpPending");
                }
            }
        } else if (irp->PendingReturned && !atTop) {
            irp->Tail.Overlay.CurrentStackLocation->Control |= SL_PENDING_RETURNED;
            const std::lock_guard guard(lock_);
            r->marked[above] = true;
        }
    }

    // The top: hand the result to whoever waits for it.
    bool ioManagerOwned;
    std::function<void(PIRP)> onTop;
    {
        const std::lock_guard guard(lock_);
        r->state = IrpState::Completed;
        ioManagerOwned = r->ioManagerOwned;
        onTop = r->onTop;
    }
    if (irp->UserIosb != nullptr) {
        *irp->UserIosb = irp->IoStatus;
    }
    if (irp->UserEvent != nullptr) {
        dispatcher_.setEvent(irp->UserEvent);
    }
    if (onTop) {
        onTop(irp);
    }
    std::vector<PIRP> release;
    {
        const std::lock_guard guard(lock_);
        if (ioManagerOwned && !r->freed) {
            r->freed = true;
        }
        if (PIRP p = leaveFrame(r)) {
            release.push_back(p);
        }
    }
    for (PIRP p : release) {
        releaseMemory(p);
    }
}

PIO_STACK_LOCATION IrpManager::next(PIRP irp) {
    if (irp->CurrentLocation <= 1) {
        verifier_.fatal(Check::NoMoreStackLocations, "IoGetNextIrpStackLocation on IRP " +
                                                         pointerText(irp) +
                                                         " at its last stack location (of " +
                                                         std::to_string(irp->StackCount) + ")");
    }
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}

void IrpManager::skip(PIRP irp) {
    if (irp->CurrentLocation > irp->StackCount) {
        verifier_.report(Check::InvalidCall, "IoSkipCurrentIrpStackLocation on IRP " +
                                                 pointerText(irp) +
                                                 ", which has no current stack location");
        return;
    }
    ++irp->CurrentLocation;
    ++irp->Tail.Overlay.CurrentStackLocation;
}

void IrpManager::copyToNext(PIRP irp) {
    PIO_STACK_LOCATION current = irp->Tail.Overlay.CurrentStackLocation;
    PIO_STACK_LOCATION below = next(irp);
    std::memcpy(below, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    below->Control = 0;
    below->CompletionRoutine = nullptr;
    below->Context = nullptr;
    const std::lock_guard guard(lock_);
    if (Record* r = find(irp)) {
        r->marked[static_cast<std::size_t>(irp->CurrentLocation - 1)] = false;
    }
}

void IrpManager::setCompletion(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                               bool onSuccess, bool onError, bool onCancel) {
    PIO_STACK_LOCATION below = next(irp);
    below->CompletionRoutine = routine;
    below->Context = context;
    below->Control = static_cast<UCHAR>((onSuccess ? SL_INVOKE_ON_SUCCESS : 0) |
                                        (onError ? SL_INVOKE_ON_ERROR : 0) |
                                        (onCancel ? SL_INVOKE_ON_CANCEL : 0));
    const std::lock_guard guard(lock_);
    if (Record* r = find(irp)) {
        r->marked[static_cast<std::size_t>(irp->CurrentLocation - 1)] = false;
    }
}

void IrpManager::markPending(PIRP irp) {
    if (irp->CurrentLocation > irp->StackCount || irp->CurrentLocation < 1) {
        verifier_.report(Check::InvalidCall, "IoMarkIrpPending on IRP " + pointerText(irp) +
                                                 ", which has no current stack location");
        return;
    }
    irp->Tail.Overlay.CurrentStackLocation->Control |= SL_PENDING_RETURNED;
    const std::lock_guard guard(lock_);
    if (Record* r = find(irp)) {
        r->marked[static_cast<std::size_t>(irp->CurrentLocation)] = true;
    }
}

void IrpManager::setIoManagerOwned(PIRP irp) {
    const std::lock_guard guard(lock_);
    if (Record* r = find(irp)) {
        r->ioManagerOwned = true;
    }
}

void IrpManager::setOnTop(PIRP irp, std::function<void(PIRP)> onTop) {
    const std::lock_guard guard(lock_);
    if (Record* r = find(irp)) {
        r->onTop = std::move(onTop);
    }
}

bool IrpManager::isLive(PIRP irp) const {
    const std::lock_guard guard(lock_);
    const Record* r = find(irp);
    return r != nullptr && !r->freed;
}

std::optional<IrpState> IrpManager::state(PIRP irp) const {
    const std::lock_guard guard(lock_);
    const Record* r = find(irp);
    if (r == nullptr || r->freed) {
        return std::nullopt;
    }
    return r->state;
}

std::optional<unsigned> IrpManager::completionCount(PIRP irp) const {
    const std::lock_guard guard(lock_);
    const Record* r = find(irp);
    if (r == nullptr || r->freed) {
        return std::nullopt;
    }
    return r->completions;
}

void IrpManager::noteStartNextPowerIrp(PIRP irp) {
    const std::lock_guard guard(lock_);
    if (Record* r = find(irp)) {
        ++r->startNextPower;
    }
}

std::optional<unsigned> IrpManager::startNextPowerIrpCount(PIRP irp) const {
    const std::lock_guard guard(lock_);
    const Record* r = find(irp);
    if (r == nullptr || r->freed) {
        return std::nullopt;
    }
    return r->startNextPower;
}

std::size_t IrpManager::liveIrps() const {
    const std::lock_guard guard(lock_);
    std::size_t n = 0;
    for (const auto& [irp, r] : irps_) {
        n += r.freed ? 0 : 1;
    }
    return n;
}

std::uint64_t IrpManager::totalAllocated() const {
    const std::lock_guard guard(lock_);
    return serial_;
}

std::size_t IrpManager::reportLeaks(const std::string& context) const {
    std::vector<std::string> texts;
    {
        const std::lock_guard guard(lock_);
        for (const auto& [irp, r] : irps_) {
            if (!r.freed) {
                texts.push_back(context + ": " + describe(r) + " was never freed");
            }
        }
    }
    for (auto& t : texts) {
        verifier_.report(Check::IrpLeak, std::move(t));
    }
    return texts.size();
}

} // namespace winsim::kernel
