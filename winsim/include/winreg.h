/*
 * The registry calls of the simulated Windows (advapi32, 8-bit "A" forms). They work on the
 * machine registry: HKEY_LOCAL_MACHINE is the root of it, HKEY_CLASSES_ROOT is its
 * "SOFTWARE\Classes" key; the other predefined keys do not exist on the simulated machine
 * (ERROR_FILE_NOT_FOUND). Strings are stored as UTF-16 and converted to and from the 8-bit code
 * page at this boundary.
 */
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winnt_security.h"

typedef ACCESS_MASK REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000006))

#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_OPTION_CREATE_LINK 0x00000002L
#define REG_OPTION_BACKUP_RESTORE 0x00000004L

#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

WINADVAPI LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
WINADVAPI LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    PHKEY phkResult);
WINADVAPI LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
WINADVAPI LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                      DWORD dwOptions, REGSAM samDesired,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                      LPDWORD lpdwDisposition);
WINADVAPI LONG WINAPI RegCloseKey(HKEY hKey);
WINADVAPI LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                       LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINADVAPI LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData);
WINADVAPI LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
WINADVAPI LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName);
WINADVAPI LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                    LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                    PFILETIME lpftLastWriteTime);
WINADVAPI LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                    LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData);
/* Windows NT: a key that has subkeys is not deleted (ERROR_ACCESS_DENIED). Windows 9x: the key
   and its whole subtree are deleted. */
WINADVAPI LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
WINADVAPI LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                       LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                       LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                       LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                       LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                       PFILETIME lpftLastWriteTime);
WINADVAPI LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                                        PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                        LPDWORD lpcbSecurityDescriptor);
WINADVAPI LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                                        PSECURITY_DESCRIPTOR pSecurityDescriptor);
