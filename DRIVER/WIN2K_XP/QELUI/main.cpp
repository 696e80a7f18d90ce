/*
 * main.cpp - the DLL's entry point and its process-wide state.
 */
#include "qelui.h"

HINSTANCE ModuleHandle;
HWND OwnerWindow;

extern "C" BOOL WINAPI LibMain(HINSTANCE Module, DWORD Reason, LPVOID Reserved) {
    if (Reason == DLL_PROCESS_ATTACH) {
        ModuleHandle = Module;
        DisableThreadLibraryCalls(Module);
    }
    return TRUE;
}
