// The qelsim command line: the context every command works in, the exit codes, and the error a
// command throws to stop with a message.
#pragma once

#include "session.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace qelsim {

// Exit codes.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;    // the simulated machine misbehaved (leak, violation)
inline constexpr int exit_bad_input = 2; // usage, a bad value, a missing machine, unknown device
inline constexpr int exit_crashed = 3;   // the simulated Windows stopped with a bug check

// Thrown by a command to stop with a message on standard error and an exit code.
struct Failure : std::runtime_error {
    Failure(int code, const std::string& message) : std::runtime_error(message), code(code) {}
    int code;
};

// Where a command can be given: on qelsim's command line, in a script run by `run`, or both.
enum class Scope { commandLine, script };

struct Context {
    Context(std::ostream& out, std::ostream& err, Scope scope = Scope::commandLine,
            Session* session = nullptr)
        : out(out), err(err), scope(scope), session(session) {}

    std::ostream& out;
    std::ostream& err;
    Scope scope = Scope::commandLine;
    std::string machineDir;      // --machine; command line only
    Session* session = nullptr;  // in a script: the machine that `run` booted
    std::function<int()> action; // set by the command that the parser chose
};

// The machine folder named by --machine; a Failure when none was given.
const std::string& requireMachineDir(const Context& ctx);

// Fills the parser with the commands of the scope; each command's callback sets ctx.action.
void addCommands(CLI::App& app, Context& ctx);

// The whole program: parses the arguments and runs the chosen command.
int runCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Parses one line of a script (already split into words) into ctx.action; a Failure names what
// is wrong.
void parseScriptLine(const std::vector<std::string>& words, Context& ctx);

} // namespace qelsim
