#include "session.h"

#include "cli.h"

namespace qelsim {

namespace {

using winsim::machine::Machine;
using winsim::machine::MachineError;

std::string machineSummary(const Machine& machine) {
    const std::size_t cards = machine.config().cards.size();
    return "Windows XP, " + std::to_string(cards) + (cards == 1 ? " card" : " cards");
}

} // namespace

Session::Session(Machine machine, Narrator& narrator, std::ostream& out, std::ostream& err)
    : machine_(std::move(machine)), narrator_(narrator), out_(out), err_(err) {
    try {
        running_ = std::make_unique<winsim::machine::RunningMachine>(
            machine_, [this](const winsim::pnp::Event& event) { narrator_(event); });
    } catch (const MachineError& e) {
        throw Failure(exit_bad_input, e.what());
    }
    checkCrash();
    const NTSTATUS status = running_->bootStatus();
    if (!NT_SUCCESS(status)) {
        throw Failure(exit_failed, "the machine did not boot: " + winsim::pnp::statusName(status));
    }
}

Session::~Session() = default;

void Session::checkCrash() const {
    if (running_->pnp().crashed()) {
        throw Failure(exit_crashed,
                      "the simulated Windows crashed:\n" + running_->pnp().crashText());
    }
}

int Session::finish(bool showBalance) {
    const winsim::machine::ShutdownReport report = running_->shutdown();
    checkCrash();
    if (showBalance) {
        for (const std::string& line : report.balance) {
            out_ << line << "\n";
        }
    }
    if (!report.problems.empty()) {
        for (const std::string& problem : report.problems) {
            err_ << "qelsim: " << problem << "\n";
        }
        err_ << "qelsim: the driver left problems behind at shutdown; the registry was not saved\n";
        return exit_failed;
    }
    try {
        machine_.saveRegistry(running_->registry());
    } catch (const MachineError& e) {
        throw Failure(exit_failed, e.what());
    }
    return exit_ok;
}

int withRunningMachine(Context& ctx, Telling telling, const std::function<void(Session&)>& body) {
    if (ctx.session != nullptr) {
        body(*ctx.session);
        return exit_ok;
    }
    Machine machine = [&] {
        try {
            return Machine::open(requireMachineDir(ctx));
        } catch (const MachineError& e) {
            throw Failure(exit_bad_input, e.what());
        }
    }();
    Narrator narrator(ctx.out);
    narrator.setSilent(!telling.narrate);
    narrator.setTrace(telling.trace);
    if (telling.narrate) {
        ctx.out << "Booting the machine in " << ctx.machineDir << " (" << machineSummary(machine)
                << ").\n";
    }
    Session session(std::move(machine), narrator, ctx.out, ctx.err);
    body(session);
    session.checkCrash();
    return session.finish(telling.showBalance);
}

} // namespace qelsim
