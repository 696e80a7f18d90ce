// The record a test property-page provider keeps behind its page.
#pragma once

#include <windows.h>
#include <setupapi.h>

struct ProviderRecord {
    HDEVINFO DeviceInfoSet;
    PSP_DEVINFO_DATA DeviceInfoData;
    DWORD Ports;
    char Location[256];
    BOOL Initialised;
    BOOL ApplyRequested;
};
