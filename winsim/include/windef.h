/*
 * The simulated Windows user-mode basics: handle types, pointer-sized integers, common macros
 * and the linkage every system call of the simulated platform has. The shared scalar types come
 * from winsim_basetypes.h, which the kernel headers use as well.
 *
 * System calls are plain C functions exported by the host process (the test binaries, qelsim):
 * a user-mode module loaded with LoadLibraryA resolves them there.
 */
#pragma once

#include "winsim_basetypes.h"

#define WINSIM_API extern "C" __attribute__((visibility("default")))
#define WINBASEAPI WINSIM_API
#define WINUSERAPI WINSIM_API
#define WINADVAPI WINSIM_API
#define WINSETUPAPI WINSIM_API
#define WINCOMMCTRLAPI WINSIM_API
#define CMAPI WINSIM_API
#define APIENTRY WINAPI
#define CDECL
#define PASCAL

#ifndef WINSIM_INT_PTR_DEFINED
#define WINSIM_INT_PTR_DEFINED
typedef intptr_t INT_PTR;
typedef INT_PTR* PINT_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR* PUINT_PTR;
#endif

typedef UINT* PUINT;
typedef int* LPINT;
typedef LONG* LPLONG;
typedef WORD* PWORD;
typedef WORD* LPWORD;
typedef LONG LSTATUS;
typedef LONG HRESULT;
typedef WORD ATOM;
typedef DWORD COLORREF;

#define DECLARE_HANDLE(name)                                                                       \
    struct name##__ {                                                                              \
        int unused;                                                                                \
    };                                                                                             \
    typedef struct name##__* name

DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HRSRC);
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef HKEY* PHKEY;
typedef HANDLE* LPHANDLE;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define MAX_PATH 260

#define MAKEWORD(a, b) ((WORD)(((BYTE)((a)&0xff)) | ((WORD)((BYTE)((b)&0xff))) << 8))
#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w)&0xff))
#define HIBYTE(w) ((BYTE)(((DWORD_PTR)(w) >> 8) & 0xff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKELRESULT(l, h) ((LRESULT)(DWORD)MAKELONG(l, h))

#define ZeroMemory(Destination, Length) memset((Destination), 0, (Length))
#define FillMemory(Destination, Length, Fill) memset((Destination), (Fill), (Length))
#define CopyMemory(Destination, Source, Length) memcpy((Destination), (Source), (Length))
#define MoveMemory(Destination, Source, Length) memmove((Destination), (Source), (Length))

#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
