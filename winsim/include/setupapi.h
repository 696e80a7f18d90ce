/*
 * SetupAPI of the simulated Windows, device side: device information sets over the Plug and
 * Play manager's device tree, device registry properties (read from the device's instance key
 * under "SYSTEM\CurrentControlSet\Enum") and the device's registry keys.
 */
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winreg.h"
#include "prsht.h"
#include "cfgmgr32.h"

typedef PVOID HDEVINFO;

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize; /* sizeof(SP_DEVINFO_DATA) */
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

/* What the device manager hands a property-page provider. */
typedef struct _SP_PROPSHEETPAGE_REQUEST {
    DWORD cbSize;
    DWORD PageRequested;
    HDEVINFO DeviceInfoSet;
    PSP_DEVINFO_DATA DeviceInfoData;
} SP_PROPSHEETPAGE_REQUEST, *PSP_PROPSHEETPAGE_REQUEST;

#define SPPSR_SELECT_DEVICE_RESOURCES 1
#define SPPSR_ENUM_BASIC_DEVICE_PROPERTIES 2
#define SPPSR_ENUM_ADV_DEVICE_PROPERTIES 3

/* SetupDiGetClassDevsA flags. */
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

/* Device registry properties. */
#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_SERVICE 0x00000004
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define SPDRP_LOCATION_INFORMATION 0x0000000D
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000E
#define SPDRP_CAPABILITIES 0x0000000F
#define SPDRP_UI_NUMBER 0x00000010
#define SPDRP_UPPERFILTERS 0x00000011
#define SPDRP_LOWERFILTERS 0x00000012
#define SPDRP_BUSTYPEGUID 0x00000013
#define SPDRP_LEGACYBUSTYPE 0x00000014
#define SPDRP_BUSNUMBER 0x00000015
#define SPDRP_ENUMERATOR_NAME 0x00000016
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

/* SetupDiOpenDevRegKey scope and key type. */
#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#define DICS_FLAG_CONFIGGENERAL 0x00000004
#define DIREG_DEV 0x00000001
#define DIREG_DRV 0x00000002
#define DIREG_BOTH 0x00000004

WINSETUPAPI HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator,
                                                 HWND hwndParent, DWORD Flags);
WINSETUPAPI BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                              PSP_DEVINFO_DATA DeviceInfoData);
WINSETUPAPI BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
WINSETUPAPI BOOL WINAPI
SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                  DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                  DWORD PropertyBufferSize, PDWORD RequiredSize);
WINSETUPAPI BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet,
                                                    PSP_DEVINFO_DATA DeviceInfoData,
                                                    PSTR DeviceInstanceId,
                                                    DWORD DeviceInstanceIdSize,
                                                    PDWORD RequiredSize);
/* INVALID_HANDLE_VALUE (as an HKEY) on failure, with GetLastError telling why. */
WINSETUPAPI HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet,
                                             PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                             DWORD HwProfile, DWORD KeyType, REGSAM samDesired);
