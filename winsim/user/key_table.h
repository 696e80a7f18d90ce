// The registry handles of the session: HKEY values handed out by the registry calls, each with
// the key it names and the access it was opened with. Handle values are never reused, so a
// handle used after RegCloseKey is reported as invalid.
#pragma once

#include <windows.h>

#include "registry/key.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim::user {

struct KeyHandle {
    std::shared_ptr<reg::Key> key;
    REGSAM access = 0; // granted rights (generic rights mapped)
};

class KeyTable {
  public:
    HKEY add(std::shared_ptr<reg::Key> key, REGSAM access);
    KeyHandle* find(HKEY handle);
    bool close(HKEY handle);
    std::vector<std::string> paths() const;
    void clear() { handles_.clear(); }

  private:
    std::uintptr_t next_ = 0x1000;
    std::map<std::uintptr_t, KeyHandle> handles_;
};

// The rights a request for samDesired grants (generic rights and MAXIMUM_ALLOWED mapped).
REGSAM map_key_access(REGSAM desired);

} // namespace winsim::user
