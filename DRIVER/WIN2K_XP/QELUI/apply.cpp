/*
 * apply.cpp - writing the page's settings when the applied page is released.
 */
#include "qelui.h"

/*
 * Writes the FIFO levels of every listed port. A port whose parameter key
 * has gone is dropped from the record (ComNumber 0).
 */
VOID ApplyPortSettings(PortPageContext* Context) {
    HKEY key;
    LONG port;

    assert(Context->PortCount <= MAX_CARD_PORTS);
    for (port = 0; port < Context->PortCount && port < MAX_CARD_PORTS; port++) {
        if (Context->ComNumber[port] == 0) {
            continue;
        }
        if (!OpenPortParameterKey(Context, port, &key)) {
            Context->ComNumber[port] = 0;
            continue;
        }
        WritePortFifoSettings(key, Context, port);
        RegCloseKey(key);
    }
}
