#include "kernel/handles.h"

#include "kernel/objects.h"
#include "kernel/verifier.h"
#include "registry/key.h"

#include <cstdio>

namespace winsim::kernel {

namespace {

std::string handleText(HANDLE h) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", h);
    return text;
}

} // namespace

HandleTable::HandleTable(Verifier& verifier) : verifier_(verifier) {}

HANDLE HandleTable::insert(std::shared_ptr<reg::Key> key, ACCESS_MASK access, DriverRecord* owner) {
    const std::lock_guard guard(lock_);
    const std::uintptr_t value = next_;
    next_ += 4;
    entries_[value] = Entry{std::move(key), access, owner};
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<reg::Key> HandleTable::key(HANDLE handle, const char* caller) {
    {
        const std::lock_guard guard(lock_);
        const auto it = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it != entries_.end()) {
            return it->second.key;
        }
    }
    verifier_.report(Check::InvalidHandle, std::string(caller) + " with handle " +
                                               handleText(handle) + ", which is not open");
    return nullptr;
}

NTSTATUS HandleTable::close(HANDLE handle) {
    std::shared_ptr<reg::Key> key; // released outside the lock
    {
        const std::lock_guard guard(lock_);
        const auto it = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it != entries_.end()) {
            key = std::move(it->second.key);
            entries_.erase(it);
            return STATUS_SUCCESS;
        }
    }
    verifier_.report(Check::InvalidHandle,
                     "ZwClose of handle " + handleText(handle) + ", which is not open");
    return STATUS_INVALID_HANDLE;
}

std::size_t HandleTable::count() const {
    const std::lock_guard guard(lock_);
    return entries_.size();
}

std::vector<HandleInfo> HandleTable::open() const {
    const std::lock_guard guard(lock_);
    std::vector<HandleInfo> out;
    for (const auto& [value, e] : entries_) {
        out.push_back({reinterpret_cast<HANDLE>(value), e.key->path(), e.access, e.owner});
    }
    return out;
}

std::size_t HandleTable::reportLeaks(const DriverRecord* owner, bool all,
                                     const std::string& context) const {
    std::size_t n = 0;
    for (const auto& h : open()) {
        if (all || h.owner == owner) {
            ++n;
            verifier_.report(Check::HandleLeak,
                             context + ": handle " + handleText(h.handle) + " to key " + h.path +
                                 " opened by " +
                                 (h.owner != nullptr ? h.owner->name : std::string("the system")) +
                                 " was never closed");
        }
    }
    return n;
}

} // namespace winsim::kernel
