// Open handles of the COM port database.
#pragma once

#include <cstdint>
#include <set>

namespace winsim::user {

class ComDbHandles {
  public:
    std::uintptr_t open() {
        const std::uintptr_t handle = next_;
        next_ += 4;
        open_.insert(handle);
        return handle;
    }
    bool is_open(std::uintptr_t handle) const { return open_.count(handle) != 0; }
    bool close(std::uintptr_t handle) { return open_.erase(handle) != 0; }
    std::size_t size() const { return open_.size(); }

  private:
    std::uintptr_t next_ = 0xC0D0;
    std::set<std::uintptr_t> open_;
};

} // namespace winsim::user
