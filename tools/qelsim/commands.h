// The command groups of qelsim, one file each. A group adds its commands to the parser for the
// scope in ctx (command line or script) and leaves out those that do not belong there.
// A new group is a new file and one line in the table in cli.cpp.
#pragma once

#include "cli.h"

namespace qelsim {

void addDemoCommand(CLI::App& app, Context& ctx);     // demo
void addInitCommand(CLI::App& app, Context& ctx);     // init
void addCardCommands(CLI::App& app, Context& ctx);    // card add | list
void addSystemCommands(CLI::App& app, Context& ctx);  // boot, devices
void addRegCommands(CLI::App& app, Context& ctx);     // reg export (and the two below)
void addRegEditCommands(CLI::App& reg, Context& ctx); // reg set | delete, below reg
void addPortsCommand(CLI::App& app, Context& ctx);    // ports
void addRunCommand(CLI::App& app, Context& ctx);      // run
void addPnpCommands(CLI::App& app, Context& ctx);     // pnp ACTION DEVICE (scripts)
void addPowerCommands(CLI::App& app, Context& ctx);   // power sleep STATE | wake

// Helpers for the groups.

// The number in an option's text (decimal or 0x-hexadecimal) or a Failure naming the option.
std::uint64_t numberOption(const std::string& option, const std::string& text, std::uint64_t max);

// A card's port count (1, 2, 4 or 8) from an option's text, or a Failure naming the option.
unsigned portCountOption(const std::string& option, const std::string& text);

// The key path below HKEY_LOCAL_MACHINE: "HKEY_LOCAL_MACHINE\" or "HKLM\" (any case) is taken
// off the front, and the root's own name alone names the whole registry.
std::string keyBelowRoot(std::string key);

} // namespace qelsim
