// reg set | delete: changing the machine's registry as a person does with regedit, in the saved
// machine (no boot) or, in a script, in the running one.

#include "commands.h"

#include "machine/machine.h"
#include "machine/numbers.h"
#include "registry/names.h"
#include "registry/value_codec.h"

namespace qelsim {

namespace {

namespace reg = winsim::reg;

struct SetOptions {
    std::string key;
    std::string name;
    std::string type;
    std::vector<std::string> values;
};

struct DeleteOptions {
    std::string key;
    std::optional<std::string> name;
};

// regedit's name for the key's default value.
constexpr std::string_view default_value_name = "@";

// Command-line text is UTF-8; the registry holds Latin-1.
std::string latin1(const std::string& what, const std::string& text) {
    auto converted = reg::utf8_to_latin1(text);
    if (!converted) {
        throw Failure(exit_bad_input, what + " \"" + text +
                                          "\" holds characters the registry cannot store "
                                          "(only Latin-1 text can be stored)");
    }
    return *converted;
}

std::string valueName(const std::string& name) {
    return name == default_value_name ? std::string() : latin1("the value name", name);
}

std::string shownName(const std::string& name) {
    return name.empty() ? "the default value (@)" : "\"" + name + "\"";
}

void expectOne(const SetOptions& options, const std::string& type) {
    if (options.values.size() != 1) {
        throw Failure(exit_bad_input, type + " takes one value, not " +
                                          std::to_string(options.values.size()) +
                                          " (put a text with blanks in quotes)");
    }
}

// "01 02 ff", "01,02,ff" or several words of them; each byte one or two hex digits.
reg::Bytes hexBytes(const std::vector<std::string>& words) {
    reg::Bytes bytes;
    for (const std::string& word : words) {
        std::string token;
        const auto flush = [&] {
            if (token.empty()) {
                return;
            }
            const auto byte =
                token.size() <= 2 ? winsim::machine::parseNumber("0x" + token, 0xFF) : std::nullopt;
            if (!byte) {
                throw Failure(exit_bad_input,
                              "REG_BINARY: \"" + token +
                                  "\" is not a byte; write bytes as hex pairs, e.g. 01,02,ff");
            }
            bytes.push_back(static_cast<std::uint8_t>(*byte));
            token.clear();
        };
        for (const char c : word) {
            if (c == ',' || c == ' ') {
                flush();
            } else {
                token.push_back(c);
            }
        }
        flush();
    }
    return bytes;
}

// The strings of a REG_MULTI_SZ: every word, split further at the two characters "\0". A single
// empty word is the empty list.
std::vector<std::string> multiStrings(const std::vector<std::string>& words) {
    std::vector<std::string> strings;
    if (words.size() == 1 && words.front().empty()) {
        return strings;
    }
    for (const std::string& word : words) {
        std::size_t at = 0;
        while (true) {
            const std::size_t end = word.find("\\0", at);
            strings.push_back(latin1("the REG_MULTI_SZ value", word.substr(at, end - at)));
            if (end == std::string::npos) {
                break;
            }
            at = end + 2;
        }
    }
    for (const std::string& text : strings) {
        if (text.empty()) {
            throw Failure(exit_bad_input, "REG_MULTI_SZ: a string of the list is empty, which the "
                                          "registry cannot store");
        }
    }
    return strings;
}

struct Encoded {
    std::uint32_t type = reg::value_type::none;
    reg::Bytes data;
    std::string typeName;
};

Encoded encode(const SetOptions& options) {
    const std::string type = reg::upper_name(options.type);
    if (options.values.empty()) {
        throw Failure(exit_bad_input, "reg set needs a VALUE after the type");
    }
    if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
        expectOne(options, type);
        return {type == "REG_SZ" ? reg::value_type::sz : reg::value_type::expand_sz,
                reg::encode_string(latin1("the value", options.values.front())), type};
    }
    if (type == "REG_DWORD") {
        expectOne(options, type);
        const auto number = winsim::machine::parseNumber(options.values.front(), UINT32_MAX);
        if (!number) {
            throw Failure(exit_bad_input, "REG_DWORD: \"" + options.values.front() +
                                              "\" is not a number from 0 to 0xFFFFFFFF (write it "
                                              "in decimal or as 0x followed by hex digits)");
        }
        return {reg::value_type::dword, reg::encode_dword(static_cast<std::uint32_t>(*number)),
                type};
    }
    if (type == "REG_BINARY") {
        return {reg::value_type::binary, hexBytes(options.values), type};
    }
    if (type == "REG_MULTI_SZ") {
        return {reg::value_type::multi_sz, *reg::encode_multi_string(multiStrings(options.values)),
                type};
    }
    throw Failure(exit_bad_input, "unknown value type \"" + options.type +
                                      "\" (known: REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY, "
                                      "REG_MULTI_SZ)");
}

std::string keyPath(const std::string& key) {
    return keyBelowRoot(latin1("the key", key));
}

Failure badKey(const std::string& key) {
    return Failure(exit_bad_input, "not a registry key path: " + key);
}

// Runs the change on the running machine's registry in a script, else on the saved one, which is
// saved only when the change succeeds.
int editRegistry(Context& ctx, const std::function<std::string(reg::Registry&)>& change) {
    if (ctx.session != nullptr) {
        ctx.out << change(ctx.session->running().registry()) << "\n";
        return exit_ok;
    }
    try {
        const auto machine = winsim::machine::Machine::open(requireMachineDir(ctx));
        reg::Registry registry;
        machine.loadRegistry(registry);
        const std::string done = change(registry);
        machine.saveRegistry(registry);
        ctx.out << done << "\n";
    } catch (const winsim::machine::MachineError& e) {
        throw Failure(exit_bad_input, e.what());
    }
    return exit_ok;
}

std::string setValue(reg::Registry& registry, const SetOptions& options) {
    const std::string path = keyPath(options.key);
    const std::string name = valueName(options.name);
    const Encoded value = encode(options);
    const reg::CreateResult key = registry.create_key(path);
    if (key.status != reg::Status::ok) {
        throw badKey(options.key);
    }
    const reg::Status status = key.key->set_value(name, value.type, value.data);
    if (status != reg::Status::ok) {
        throw Failure(exit_bad_input, "cannot set " + shownName(name) + " in " + options.key +
                                          ": " + std::string(reg::to_string(status)));
    }
    return "Set " + shownName(name) + " (" + value.typeName + ") in " + options.key +
           (key.created ? " (a new key)" : "");
}

std::string deleteEntry(reg::Registry& registry, const DeleteOptions& options) {
    const std::string path = keyPath(options.key);
    std::shared_ptr<reg::Key> key;
    const reg::Status opened = registry.open_key(nullptr, path, key);
    if (opened == reg::Status::not_found) {
        throw Failure(exit_bad_input, "no such registry key: " + options.key);
    }
    if (opened != reg::Status::ok) {
        throw badKey(options.key);
    }
    if (options.name) {
        const std::string name = valueName(*options.name);
        const reg::Status status = key->delete_value(name);
        if (status == reg::Status::not_found) {
            throw Failure(exit_bad_input,
                          "no value " + shownName(name) + " in the key " + options.key);
        }
        if (status != reg::Status::ok) {
            throw Failure(exit_bad_input, "cannot delete " + shownName(name) + " in " +
                                              options.key + ": " +
                                              std::string(reg::to_string(status)));
        }
        return "Deleted the value " + shownName(name) + " in " + options.key;
    }
    if (path.empty()) {
        throw Failure(exit_bad_input, "HKEY_LOCAL_MACHINE itself cannot be deleted");
    }
    const reg::Status status = registry.delete_key(path, reg::DeleteMode::subtree);
    if (status != reg::Status::ok) {
        throw Failure(exit_bad_input, "cannot delete the key " + options.key + ": " +
                                          std::string(reg::to_string(status)));
    }
    return "Deleted the key " + options.key + " and everything below it";
}

constexpr const char* key_help =
    "e.g. \"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020D0000\\Device "
    "Parameters\" (the prefix HKEY_LOCAL_MACHINE\\ or HKLM\\ may be left out)";

} // namespace

void addRegEditCommands(CLI::App& reg, Context& ctx) {
    auto set = std::make_shared<SetOptions>();
    CLI::App* setCommand = reg.add_subcommand(
        "set", "Set a value (the key is made if it is missing), e.g. reg set KEY RxFIFO "
               "REG_DWORD 8");
    setCommand->add_option("KEY", set->key, key_help)->required();
    setCommand->add_option("NAME", set->name, "The value's name; @ for the key's default value")
        ->required();
    setCommand
        ->add_option("TYPE", set->type,
                     "REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY or REG_MULTI_SZ")
        ->required();
    setCommand
        ->add_option("VALUE", set->values,
                     "The data: a text; a number (decimal or 0x hex) for REG_DWORD; hex bytes "
                     "(01,02,ff) for REG_BINARY; for REG_MULTI_SZ several words, or strings "
                     "separated by \\0")
        ->required();
    setCommand->callback([&ctx, set] {
        // The value is checked at once, so that a script fails before the machine powers on.
        encode(*set);
        valueName(set->name);
        ctx.action = [&ctx, set] {
            return editRegistry(ctx, [set](reg::Registry& r) { return setValue(r, *set); });
        };
    });

    auto del = std::make_shared<DeleteOptions>();
    CLI::App* deleteCommand = reg.add_subcommand(
        "delete", "Delete a value, or without NAME a key and everything below it");
    deleteCommand->add_option("KEY", del->key, key_help)->required();
    deleteCommand->add_option("NAME", del->name, "The value's name; @ for the key's default value");
    deleteCommand->callback([&ctx, del] {
        ctx.action = [&ctx, del] {
            return editRegistry(ctx, [del](reg::Registry& r) { return deleteEntry(r, *del); });
        };
    });
}

} // namespace qelsim
