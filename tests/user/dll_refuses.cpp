// Test module whose entry point refuses to start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        OutputDebugStringA("refuses detach");
    }
    return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
}

extern "C" __attribute__((visibility("default"))) INT_PTR shared_name(void) {
    return 'R';
}
