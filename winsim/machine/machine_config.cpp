// machine.json:
//   { "format": "qelsim machine", "version": 1, "os": "xp",
//     "cards": [ { "config_word": "0x00040000", "location": "PCI bus 2, device 13, function 0",
//                  "io_base": "0x0300", "irq": 5, "start_status": "0x00000000",
//                  "fail_config_read": false, "complete_later": false,
//                  "translated_port_as_memory": false }, ... ] }
// Numbers that a person reads as hexadecimal are kept as "0x..." strings. "location" is null for
// a card whose location text cannot be read. Only "config_word" is required in a card.

#include "machine/machine_config.h"

#include "machine/numbers.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace winsim::machine {

namespace {

using json = nlohmann::json;

constexpr const char* format_name = "qelsim machine";

json cardToJson(const pnp::CardConfig& card) {
    return json{
        {"config_word", hex(card.configWord)},
        {"location", card.location ? json(*card.location) : json(nullptr)},
        {"io_base", hex(card.ioBase, 4)},
        {"irq", card.irq},
        {"start_status", hex(static_cast<std::uint32_t>(card.startStatus))},
        {"fail_config_read", card.failConfigRead},
        {"complete_later", card.completeLater},
        {"translated_port_as_memory", card.translatedPortAsMemory},
    };
}

std::uint32_t hexField(const json& card, const char* name, std::uint64_t max) {
    const json& field = card.at(name);
    if (!field.is_string()) {
        throw ConfigError(std::string("\"") + name + "\" must be a string such as \"0x300\"");
    }
    const auto value = parseNumber(field.get<std::string>(), max);
    if (!value) {
        throw ConfigError(std::string("\"") + name +
                          "\" is not a number in range: " + field.get<std::string>());
    }
    return static_cast<std::uint32_t>(*value);
}

bool flagField(const json& card, const char* name) {
    if (!card.contains(name)) {
        return false;
    }
    if (!card[name].is_boolean()) {
        throw ConfigError(std::string("\"") + name + "\" must be true or false");
    }
    return card[name].get<bool>();
}

pnp::CardConfig cardFromJson(const json& card) {
    if (!card.is_object()) {
        throw ConfigError("a card must be an object");
    }
    if (!card.contains("config_word")) {
        throw ConfigError("a card has no \"config_word\"");
    }
    pnp::CardConfig out;
    out.configWord = hexField(card, "config_word", UINT32_MAX);
    if (card.contains("location")) {
        const json& location = card["location"];
        if (location.is_null()) {
            out.location.reset();
        } else if (location.is_string()) {
            out.location = location.get<std::string>();
        } else {
            throw ConfigError("\"location\" must be a string or null");
        }
    }
    if (card.contains("io_base")) {
        out.ioBase = hexField(card, "io_base", 0xFFFF);
    }
    if (card.contains("irq")) {
        const json& irq = card["irq"];
        if (!irq.is_number_unsigned() || irq.get<std::uint64_t>() > 255) {
            throw ConfigError("\"irq\" must be a number from 0 to 255");
        }
        out.irq = irq.get<std::uint32_t>();
    }
    if (card.contains("start_status")) {
        out.startStatus = static_cast<NTSTATUS>(hexField(card, "start_status", UINT32_MAX));
    }
    out.failConfigRead = flagField(card, "fail_config_read");
    out.completeLater = flagField(card, "complete_later");
    out.translatedPortAsMemory = flagField(card, "translated_port_as_memory");
    return out;
}

} // namespace

bool isKnownOs(std::string_view os) {
    return os == os_xp;
}

unsigned portsOfConfigWord(std::uint32_t word) {
    switch (word) {
    case 0x00010000:
        return 1;
    case 0x00020000:
        return 2;
    case 0x00040000:
        return 4;
    case 0x00080000:
        return 8;
    default:
        return 0;
    }
}

std::uint32_t configWordOfPorts(unsigned ports) {
    return static_cast<std::uint32_t>(ports) << 16;
}

IoRange ioRangeOf(const pnp::CardConfig& card) {
    const unsigned ports = std::max(1U, portsOfConfigWord(card.configWord));
    return IoRange{card.ioBase, card.ioBase + 8 * ports - 1};
}

std::uint32_t nextFreeIoBase(const std::vector<pnp::CardConfig>& cards, unsigned ports) {
    constexpr std::uint32_t first_base = 0x300;
    constexpr std::uint32_t step = 0x40;
    for (std::uint32_t base = first_base; base + step <= 0x10000; base += step) {
        const IoRange wanted{base, base + 8 * std::max(1U, ports) - 1};
        if (std::none_of(cards.begin(), cards.end(), [&](const pnp::CardConfig& card) {
                return ioRangeOf(card).overlaps(wanted);
            })) {
            return base;
        }
    }
    return first_base; // I/O space is full; with at most max_cards cards this cannot happen
}

std::string toJson(const MachineConfig& config) {
    json cards = json::array();
    for (const auto& card : config.cards) {
        cards.push_back(cardToJson(card));
    }
    const json document{{"format", format_name},
                        {"version", config.version},
                        {"os", config.os},
                        {"cards", std::move(cards)}};
    return document.dump(2) + "\n";
}

MachineConfig fromJson(std::string_view text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        throw ConfigError(std::string("not valid JSON: ") + e.what());
    }
    if (!document.is_object() || document.value("format", json()) != format_name) {
        throw ConfigError("not a qelsim machine file");
    }
    MachineConfig config;
    if (document.value("version", json()) != config_version) {
        throw ConfigError("unsupported machine file version " +
                          document.value("version", json()).dump());
    }
    const json os = document.value("os", json());
    if (!os.is_string() || !isKnownOs(os.get<std::string>())) {
        throw ConfigError("unknown Windows version " + os.dump());
    }
    config.os = os.get<std::string>();
    const json cards = document.value("cards", json::array());
    if (!cards.is_array() || cards.size() > max_cards) {
        throw ConfigError("\"cards\" must be a list of at most " + std::to_string(max_cards) +
                          " cards");
    }
    try {
        for (const json& card : cards) {
            config.cards.push_back(cardFromJson(card));
        }
    } catch (const json::exception& e) {
        throw ConfigError(std::string("a card is malformed: ") + e.what());
    }
    return config;
}

} // namespace winsim::machine
