/*
 * resource.h - identifiers of qelui32's dialog templates and their controls.
 * Shared by qelui.rc and the C++ sources.
 */
#ifndef QELUI_RESOURCE_H
#define QELUI_RESOURCE_H

/* The "Ports" page and the change dialog of one port. */
#define IDD_PORT_PAGE 101
#define IDD_PORT_SETTINGS 102

/* Page controls. */
#define IDC_PORT_LIST 1000
#define IDC_CHANGE 1001

/* Change dialog controls. */
#define IDC_COM_LIST 1002
#define IDC_AUTO_NUMBER 1003
#define IDC_RX_ALL_PORTS 1004
#define IDC_TX_ALL_PORTS 1005
#define IDC_RX_LIST 1006
#define IDC_TX_LIST 1007

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
