// power sleep S1|S2|S3|hibernate|shutdown, power wake: system power transitions of the running
// machine, with what every device received.

#include "commands.h"

#include "power_report.h"

namespace qelsim {

namespace {

struct SleepState {
    const char* name;
    SYSTEM_POWER_STATE state;
};

constexpr SleepState sleep_states[] = {
    {"S1", PowerSystemSleeping1},      {"S2", PowerSystemSleeping2},
    {"S3", PowerSystemSleeping3},      {"hibernate", PowerSystemHibernate},
    {"shutdown", PowerSystemShutdown},
};

SYSTEM_POWER_STATE stateNamed(const std::string& name) {
    for (const SleepState& s : sleep_states) {
        if (name == s.name) {
            return s.state;
        }
    }
    throw Failure(exit_bad_input, "power sleep: \"" + name +
                                      "\" is no sleep state (S1, S2, S3, hibernate or shutdown)");
}

// Runs the transition with its steps told, then shows every device.
int transition(Context& ctx, const std::string& command, SYSTEM_POWER_STATE state) {
    return withRunningMachine(ctx, Telling{}, [&](Session& session) {
        auto& pnp = session.running().pnp();
        const bool quiet = ctx.session == nullptr; // a script tells its own lines
        if (quiet) {
            session.narrator().setSilent(false);
        }
        const NTSTATUS status = pnp.setSystemPower(state);
        if (quiet) {
            session.narrator().setSilent(true);
        }
        ctx.out << command << ": " << winsim::pnp::statusName(status)
                << (NT_SUCCESS(status) ? "" : " (refused)") << "; the machine is "
                << (pnp.systemPower() == PowerSystemWorking
                        ? std::string("working")
                        : "in " + winsim::pnp::systemPowerName(pnp.systemPower()))
                << "\n";
        printPowerReport(ctx.out, pnp.devices());
    });
}

} // namespace

void addPowerCommands(CLI::App& app, Context& ctx) {
    CLI::App* power = app.add_subcommand("power", "Put the machine to sleep, or wake it");
    power->require_subcommand(1);

    auto state = std::make_shared<std::string>();
    CLI::App* sleep = power->add_subcommand(
        "sleep", "Sleep (S1, S2, S3), hibernate or shut down: query-power, then set-power, to "
                 "every device, children first");
    sleep->add_option("STATE", *state, "S1, S2, S3, hibernate or shutdown")->required();
    sleep->callback([&ctx, state] {
        const SYSTEM_POWER_STATE target = stateNamed(*state);
        ctx.action = [&ctx, state, target] {
            return transition(ctx, "power sleep " + *state, target);
        };
    });

    CLI::App* wake = power->add_subcommand(
        "wake", "Wake the machine: set-power to the working state, parents first");
    wake->callback([&ctx] {
        ctx.action = [&ctx] { return transition(ctx, "power wake", PowerSystemWorking); };
    });
}

} // namespace qelsim
