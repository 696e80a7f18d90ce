// ports: the card's "Ports" page as the device manager gets it from the property-page provider.

#include "commands.h"

#include "ports_page.h"
#include "registry/names.h"
#include "user_side.h"

#include <nlohmann/json.hpp>

#include <iomanip>

namespace qelsim {

namespace {

using nlohmann::ordered_json;

struct PortsOptions {
    bool json = false;
    std::string card; // "" for every card
};

// The cards of the machine (the devices the card's bus driver runs), or the one asked for.
std::vector<std::string> cardsOf(const winsim::pnp::PnpManager& pnp, const std::string& wanted) {
    std::vector<std::string> cards;
    for (const auto& device : pnp.devices()) {
        if (winsim::reg::names_equal(device.service, "qelmf")) {
            cards.push_back(device.instance);
        }
    }
    if (wanted.empty()) {
        return cards;
    }
    for (const std::string& card : cards) {
        if (winsim::reg::names_equal(card, wanted)) {
            return {card};
        }
    }
    std::string known;
    for (const std::string& card : cards) {
        known += (known.empty() ? "" : ", ") + card;
    }
    throw Failure(exit_bad_input,
                  "--card: no card " + wanted + " (" +
                      (known.empty() ? "the machine has no card" : "the cards are: " + known) +
                      ")");
}

std::string portName(const PortRow& port) {
    return "port-" + std::to_string(port.index + 1);
}

ordered_json cardJson(const CardPage& card) {
    ordered_json ports = ordered_json::array();
    for (const PortRow& port : card.ports) {
        ports.push_back(
            {{"port", portName(port)}, {"com", port.com}, {"rx", port.rx}, {"tx", port.tx}});
    }
    ordered_json out = {{"instance", card.instance}};
    if (!card.error.empty()) {
        out["error"] = card.error;
    }
    out["ports"] = std::move(ports);
    return out;
}

void printCard(std::ostream& out, const CardPage& card) {
    out << "Card " << card.instance << "\n";
    if (!card.error.empty()) {
        out << "  no page: " << card.error << "\n";
        return;
    }
    out << "  \"Ports\" page of " << card.provider << ", " << card.ports.size()
        << (card.ports.size() == 1 ? " port" : " ports") << ":\n";
    out << "    " << std::left << std::setw(9) << "port" << std::setw(10) << "COM name"
        << std::setw(14) << "receive FIFO"
        << "transmit FIFO\n";
    for (const PortRow& port : card.ports) {
        out << "    " << std::setw(9) << portName(port);
        if (port.com == 0) {
            out << "none (the port has no COM name and is not listed)\n";
            continue;
        }
        out << std::setw(10) << ("COM" + std::to_string(port.com)) << std::setw(14) << port.rx
            << port.tx << "\n";
    }
    out << std::right;
}

int showPorts(Context& ctx, const PortsOptions& options) {
    bool refused = false;
    bool leftovers = false;
    const int code = withRunningMachine(ctx, Telling{}, [&](Session& session) {
        const auto cards = cardsOf(session.running().pnp(), options.card);
        std::vector<CardPage> pages;
        std::vector<std::string> left;
        {
            UserSide user(session.running());
            for (const std::string& card : cards) {
                pages.push_back(readCardPage(user.session(), card));
            }
            left = leftoversOf(user.session());
        }
        if (options.json) {
            ordered_json list = ordered_json::array();
            for (const CardPage& page : pages) {
                list.push_back(cardJson(page));
            }
            ctx.out << ordered_json{{"cards", std::move(list)}}.dump(2) << "\n";
        } else if (pages.empty()) {
            ctx.out << "The machine has no card (add one with: card add).\n";
        } else {
            for (const CardPage& page : pages) {
                printCard(ctx.out, page);
            }
        }
        for (const CardPage& page : pages) {
            if (!page.error.empty()) {
                ctx.err << "qelsim: " << page.instance << ": " << page.error << "\n";
                refused = true;
            }
        }
        for (const std::string& problem : left) {
            ctx.err << "qelsim: after the sheet closed: " << problem << "\n";
            leftovers = true;
        }
    });
    if (code != exit_ok) {
        return code;
    }
    return refused || leftovers ? exit_failed : exit_ok;
}

} // namespace

void addPortsCommand(CLI::App& app, Context& ctx) {
    auto options = std::make_shared<PortsOptions>();
    CLI::App* ports = app.add_subcommand(
        "ports", "Open the card's properties in the device manager and show what its \"Ports\" "
                 "page loaded for each port: COM name and FIFO levels");
    ports->add_flag("--json", options->json,
                    "As JSON: {\"cards\": [{\"instance\", \"ports\": [{\"port\", \"com\", \"rx\", "
                    "\"tx\"}]}]}");
    ports->add_option("--card", options->card, "Only the card with this device instance path")
        ->option_text("INSTANCE");
    ports->callback(
        [&ctx, options] { ctx.action = [&ctx, options] { return showPorts(ctx, *options); }; });
}

} // namespace qelsim
