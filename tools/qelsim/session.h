// A machine as a command uses it: opened from its folder, booted, and at the end shut down with
// its leak report checked and its registry saved.
#pragma once

#include "machine/machine.h"
#include "machine/running_machine.h"
#include "narrator.h"

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

namespace qelsim {

class Session {
  public:
    // Boots the machine; the narrator tells the boot unless it is silent. A crash during boot
    // throws the crash Failure.
    Session(winsim::machine::Machine machine, Narrator& narrator, std::ostream& out,
            std::ostream& err);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    winsim::machine::Machine& machine() { return machine_; }
    winsim::machine::RunningMachine& running() { return *running_; }
    Narrator& narrator() { return narrator_; }

    // Throws the crash Failure (exit 3, the STOP text) if the simulated Windows has crashed.
    void checkCrash() const;

    // Shuts the machine down. Leaks and verifier violations are printed on standard error and
    // give exit_failed; otherwise the registry is saved and exit_ok returned. With showBalance
    // the pool and reference balance is printed on standard output.
    int finish(bool showBalance);

  private:
    winsim::machine::Machine machine_;
    Narrator& narrator_;
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<winsim::machine::RunningMachine> running_;
};

// How a command wants the machine told.
struct Telling {
    bool narrate = false;     // tell the boot, event by event
    bool trace = false;       // ... including every single request
    bool showBalance = false; // tell the pool and reference balance at shutdown
};

// Opens the machine of ctx, boots it, runs body on it and finishes it: the shape of every
// command that needs the running system. In a script the machine is already running and body
// runs on it alone.
struct Context;
int withRunningMachine(Context& ctx, Telling telling, const std::function<void(Session&)>& body);

} // namespace qelsim
