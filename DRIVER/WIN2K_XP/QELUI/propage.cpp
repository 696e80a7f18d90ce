/*
 * propage.cpp - the page request of the device manager, the creation of the
 * "Ports" page and its lifetime.
 */
#include "qelui.h"

extern "C" BOOL WINAPI EnumPropPages(PSP_PROPSHEETPAGE_REQUEST Request,
                                     LPFNADDPROPSHEETPAGE AddPage, LPARAM AddPageParam) {
    PortPageContext* context;

    if (Request->PageRequested != SPPSR_ENUM_ADV_DEVICE_PROPERTIES) {
        return TRUE;
    }
    context = (PortPageContext*)LocalAlloc(LPTR, sizeof(PortPageContext));
    if (context == NULL) {
        return FALSE;
    }
    if (!LoadCardPorts(Request->DeviceInfoSet, Request->DeviceInfoData, context)) {
        LocalFree(context);
        return FALSE;
    }
    /* From here on the page owns the record. */
    AddPortPage(context, AddPage, AddPageParam);
    return TRUE;
}

VOID AddPortPage(PortPageContext* Context, LPFNADDPROPSHEETPAGE AddPage, LPARAM AddPageParam) {
    PROPSHEETPAGEA page;
    HPROPSHEETPAGE handle;

    /* No title: the tab shows the template's caption. */
    ZeroMemory(&page, sizeof(page));
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_USECALLBACK;
    page.hInstance = ModuleHandle;
    page.pszTemplate = MAKEINTRESOURCEA(IDD_PORT_PAGE);
    page.pfnDlgProc = PortPageDlgProc;
    page.lParam = (LPARAM)Context;
    page.pfnCallback = PortPageCallback;

    handle = CreatePropertySheetPageA(&page);
    if (handle == NULL) {
        LocalFree(Context);
        return;
    }
    /* A page that is not taken is destroyed; its release frees the record. */
    if (!AddPage(handle, AddPageParam)) {
        DestroyPropertySheetPage(handle);
    }
}

/*
 * Writes happen here, when the sheet destroys the page, and only when the page
 * was applied before: Cancel without an earlier Apply writes nothing.
 */
UINT CALLBACK PortPageCallback(HWND Window, UINT Message, LPPROPSHEETPAGEA Page) {
    PortPageContext* context;

    OwnerWindow = Window;
    if (Message != PSPCB_RELEASE) {
        return 1;
    }
    context = (PortPageContext*)Page->lParam;
    if (context != NULL) {
        if (context->ApplyRequested == 1) {
            ApplyPortSettings(context);
        }
        LocalFree(context);
    }
    return 0;
}
