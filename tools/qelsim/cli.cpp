#include "cli.h"

#include "commands.h"
#include "machine/numbers.h"

#include <algorithm>

namespace qelsim {

namespace {

using CommandGroup = void (*)(CLI::App&, Context&);

constexpr CommandGroup command_groups[] = {
    addDemoCommand, addInitCommand, addCardCommands, addSystemCommands,
    addRegCommands, addRunCommand,  addPnpCommands,  addPowerCommands,
    addPortsCommand,
};

constexpr const char* description =
    "qelsim boots a simulated Windows XP machine with PCI serial cards, on which Plug and Play "
    "loads the card's bus driver, and tells what happens.";

// "the commands of card are: add list".
std::string commandList(CLI::App& app, const std::string& path) {
    std::string text = "the commands";
    if (!path.empty()) {
        text += " of " + path.substr(0, path.size() - 1);
    }
    text += " are:";
    for (const CLI::App* command : app.get_subcommands(std::function<bool(CLI::App*)>{})) {
        text += " " + command->get_name();
    }
    return text;
}

// The first word that stands where a command belongs but names none ("frobnicate" in
// "qelsim --machine m frobnicate"), as a message; empty when every command word is known.
std::string unknownCommand(CLI::App& app, const Context& ctx,
                           const std::vector<std::string>& words) {
    CLI::App* at = &app;
    std::string path;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.rfind('-', 0) == 0) {
            const CLI::Option* option = at->get_option_no_throw(word);
            if (option != nullptr && option->get_expected_min() > 0 &&
                word.find('=') == std::string::npos) {
                ++i; // the option's value
            }
            continue;
        }
        const auto commands = at->get_subcommands(std::function<bool(CLI::App*)>{});
        if (commands.empty()) {
            return ""; // an argument of the command
        }
        const auto found = std::find_if(commands.begin(), commands.end(),
                                        [&](const CLI::App* c) { return c->get_name() == word; });
        if (found == commands.end()) {
            std::string text = "unknown command \"" + path + word + "\"";
            if (at == &app && word == "pnp" && ctx.scope == Scope::commandLine) {
                return text + ": pnp actions go in a script, run with: qelsim --machine DIR run "
                              "SCRIPT";
            }
            return text + " (" + commandList(*at, path) + ")";
        }
        at = *found;
        path += word + " ";
    }
    if (!at->get_subcommands(std::function<bool(CLI::App*)>{}).empty()) {
        return "no command given (" + commandList(*at, path) + ")";
    }
    return "";
}

// What is wrong with the words, for a person.
std::string parseErrorText(CLI::App& app, const Context& ctx, const std::vector<std::string>& words,
                           const CLI::ParseError& e) {
    std::string text = unknownCommand(app, ctx, words);
    return text.empty() ? std::string(e.what()) : text;
}

} // namespace

const std::string& requireMachineDir(const Context& ctx) {
    if (ctx.machineDir.empty()) {
        throw Failure(exit_bad_input, "this command needs a machine: qelsim --machine DIR ...");
    }
    return ctx.machineDir;
}

std::uint64_t numberOption(const std::string& option, const std::string& text, std::uint64_t max) {
    const auto value = winsim::machine::parseNumber(text, max);
    if (!value) {
        throw Failure(exit_bad_input, option + ": \"" + text + "\" is not a number from 0 to " +
                                          winsim::machine::hex(max, 1) +
                                          " (write it in decimal or as 0x followed by hex digits)");
    }
    return *value;
}

unsigned portCountOption(const std::string& option, const std::string& text) {
    const auto value = winsim::machine::parseNumber(text, 8);
    if (!value || (*value != 1 && *value != 2 && *value != 4 && *value != 8)) {
        throw Failure(exit_bad_input, option + ": \"" + text +
                                          "\" is not a port count; a card has 1, 2, 4 or 8 ports");
    }
    return static_cast<unsigned>(*value);
}

void addCommands(CLI::App& app, Context& ctx) {
    app.require_subcommand(1);
    for (const CommandGroup group : command_groups) {
        group(app, ctx);
    }
}

int runCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Context ctx(out, err);
    CLI::App app(description, "qelsim");
    app.add_option("--machine", ctx.machineDir, "The machine's folder")->option_text("DIR");
    addCommands(app, ctx);
    try {
        try {
            app.parse(argc, argv);
        } catch (const CLI::CallForHelp&) {
            out << app.help();
            return exit_ok;
        } catch (const CLI::CallForAllHelp&) {
            out << app.help("", CLI::AppFormatMode::All);
            return exit_ok;
        } catch (const CLI::ParseError& e) {
            const std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
            throw Failure(exit_bad_input, parseErrorText(app, ctx, words, e) +
                                              "\nRun qelsim --help to see the commands.");
        }
        return ctx.action ? ctx.action() : exit_ok;
    } catch (const Failure& f) {
        err << "qelsim: " << f.what() << "\n";
        return f.code;
    } catch (const std::exception& e) {
        err << "qelsim: " << e.what() << "\n";
        return exit_failed;
    }
}

void parseScriptLine(const std::vector<std::string>& words, Context& ctx) {
    CLI::App app(description, "qelsim");
    addCommands(app, ctx);
    std::vector<std::string> reversed(words.rbegin(), words.rend()); // CLI11 takes them reversed
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        throw Failure(exit_bad_input, "--help works on qelsim's command line, not in scripts");
    } catch (const CLI::CallForAllHelp&) {
        throw Failure(exit_bad_input, "--help works on qelsim's command line, not in scripts");
    } catch (const CLI::ParseError& e) {
        throw Failure(exit_bad_input, parseErrorText(app, ctx, words, e));
    }
}

} // namespace qelsim
