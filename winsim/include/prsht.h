/*
 * Property sheet pages (comctl32). A page is created from a PROPSHEETPAGEA, which the system
 * copies (dwSize bytes: a caller may append its own data); the page's callback and dialog
 * procedure see that copy. The callback is told PSPCB_ADDREF when the page is created,
 * PSPCB_CREATE before its dialog is made (0 refuses the page) and PSPCB_RELEASE when the page is
 * destroyed.
 */
#pragma once

#include "windef.h"
#include "winuser.h"

struct _PSP;
typedef struct _PSP* HPROPSHEETPAGE;

struct _PROPSHEETPAGEA;
typedef UINT(CALLBACK* LPFNPSPCALLBACKA)(HWND hwnd, UINT uMsg, struct _PROPSHEETPAGEA* ppsp);

typedef struct _PROPSHEETPAGEA {
    DWORD dwSize;
    DWORD dwFlags;
    HINSTANCE hInstance;
    union {
        LPCSTR pszTemplate;
        const void* pResource;
    };
    union {
        HICON hIcon;
        LPCSTR pszIcon;
    };
    LPCSTR pszTitle;
    DLGPROC pfnDlgProc;
    LPARAM lParam;
    LPFNPSPCALLBACKA pfnCallback;
    UINT* pcRefParent;
    LPCSTR pszHeaderTitle;
    LPCSTR pszHeaderSubTitle;
} PROPSHEETPAGEA, *LPPROPSHEETPAGEA;
typedef const PROPSHEETPAGEA* LPCPROPSHEETPAGEA;
typedef PROPSHEETPAGEA PROPSHEETPAGE;
typedef LPPROPSHEETPAGEA LPPROPSHEETPAGE;
typedef LPCPROPSHEETPAGEA LPCPROPSHEETPAGE;

/* The size of the first form of the record (up to pcRefParent). */
#define PROPSHEETPAGEA_V1_SIZE (offsetof(PROPSHEETPAGEA, pszHeaderTitle))

#define PSP_DEFAULT 0x00000000
#define PSP_DLGINDIRECT 0x00000001
#define PSP_USEHICON 0x00000002
#define PSP_USEICONID 0x00000004
#define PSP_USETITLE 0x00000008
#define PSP_RTLREADING 0x00000010
#define PSP_HASHELP 0x00000020
#define PSP_USEREFPARENT 0x00000040
#define PSP_USECALLBACK 0x00000080
#define PSP_PREMATURE 0x00000400

#define PSPCB_ADDREF 0
#define PSPCB_RELEASE 1
#define PSPCB_CREATE 2

typedef BOOL(CALLBACK* LPFNADDPROPSHEETPAGE)(HPROPSHEETPAGE, LPARAM);
typedef BOOL(CALLBACK* LPFNADDPROPSHEETPAGES)(LPVOID, LPFNADDPROPSHEETPAGE, LPARAM);

/* Notifications a page receives in WM_NOTIFY (NMHDR.code). */
#define PSN_FIRST (0U - 200U)
#define PSN_SETACTIVE (PSN_FIRST - 0)
#define PSN_KILLACTIVE (PSN_FIRST - 1)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSN_RESET (PSN_FIRST - 3)
#define PSN_HELP (PSN_FIRST - 5)
#define PSN_QUERYCANCEL (PSN_FIRST - 9)

#define PSNRET_NOERROR 0
#define PSNRET_INVALID 1
#define PSNRET_INVALID_NOCHANGEPAGE 2

typedef struct _PSHNOTIFY {
    NMHDR hdr;
    LPARAM lParam; /* PSN_APPLY: TRUE when the sheet closes with OK */
} PSHNOTIFY, *LPPSHNOTIFY;

/* Messages a page sends to its sheet (the page's parent window). */
#define PSM_CHANGED (WM_USER + 104)
#define PSM_RESTARTWINDOWS (WM_USER + 105)
#define PSM_REBOOTSYSTEM (WM_USER + 106)
#define PSM_CANCELTOCLOSE (WM_USER + 107)
#define PSM_UNCHANGED (WM_USER + 109)
#define PSM_PRESSBUTTON (WM_USER + 113)

#define PSBTN_OK 1
#define PSBTN_APPLYNOW 4
#define PSBTN_CANCEL 5

#define PropSheet_Changed(hDlg, hwnd) SendMessageA(hDlg, PSM_CHANGED, (WPARAM)(hwnd), 0)
#define PropSheet_UnChanged(hDlg, hwnd) SendMessageA(hDlg, PSM_UNCHANGED, (WPARAM)(hwnd), 0)
#define PropSheet_RebootSystem(hDlg) SendMessageA(hDlg, PSM_REBOOTSYSTEM, 0, 0)
#define PropSheet_RestartWindows(hDlg) SendMessageA(hDlg, PSM_RESTARTWINDOWS, 0, 0)
#define PropSheet_PressButton(hDlg, iButton)                                                       \
    SendMessageA(hDlg, PSM_PRESSBUTTON, (WPARAM)(iButton), 0)

#define ID_PSRESTARTWINDOWS 0x2
#define ID_PSREBOOTSYSTEM (ID_PSRESTARTWINDOWS | 0x1)

WINCOMMCTRLAPI HPROPSHEETPAGE WINAPI
CreatePropertySheetPageA(LPCPROPSHEETPAGEA constPropSheetPagePointer);
WINCOMMCTRLAPI BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE hPSPage);
#define CreatePropertySheetPage CreatePropertySheetPageA
