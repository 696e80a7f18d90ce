// Test module B: exports the same name as module A.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        OutputDebugStringA("B attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        OutputDebugStringA("B detach");
    }
    return TRUE;
}

extern "C" __attribute__((visibility("default"))) INT_PTR shared_name(void) {
    return 'B';
}
