/*
 * settings.cpp - the encoding in which a port's FIFO levels are written for
 * the serial port driver.
 */
#include "qelui.h"

/*
 * Writes "ForceFifoEnable", "RxFIFO" and "TxFIFO", in that order, as 4-byte
 * REG_DWORDs into the port's open parameter key. The FIFO is forced on only
 * when both levels are set; a port with either level "N/A" is written 0, 0, 0
 * and so reads back with both levels "N/A".
 */
VOID WritePortFifoSettings(HKEY Key, const PortPageContext* Context, LONG Port) {
    BYTE rxIndex;
    DWORD forceFifo = 0;
    DWORD rxFifo = 0;
    DWORD txFifo = 0;

    assert(Port >= 0 && Port < MAX_CARD_PORTS);
    rxIndex = Context->RxLevelIndex[Port];
    if (rxIndex != RX_LEVEL_NONE && Context->TxLevel[Port] != TX_LEVEL_NONE) {
        forceFifo = 1;
        rxFifo = RxLevels[1].Written;
        if (rxIndex > 1 && rxIndex < RX_LEVEL_COUNT) {
            rxFifo = RxLevels[rxIndex].Written;
        }
        txFifo = Context->TxLevel[Port];
    }
    RegSetValueExA(Key, FORCE_FIFO_VALUE, 0, REG_DWORD, (const BYTE*)&forceFifo, sizeof(forceFifo));
    RegSetValueExA(Key, RX_FIFO_VALUE, 0, REG_DWORD, (const BYTE*)&rxFifo, sizeof(rxFifo));
    RegSetValueExA(Key, TX_FIFO_VALUE, 0, REG_DWORD, (const BYTE*)&txFifo, sizeof(txFifo));
}
