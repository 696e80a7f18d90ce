// The thread's last error.
#include <windows.h>

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}

extern "C" {

DWORD WINAPI GetLastError(void) {
    return last_error;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    last_error = dwErrCode;
}

} // extern "C"
