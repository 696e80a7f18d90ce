/*
 * parse.cpp - numbers in texts: the card's PCI position in its location text
 * and the COM number in a port name.
 */
#include "qelui.h"

static BOOL IsDigit(CHAR Character) {
    return Character >= '0' && Character <= '9';
}

/*
 * Value of the leading decimal digits; 0 when there are none. Wraps around
 * past 32 bits instead of checking for overflow.
 */
LONG ParseDecimal(LPCSTR Text) {
    DWORD value = 0;

    while (IsDigit(*Text)) {
        value = value * 10 + (DWORD)(*Text - '0');
        Text++;
    }
    return (LONG)value;
}

/*
 * Finds three runs of digits (bus, device, function) and writes the low
 * eight bits of each as two upper-case hexadecimal digits: the first six
 * digits of the card's port instance IDs. The first two runs must be followed
 * by another character; the third may end the text. On failure Prefix is
 * left as it was.
 */
BOOL ParseLocationPrefix(LPSTR Prefix, LPCSTR Location) {
    DWORD numbers[3];
    int found;

    for (found = 0; found < 3; found++) {
        while (*Location != '\0' && !IsDigit(*Location)) {
            Location++;
        }
        if (*Location == '\0') {
            return FALSE;
        }
        numbers[found] = (DWORD)ParseDecimal(Location);
        while (IsDigit(*Location)) {
            Location++;
        }
        if (found < 2 && *Location == '\0') {
            return FALSE;
        }
    }
    wsprintfA(Prefix, "%02X%02X%02X", (int)(numbers[0] & 0xFF), (int)(numbers[1] & 0xFF),
              (int)(numbers[2] & 0xFF));
    return TRUE;
}
