// Test module A: exports shared_name and only_in_a; reports its entry point calls.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        OutputDebugStringA("A attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        OutputDebugStringA("A detach");
    }
    return TRUE;
}

extern "C" __attribute__((visibility("default"))) INT_PTR shared_name(void) {
    return 'A';
}
extern "C" __attribute__((visibility("default"))) INT_PTR only_in_a(void) {
    return 1;
}
// Visible to the compiler but not in the export list: GetProcAddress must not find it.
extern "C" __attribute__((visibility("default"))) int hidden_helper(void) {
    return 2;
}
