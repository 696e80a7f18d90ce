#include "kernel/call_frames.h"

#include "kernel/kernel.h"
#include "kernel/objects.h"

#include <algorithm>
#include <vector>

namespace winsim::kernel {

namespace {

thread_local std::vector<DriverRecord*> frames;
thread_local std::vector<PFAST_MUTEX> held;

} // namespace

DriverCall::DriverCall(DriverRecord* driver, const char* what, int major)
    : driver_(driver), what_(what), major_(major), held_(held.size()) {
    frames.push_back(driver);
}

DriverCall::~DriverCall() {
    frames.pop_back();
    if (held.size() > held_) {
        Kernel::current().verifier().report(Check::MutexHeldOnReturn,
                                            describeCall(driver_, what_, major_) +
                                                " returned holding a fast mutex");
    }
}

DriverRecord* currentDriver() {
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (*it != nullptr) {
            return *it;
        }
    }
    return nullptr;
}

void noteMutexAcquired(PFAST_MUTEX mutex) {
    held.push_back(mutex);
}

void noteMutexReleased(PFAST_MUTEX mutex) {
    const auto it = std::find(held.rbegin(), held.rend(), mutex);
    if (it != held.rend()) {
        held.erase(std::next(it).base());
    }
}

std::size_t heldMutexCount() {
    return held.size();
}

const char* majorName(int major) {
    switch (major) {
    case IRP_MJ_CREATE:
        return "IRP_MJ_CREATE";
    case IRP_MJ_CLOSE:
        return "IRP_MJ_CLOSE";
    case IRP_MJ_READ:
        return "IRP_MJ_READ";
    case IRP_MJ_WRITE:
        return "IRP_MJ_WRITE";
    case IRP_MJ_DEVICE_CONTROL:
        return "IRP_MJ_DEVICE_CONTROL";
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        return "IRP_MJ_INTERNAL_DEVICE_CONTROL";
    case IRP_MJ_CLEANUP:
        return "IRP_MJ_CLEANUP";
    case IRP_MJ_POWER:
        return "IRP_MJ_POWER";
    case IRP_MJ_SYSTEM_CONTROL:
        return "IRP_MJ_SYSTEM_CONTROL";
    case IRP_MJ_PNP:
        return "IRP_MJ_PNP";
    default:
        return "IRP_MJ_?";
    }
}

std::string describeCall(DriverRecord* driver, const char* what, int major) {
    std::string text = what;
    if (major >= 0) {
        text += " (";
        text += majorName(major);
        text += ')';
    }
    text += " of ";
    text += driver != nullptr ? driver->name : std::string("the system");
    return text;
}

} // namespace winsim::kernel
