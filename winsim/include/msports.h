/*
 * The COM port database (msports): which COM numbers are taken. It is kept in the registry, in
 * "SYSTEM\CurrentControlSet\Control\COM Name Arbiter", value "ComDB": a bitmap in which COMn is
 * bit n-1, least significant bit first in each byte.
 */
#pragma once

#include "windef.h"
#include "winerror.h"

struct HCOMDB__;
typedef struct HCOMDB__* HCOMDB;
typedef HCOMDB* PHCOMDB;

#define HCOMDB_INVALID_HANDLE_VALUE ((HCOMDB)INVALID_HANDLE_VALUE)

#define COMDB_MIN_PORTS_ARBITRATED 256
#define COMDB_MAX_PORTS_ARBITRATED 4096

#define CDB_REPORT_BITS 0x0
#define CDB_REPORT_BYTES 0x1

WINSIM_API LONG WINAPI ComDBOpen(PHCOMDB PHComDB);
WINSIM_API LONG WINAPI ComDBClose(HCOMDB HComDB);
WINSIM_API LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize,
                                                ULONG ReportType, LPDWORD MaxPortsReported);
WINSIM_API LONG WINAPI ComDBClaimNextFreePort(HCOMDB HComDB, LPDWORD ComNumber);
WINSIM_API LONG WINAPI ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim,
                                      PBOOL Forced);
WINSIM_API LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber);
WINSIM_API LONG WINAPI ComDBResizeDatabase(HCOMDB HComDB, DWORD NewSize);
