// A property-page provider as the device manager loads one: it reads the device's location
// and "Ports" through SetupAPI, adds one page, and at release writes "Applied" to the
// device's parameters if the sheet applied, then re-enumerates the device.
#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include "provider_record.h"

static HINSTANCE module_instance;

static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        ProviderRecord* record = (ProviderRecord*)((LPPROPSHEETPAGEA)lparam)->lParam;
        record->Initialised = TRUE;
        SetWindowLongPtrA(window, DWLP_USER, (LONG_PTR)record);
        return TRUE;
    }
    if (message == WM_NOTIFY && ((LPNMHDR)lparam)->code == PSN_APPLY) {
        ProviderRecord* record = (ProviderRecord*)GetWindowLongPtrA(window, DWLP_USER);
        record->ApplyRequested = TRUE;
        SetWindowLongPtrA(window, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
    }
    return FALSE;
}

static UINT CALLBACK PageCallback(HWND window, UINT message, LPPROPSHEETPAGEA page) {
    if (message != PSPCB_RELEASE) {
        return 1;
    }
    ProviderRecord* record = (ProviderRecord*)page->lParam;
    if (record->ApplyRequested) {
        HKEY key = SetupDiOpenDevRegKey(record->DeviceInfoSet, record->DeviceInfoData,
                                        DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
        if (key != INVALID_HANDLE_VALUE) {
            DWORD one = 1;
            RegSetValueExA(key, "Applied", 0, REG_DWORD, (const BYTE*)&one, sizeof one);
            RegCloseKey(key);
        }
        CM_Reenumerate_DevNode(record->DeviceInfoData->DevInst, 0);
    }
    LocalFree(record);
    return 0;
}

extern "C" BOOL WINAPI LibMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        module_instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" __attribute__((visibility("default"))) BOOL WINAPI
EnumPropPages(PSP_PROPSHEETPAGE_REQUEST request, LPFNADDPROPSHEETPAGE add_page, LPARAM lparam) {
    if (request->PageRequested != SPPSR_ENUM_ADV_DEVICE_PROPERTIES) {
        return TRUE;
    }
    ProviderRecord* record = (ProviderRecord*)LocalAlloc(LPTR, sizeof(ProviderRecord));
    if (record == NULL) {
        return FALSE;
    }
    record->DeviceInfoSet = request->DeviceInfoSet;
    record->DeviceInfoData = request->DeviceInfoData;
    DWORD needed = 0;
    HKEY key = (HKEY)INVALID_HANDLE_VALUE;
    DWORD size = sizeof record->Ports;
    if (!SetupDiGetDeviceRegistryPropertyA(
            request->DeviceInfoSet, request->DeviceInfoData, SPDRP_LOCATION_INFORMATION, NULL,
            (PBYTE)record->Location, sizeof record->Location, &needed) ||
        (key = SetupDiOpenDevRegKey(request->DeviceInfoSet, request->DeviceInfoData,
                                    DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ)) ==
            INVALID_HANDLE_VALUE ||
        RegQueryValueExA(key, "Ports", NULL, NULL, (LPBYTE)&record->Ports, &size) !=
            ERROR_SUCCESS) {
        if (key != INVALID_HANDLE_VALUE) {
            RegCloseKey(key);
        }
        LocalFree(record);
        return FALSE;
    }
    RegCloseKey(key);

    PROPSHEETPAGEA page;
    ZeroMemory(&page, sizeof page);
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USECALLBACK;
    page.hInstance = module_instance;
    page.pszTemplate = MAKEINTRESOURCEA(101);
    page.pfnDlgProc = PageProc;
    page.lParam = (LPARAM)record;
    page.pfnCallback = PageCallback;
    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
    if (handle == NULL) {
        LocalFree(record);
        return TRUE;
    }
    if (!add_page(handle, lparam)) {
        DestroyPropertySheetPage(handle);
    }
    return TRUE;
}
