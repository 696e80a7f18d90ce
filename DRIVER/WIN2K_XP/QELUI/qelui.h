/*
 * qelui.h - chief header of qelui32, the property-page provider of the serial
 * card's PCI device.
 *
 * The device manager calls EnumPropPages for the card; qelui32 adds one page,
 * "Ports", listing every port of the card with its COM name and receive and
 * transmit FIFO levels. The page works on a PortPageContext; the settings are
 * written into each port's "Device Parameters" key when the page is released
 * after the sheet was applied. The values, types and encodings of those
 * settings are read by the serial port driver that runs each port, so the
 * tables below are a contract with it.
 */
#ifndef QELUI_H
#define QELUI_H

#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>
#include <assert.h>

#include "resource.h"

/*
 * Largest "Ports" count accepted. The per-port tables hold this many ports, so
 * every index below an accepted count fits; the bus driver reports at most 8.
 */
#define MAX_CARD_PORTS 32

/* Registry names and values travel in fixed buffers of this size. */
#define QEL_TEXT_SIZE 256

/* COM1 to COM256 can be chosen. */
#define MAX_COM_NUMBER 256

/*
 * The prefix of the port instance IDs of a card whose location text holds no
 * PCI position: the bus driver then gives the card location code 0.
 */
#define UNLOCATED_CARD_PREFIX "000000"

/*
 * Port keys under HKEY_LOCAL_MACHINE. %s is the card's LocationPrefix, %02X
 * the port index: the last component is the port's 8-digit instance ID.
 */
#define PORT_INSTANCE_KEY_FORMAT "SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\%s%02X"
#define PORT_PARAMETER_KEY_FORMAT PORT_INSTANCE_KEY_FORMAT "\\Device Parameters"

/* Value names. The card's "Ports" is written as "PORTS"; names match regardless of case. */
#define CARD_PORTS_VALUE "Ports"
#define PORT_NAME_VALUE "PORTNAME"
#define FORCE_FIFO_VALUE "ForceFifoEnable"
#define RX_FIFO_VALUE "RxFIFO"
#define TX_FIFO_VALUE "TxFIFO"

/*
 * Receive FIFO levels, by RxLevelIndex. Index 0 ("N/A") is stored only as
 * "ForceFifoEnable" 0; its read range is empty. The top level is shown as 14
 * but stored as 16. FIFO values are compared as unsigned 32-bit numbers.
 */
#define RX_LEVEL_COUNT 5
#define RX_LEVEL_NONE 0
#define RX_LEVEL_DEFAULT 4

typedef struct _RxLevelEntry {
    LPCSTR Text;   /* shown in the list and in the change dialog */
    DWORD Written; /* "RxFIFO" written for this level */
    DWORD ReadLow; /* "RxFIFO" values read back as this level */
    DWORD ReadHigh;
} RxLevelEntry;

static const RxLevelEntry RxLevels[RX_LEVEL_COUNT] = {
    {"N/A", 0, 1, 0},          /* only through "ForceFifoEnable" 0 */
    {"1", 1, 0, 1},            /* 0 and 1 */
    {"4", 4, 2, 4},            /* 2 to 4 */
    {"8", 8, 5, 8},            /* 5 to 8 */
    {"14", 16, 9, 0xFFFFFFFF}, /* 9 and above, and a missing "RxFIFO" */
};

/*
 * Transmit FIFO levels: TxLevel 0 is "N/A", 1 to 16 are shown as the number
 * and stored as it. A missing "TxFIFO" reads as 16; values are clamped to 1..16.
 */
#define TX_LEVEL_NONE 0
#define TX_LEVEL_MIN 1
#define TX_LEVEL_MAX 16
#define TX_LEVEL_DEFAULT 16
#define TX_LEVEL_NONE_TEXT "N/A"
#define TX_LEVEL_FORMAT "%d"

/*
 * The record behind one page: allocated zero-filled per page request, filled
 * by LoadCardPorts, shared by the page's dialogs and ApplyPortSettings, freed
 * when the page is released. A port whose ComNumber is 0 has no known COM
 * name: it is not listed and nothing is written for it.
 */
typedef struct _PortPageContext {
    LONG PortCount; /* 1 to MAX_CARD_PORTS */
    HDEVINFO DeviceInfoSet;
    PSP_DEVINFO_DATA DeviceInfoData;
    LONG SelectedPort;                  /* port whose change dialog is open */
    CHAR LocationPrefix[QEL_TEXT_SIZE]; /* six hexadecimal digits: bus, device, function */
    LONG ComNumber[MAX_CARD_PORTS];     /* 3 for COM3; 0 when unknown */
    BYTE ListRow[MAX_CARD_PORTS];       /* row of a listed port in the page's list */
    BYTE RxLevelIndex[MAX_CARD_PORTS];  /* 0 to RX_LEVEL_COUNT - 1 */
    BYTE TxLevel[MAX_CARD_PORTS];       /* 0 ("N/A") to TX_LEVEL_MAX */
    /* The port's name in the SerialComm map, found when its old COM name is given up. */
    CHAR DeviceName[MAX_CARD_PORTS][QEL_TEXT_SIZE];
    BOOL ApplyRequested; /* the sheet sent PSN_APPLY */
} PortPageContext;

/* Process-wide state. */
extern HINSTANCE ModuleHandle; /* for the dialog templates */
extern HWND OwnerWindow;       /* owner of the messages shown while applying */

/* Exports. */
extern "C" BOOL WINAPI EnumPropPages(PSP_PROPSHEETPAGE_REQUEST Request,
                                     LPFNADDPROPSHEETPAGE AddPage, LPARAM AddPageParam);
extern "C" BOOL WINAPI LibMain(HINSTANCE Module, DWORD Reason, LPVOID Reserved);

/* propage.cpp */
VOID AddPortPage(PortPageContext* Context, LPFNADDPROPSHEETPAGE AddPage, LPARAM AddPageParam);
UINT CALLBACK PortPageCallback(HWND Window, UINT Message, LPPROPSHEETPAGEA Page);

/* pagedlg.cpp */
INT_PTR CALLBACK PortPageDlgProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

/* ports.cpp */
BOOL LoadCardPorts(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                   PortPageContext* Context);
VOID ReadPortSettings(PortPageContext* Context, LONG Port);
BOOL OpenPortParameterKey(const PortPageContext* Context, LONG Port, PHKEY Key);
BOOL QueryDwordValue(HKEY Key, LPCSTR Name, LPDWORD Value);

/* parse.cpp */
BOOL ParseLocationPrefix(LPSTR Prefix, LPCSTR Location);
LONG ParseDecimal(LPCSTR Text);

/* settings.cpp */
VOID WritePortFifoSettings(HKEY Key, const PortPageContext* Context, LONG Port);

/* apply.cpp */
VOID ApplyPortSettings(PortPageContext* Context);

#endif
