// Internal helpers of the system call implementations.
#pragma once

#include <windows.h>

#include "user/session.h"
#include "user/state.h"

#include <optional>

namespace winsim::user {

// The installed session; a system call made without one is a fault of the host and aborts.
Session& sys();

// Counts the call and says whether failure injection wants it to fail, with which error.
inline std::optional<DWORD> injected(const char* call) {
    return sys().faults().check(call);
}

// Sets the last error and returns FALSE, for BOOL calls.
inline BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace winsim::user
