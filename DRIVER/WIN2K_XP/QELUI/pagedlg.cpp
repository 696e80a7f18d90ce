/*
 * pagedlg.cpp - the dialog procedure of the "Ports" page.
 */
#include "qelui.h"

INT_PTR CALLBACK PortPageDlgProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    PortPageContext* context;

    switch (Message) {
    case WM_INITDIALOG:
        /* The page's PROPSHEETPAGE comes with the message; its lParam is the record. */
        context = (PortPageContext*)((LPPROPSHEETPAGEA)LParam)->lParam;
        SetWindowLongPtrA(Window, DWLP_USER, (LONG_PTR)context);
        return TRUE;

    case WM_NOTIFY:
        /* Applying only marks the record; the page's release writes. */
        if (((LPNMHDR)LParam)->code == (UINT)PSN_APPLY) {
            context = (PortPageContext*)GetWindowLongPtrA(Window, DWLP_USER);
            if (context != NULL) {
                context->ApplyRequested = 1;
            }
        }
        SetWindowLongPtrA(Window, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
    }
    return FALSE;
}
