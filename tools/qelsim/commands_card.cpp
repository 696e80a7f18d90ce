// card add | list: the PCI serial cards in a machine.

#include "commands.h"

#include "machine/machine.h"
#include "machine/numbers.h"
#include "machine/pci_location.h"

namespace qelsim {

namespace {

using winsim::machine::hex;
using winsim::machine::Machine;
using winsim::pnp::CardConfig;

struct CardOptions {
    std::string ports;
    std::string configWord;
    std::string location;
    bool noLocation = false;
    std::string io;
    std::string irq;
};

// Highest I/O port address; a card's ports use 8 bytes each from its base.
constexpr std::uint64_t max_io = 0xFFFF;
constexpr std::uint64_t max_irq = 255;

Machine openMachine(const Context& ctx) {
    try {
        return Machine::open(requireMachineDir(ctx));
    } catch (const winsim::machine::MachineError& e) {
        throw Failure(exit_bad_input, e.what());
    }
}

std::string describeCard(const CardConfig& card) {
    const unsigned ports = winsim::machine::portsOfConfigWord(card.configWord);
    std::string text = ports ? std::to_string(ports) + (ports == 1 ? " port" : " ports")
                             : std::string("port count word ") + hex(card.configWord) +
                                   " (names no port count: the card will not start)";
    text += ", " + (card.location ? *card.location : std::string("location unreadable"));
    text += ", I/O " + hex(card.ioBase, 4) + ", IRQ " + std::to_string(card.irq);
    return text;
}

CardConfig cardFromOptions(const CardOptions& options, const Machine& machine) {
    CardConfig card;
    if (!options.configWord.empty()) {
        card.configWord = static_cast<std::uint32_t>(
            numberOption("--config-word", options.configWord, UINT32_MAX));
    } else {
        const unsigned ports =
            options.ports.empty() ? 4 : portCountOption("--ports", options.ports);
        card.configWord = winsim::machine::configWordOfPorts(ports);
    }
    if (options.noLocation) {
        card.location.reset();
    } else if (!options.location.empty()) {
        card.location = options.location;
        const auto position = winsim::machine::parsePciLocation(options.location);
        for (std::size_t i = 0; i < machine.config().cards.size(); ++i) {
            const auto& other = machine.config().cards[i].location;
            if (other && (*other == options.location ||
                          (position && winsim::machine::parsePciLocation(*other) == position))) {
                throw Failure(exit_bad_input, "--location: card " + std::to_string(i + 1) +
                                                  " is already at " + *other);
            }
        }
    } else {
        std::vector<std::optional<std::string>> taken;
        for (const auto& other : machine.config().cards) {
            taken.push_back(other.location);
        }
        card.location =
            winsim::machine::formatPciLocation(winsim::machine::nextFreePciPosition(taken));
    }
    const auto& cards = machine.config().cards;
    const unsigned ports = winsim::machine::portsOfConfigWord(card.configWord);
    card.ioBase = options.io.empty()
                      ? winsim::machine::nextFreeIoBase(cards, ports)
                      : static_cast<std::uint32_t>(numberOption("--io", options.io, max_io));
    const winsim::machine::IoRange range = winsim::machine::ioRangeOf(card);
    if (range.last > max_io) {
        throw Failure(exit_bad_input, "--io: the card's registers " + hex(range.first, 4) + "-" +
                                          hex(range.last, 4) +
                                          " run past the end of I/O space (0xFFFF)");
    }
    for (std::size_t i = 0; i < cards.size(); ++i) {
        const winsim::machine::IoRange other = winsim::machine::ioRangeOf(cards[i]);
        if (range.overlaps(other)) {
            throw Failure(exit_bad_input, "--io: the card's registers " + hex(range.first, 4) +
                                              "-" + hex(range.last, 4) + " overlap those of card " +
                                              std::to_string(i + 1) + " (" + hex(other.first, 4) +
                                              "-" + hex(other.last, 4) + ")");
        }
    }
    if (!options.irq.empty()) {
        card.irq = static_cast<std::uint32_t>(numberOption("--irq", options.irq, max_irq));
    }
    return card;
}

void addCardAdd(CLI::App& card, Context& ctx) {
    auto options = std::make_shared<CardOptions>();
    CLI::App* add = card.add_subcommand("add", "Put a PCI serial card into the next free slot");
    auto* ports = add->add_option("--ports", options->ports, "Number of ports: 1, 2, 4 or 8")
                      ->option_text("N (default 4)");
    auto* word = add->add_option("--config-word", options->configWord,
                                 "The word at PCI config offset 0x2C, which names the port count")
                     ->option_text("0xHHHHHHHH");
    ports->excludes(word);
    auto* location =
        add->add_option("--location", options->location, "The card's PCI location text")
            ->option_text("TEXT (default: next free, from "
                          "\"PCI bus 2, device 13, function 0\")");
    auto* noLocation =
        add->add_flag("--no-location", options->noLocation, "The location cannot be read");
    location->excludes(noLocation);
    add->add_option("--io", options->io, "Start of the card's I/O range")
        ->option_text("0xHHHH (default 0x300)");
    add->add_option("--irq", options->irq, "The card's interrupt")->option_text("N (default 5)");
    add->callback([&ctx, options] {
        ctx.action = [&ctx, options] {
            Machine machine = openMachine(ctx);
            if (machine.config().cards.size() >= winsim::machine::max_cards) {
                throw Failure(exit_bad_input, "the machine already has " +
                                                  std::to_string(winsim::machine::max_cards) +
                                                  " cards, the most it can hold");
            }
            const CardConfig card = cardFromOptions(*options, machine);
            machine.config().cards.push_back(card);
            try {
                machine.saveConfig();
            } catch (const winsim::machine::MachineError& e) {
                throw Failure(exit_failed, e.what());
            }
            ctx.out << "Card " << machine.config().cards.size() << " added: " << describeCard(card)
                    << ".\n";
            return exit_ok;
        };
    });
}

void addCardList(CLI::App& card, Context& ctx) {
    CLI::App* list = card.add_subcommand("list", "List the machine's cards");
    list->callback([&ctx] {
        ctx.action = [&ctx] {
            const Machine machine = openMachine(ctx);
            if (machine.config().cards.empty()) {
                ctx.out << "No cards.\n";
            }
            int number = 1;
            for (const auto& card : machine.config().cards) {
                ctx.out << "Card " << number++ << ": " << describeCard(card) << "\n";
            }
            return exit_ok;
        };
    });
}

} // namespace

void addCardCommands(CLI::App& app, Context& ctx) {
    if (ctx.scope != Scope::commandLine) {
        return;
    }
    CLI::App* card = app.add_subcommand("card", "The machine's PCI serial cards");
    card->require_subcommand(1);
    addCardAdd(*card, ctx);
    addCardList(*card, ctx);
}

} // namespace qelsim
