// The kernel handle table. Only registry keys are opened through handles here (the registry
// routines of wdm.h); each handle remembers the driver that opened it, so leaks can be reported
// per driver at unload and for everyone at shutdown.
#pragma once

#include "wdm.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace winsim::reg {
class Key;
}

namespace winsim::kernel {

class Verifier;
struct DriverRecord;

struct HandleInfo {
    HANDLE handle = nullptr;
    std::string path; // the key's path below HKEY_LOCAL_MACHINE
    ACCESS_MASK access = 0;
    DriverRecord* owner = nullptr;
};

class HandleTable {
  public:
    explicit HandleTable(Verifier& verifier);

    HANDLE insert(std::shared_ptr<reg::Key> key, ACCESS_MASK access, DriverRecord* owner);
    // nullptr (and an InvalidHandle violation) for a handle that is not open.
    std::shared_ptr<reg::Key> key(HANDLE handle, const char* caller);
    NTSTATUS close(HANDLE handle); // STATUS_INVALID_HANDLE (and a violation) if not open

    std::size_t count() const;
    std::vector<HandleInfo> open() const;
    // Records a HandleLeak per handle still open (of one driver, or all when `all`).
    std::size_t reportLeaks(const DriverRecord* owner, bool all, const std::string& context) const;

  private:
    struct Entry {
        std::shared_ptr<reg::Key> key;
        ACCESS_MASK access;
        DriverRecord* owner;
    };
    Verifier& verifier_;
    mutable std::mutex lock_;
    std::map<std::uintptr_t, Entry> entries_;
    std::uintptr_t next_ = 0x80000004; // kernel handles, as on 32-bit Windows
};

} // namespace winsim::kernel
