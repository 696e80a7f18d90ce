// The card's "Ports" page as the device manager gets it: the card's properties are opened, the
// property-page provider registered for the card loads its ports, and the sheet is closed with
// Cancel, so that nothing is written.
#pragma once

#include "user/session.h"

#include <string>
#include <vector>

namespace qelsim {

struct PortRow {
    int index = 0;  // from 0; the page calls it "port-<index + 1>"
    long com = 0;   // the COM number, 0 when the port has no COM name (it is not listed)
    std::string rx; // the receive FIFO level as the page shows it: "N/A", "1", "4", "8", "14"
    std::string tx; // the transmit FIFO level: "N/A" or "1" to "16"
};

struct CardPage {
    std::string instance;
    std::string provider; // "qelui32.dll,EnumPropPages" as registered; "" when none is
    // Why there is no page, for a person; empty when the provider gave one.
    std::string error;
    std::vector<PortRow> ports;
};

// Opens the card's properties in the session's device manager and reads what the provider loaded.
CardPage readCardPage(winsim::user::Session& session, const std::string& instance);

// What providers left behind in the session once their sheets were closed (registry keys left
// open, modules left loaded, misuse of the platform ...), one sentence each.
std::vector<std::string> leftoversOf(const winsim::user::Session& session);

} // namespace qelsim
