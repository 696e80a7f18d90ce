/*
 * ports.cpp - finding the card's ports in the registry and reading each
 * port's COM number and FIFO levels into the page record.
 */
#include "qelui.h"

/*
 * Reads a 4-byte number, whatever its type. A value of another size counts
 * as unreadable: a shorter one would leave part of the number undefined.
 */
BOOL QueryDwordValue(HKEY Key, LPCSTR Name, LPDWORD Value) {
    DWORD data = 0;
    DWORD size = sizeof(data);

    if (RegQueryValueExA(Key, Name, NULL, NULL, (LPBYTE)&data, &size) != ERROR_SUCCESS ||
        size != sizeof(data)) {
        return FALSE;
    }
    *Value = data;
    return TRUE;
}

BOOL OpenPortParameterKey(const PortPageContext* Context, LONG Port, PHKEY Key) {
    CHAR path[QEL_TEXT_SIZE];

    assert(Port >= 0 && Port < MAX_CARD_PORTS);
    wsprintfA(path, PORT_PARAMETER_KEY_FORMAT, Context->LocationPrefix, (int)Port);
    return RegOpenKeyA(HKEY_LOCAL_MACHINE, path, Key) == ERROR_SUCCESS;
}

BOOL LoadCardPorts(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                   PortPageContext* Context) {
    CHAR location[QEL_TEXT_SIZE];
    LPCSTR tail;
    LPCSTR scan;
    HKEY key;
    DWORD count;
    LONG port;

    ZeroMemory(Context, sizeof(*Context));
    Context->DeviceInfoSet = DeviceInfoSet;
    Context->DeviceInfoData = DeviceInfoData;

    /* A text that fills the buffer without its NUL is cut to fit. */
    ZeroMemory(location, sizeof(location));
    if (!SetupDiGetDeviceRegistryPropertyA(DeviceInfoSet, DeviceInfoData,
                                           SPDRP_LOCATION_INFORMATION, NULL, (PBYTE)location,
                                           sizeof(location), NULL)) {
        return FALSE;
    }
    location[sizeof(location) - 1] = '\0';

    key = SetupDiOpenDevRegKey(DeviceInfoSet, DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                               KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    if (!QueryDwordValue(key, CARD_PORTS_VALUE, &count) || (LONG)count < 1 ||
        (LONG)count > MAX_CARD_PORTS) {
        RegCloseKey(key);
        return FALSE;
    }
    Context->PortCount = (LONG)count;

    tail = location;
    for (scan = location; *scan != '\0'; scan++) {
        if (*scan == '\\') {
            tail = scan + 1;
        }
    }
    /* Without a PCI position the bus driver names the ports as at location 0. */
    if (!ParseLocationPrefix(Context->LocationPrefix, tail)) {
        lstrcpyA(Context->LocationPrefix, UNLOCATED_CARD_PREFIX);
    }
    RegCloseKey(key);

    for (port = 0; port < Context->PortCount; port++) {
        ReadPortSettings(Context, port);
    }
    return TRUE;
}

/*
 * A port without a readable "PORTNAME" gets ComNumber 0 and is not listed.
 * Missing FIFO values give the defaults; "ForceFifoEnable" 0 leaves both
 * levels "N/A".
 */
VOID ReadPortSettings(PortPageContext* Context, LONG Port) {
    CHAR name[QEL_TEXT_SIZE];
    DWORD size;
    DWORD value;
    HKEY key;
    LONG level;

    assert(Port >= 0 && Port < MAX_CARD_PORTS);
    Context->ComNumber[Port] = 0;
    Context->RxLevelIndex[Port] = RX_LEVEL_NONE;
    Context->TxLevel[Port] = TX_LEVEL_NONE;
    if (!OpenPortParameterKey(Context, Port, &key)) {
        return;
    }

    ZeroMemory(name, sizeof(name));
    size = sizeof(name);
    if (RegQueryValueExA(key, PORT_NAME_VALUE, NULL, NULL, (LPBYTE)name, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }
    name[sizeof(name) - 1] = '\0';
    /* The number follows the first three characters, whatever they are. */
    if (name[0] != '\0' && name[1] != '\0' && name[2] != '\0' && name[3] != '\0') {
        Context->ComNumber[Port] = ParseDecimal(&name[3]);
    }

    if (QueryDwordValue(key, FORCE_FIFO_VALUE, &value) && value == 0) {
        RegCloseKey(key);
        return;
    }

    Context->RxLevelIndex[Port] = RX_LEVEL_DEFAULT;
    if (QueryDwordValue(key, RX_FIFO_VALUE, &value)) {
        for (level = RX_LEVEL_NONE + 1; level < RX_LEVEL_COUNT; level++) {
            if (value >= RxLevels[level].ReadLow && value <= RxLevels[level].ReadHigh) {
                Context->RxLevelIndex[Port] = (BYTE)level;
                break;
            }
        }
    }

    Context->TxLevel[Port] = TX_LEVEL_DEFAULT;
    if (QueryDwordValue(key, TX_FIFO_VALUE, &value)) {
        if (value < TX_LEVEL_MIN) {
            value = TX_LEVEL_MIN;
        } else if (value > TX_LEVEL_MAX) {
            value = TX_LEVEL_MAX;
        }
        Context->TxLevel[Port] = (BYTE)value;
    }
    RegCloseKey(key);
}
