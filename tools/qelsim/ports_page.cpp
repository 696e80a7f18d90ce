#include "ports_page.h"

#include "user/device_manager.h"

// The provider's own record and tables: the page shows its levels through these.
#include <qelui.h>

#include <algorithm>
#include <cstdio>

namespace qelsim {

namespace {

std::string rxText(BYTE index) {
    return index < RX_LEVEL_COUNT ? RxLevels[index].Text : "?" + std::to_string(index);
}

std::string txText(BYTE level) {
    if (level == TX_LEVEL_NONE) {
        return TX_LEVEL_NONE_TEXT;
    }
    char text[16];
    std::snprintf(text, sizeof text, TX_LEVEL_FORMAT, static_cast<int>(level));
    return text;
}

std::vector<PortRow> rowsOf(const PortPageContext& page) {
    std::vector<PortRow> rows;
    const LONG count = std::clamp<LONG>(page.PortCount, 0, MAX_CARD_PORTS);
    for (LONG port = 0; port < count; ++port) {
        rows.push_back(PortRow{static_cast<int>(port), static_cast<long>(page.ComNumber[port]),
                               rxText(page.RxLevelIndex[port]), txText(page.TxLevel[port])});
    }
    return rows;
}

} // namespace

std::vector<std::string> leftoversOf(const winsim::user::Session& session) {
    std::vector<std::string> left;
    for (const std::string& key : session.open_keys()) {
        left.push_back("registry key left open: " + key);
    }
    const auto count = [&left](std::size_t n, const char* what) {
        if (n != 0) {
            left.push_back(std::to_string(n) + " " + what);
        }
    };
    count(session.open_device_info_sets(), "device information sets left open");
    count(session.loaded_modules(), "modules left loaded");
    count(session.live_property_pages(), "property sheet pages left alive");
    count(session.live_windows(), "windows left alive");
    count(session.open_comdb_handles(), "COM port database handles left open");
    for (const std::string& error : session.errors()) {
        left.push_back(error);
    }
    return left;
}

CardPage readCardPage(winsim::user::Session& session, const std::string& instance) {
    CardPage card;
    card.instance = instance;
    {
        winsim::user::DeviceManager manager(session);
        const winsim::user::OpenResult opened = manager.open(instance);
        card.provider = opened.provider;
        const auto pages = manager.page_lparams();
        if (!opened.ok) {
            card.error = opened.error;
        } else if (!opened.provider_result) {
            card.error = "the property-page provider " + opened.provider +
                         " refused the card's page: it could not load the card's ports";
        } else if (pages.empty()) {
            card.error = "the property-page provider " + opened.provider + " added no page";
        } else {
            card.ports = rowsOf(*reinterpret_cast<const PortPageContext*>(pages.front()));
        }
        if (manager.is_open()) {
            manager.cancel();
        }
    }
    return card;
}

} // namespace qelsim
