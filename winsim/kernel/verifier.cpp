#include "kernel/verifier.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace winsim::kernel {

std::string_view to_string(Check check) {
    switch (check) {
    case Check::IrpCompletedTwice:
        return "IrpCompletedTwice";
    case Check::IrpCompletedPending:
        return "IrpCompletedPending";
    case Check::PendingNotMarked:
        return "PendingNotMarked";
    case Check::PendingNotPropagated:
        return "PendingNotPropagated";
    case Check::IrpNotCompleted:
        return "IrpNotCompleted";
    case Check::IrpToDeletedDevice:
        return "IrpToDeletedDevice";
    case Check::IrpFreedInUse:
        return "IrpFreedInUse";
    case Check::NoMoreStackLocations:
        return "NoMoreStackLocations";
    case Check::IrpLeak:
        return "IrpLeak";
    case Check::DeleteDeviceTwice:
        return "DeleteDeviceTwice";
    case Check::DeleteAttachedDevice:
        return "DeleteAttachedDevice";
    case Check::DeleteWithoutDetach:
        return "DeleteWithoutDetach";
    case Check::DeviceStillInitializing:
        return "DeviceStillInitializing";
    case Check::DeviceLeak:
        return "DeviceLeak";
    case Check::ReferenceLeak:
        return "ReferenceLeak";
    case Check::UnloadWithDevices:
        return "UnloadWithDevices";
    case Check::UnknownObject:
        return "UnknownObject";
    case Check::PoolDoubleFree:
        return "PoolDoubleFree";
    case Check::PoolUnknownFree:
        return "PoolUnknownFree";
    case Check::PoolTagMismatch:
        return "PoolTagMismatch";
    case Check::PoolLeak:
        return "PoolLeak";
    case Check::InvalidHandle:
        return "InvalidHandle";
    case Check::HandleLeak:
        return "HandleLeak";
    case Check::MutexNotOwner:
        return "MutexNotOwner";
    case Check::MutexRecursive:
        return "MutexRecursive";
    case Check::MutexHeldOnReturn:
        return "MutexHeldOnReturn";
    case Check::Deadlock:
        return "Deadlock";
    case Check::WrongIrql:
        return "WrongIrql";
    case Check::InvalidCall:
        return "InvalidCall";
    case Check::BugCheck:
        return "BugCheck";
    }
    return "Unknown";
}

void Verifier::report(Check check, std::string text) {
    const std::lock_guard guard(lock_);
    if (print_) {
        std::fprintf(stderr, "winsim verifier: %.*s: %s\n",
                     static_cast<int>(to_string(check).size()), to_string(check).data(),
                     text.c_str());
    }
    violations_.push_back({check, std::move(text)});
}

void Verifier::fatal(Check check, std::string text) {
    {
        const std::lock_guard guard(lock_);
        violations_.push_back({check, text});
    }
    std::fprintf(stderr, "winsim verifier: FATAL %.*s: %s\n",
                 static_cast<int>(to_string(check).size()), to_string(check).data(), text.c_str());
    std::fflush(stderr);
    std::abort();
}

std::vector<Violation> Verifier::violations() const {
    const std::lock_guard guard(lock_);
    return violations_;
}

std::size_t Verifier::count(Check check) const {
    const std::lock_guard guard(lock_);
    return static_cast<std::size_t>(
        std::count_if(violations_.begin(), violations_.end(),
                      [check](const Violation& v) { return v.check == check; }));
}

std::size_t Verifier::total() const {
    const std::lock_guard guard(lock_);
    return violations_.size();
}

std::string Verifier::summary() const {
    const std::lock_guard guard(lock_);
    std::string out;
    for (const auto& v : violations_) {
        out += to_string(v.check);
        out += ": ";
        out += v.text;
        out += '\n';
    }
    return out;
}

void Verifier::clear() {
    const std::lock_guard guard(lock_);
    violations_.clear();
}

void Verifier::setPrint(bool print) {
    const std::lock_guard guard(lock_);
    print_ = print;
}

} // namespace winsim::kernel
