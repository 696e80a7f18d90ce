// boot and devices: the commands that power the machine on.

#include "commands.h"

#include "device_report.h"
#include "machine/numbers.h"

namespace qelsim {

namespace {

void addBoot(CLI::App& app, Context& ctx) {
    if (ctx.scope != Scope::commandLine) {
        return;
    }
    auto trace = std::make_shared<bool>(false);
    CLI::App* boot = app.add_subcommand(
        "boot", "Power the machine on, tell what Plug and Play does, and shut it down again");
    boot->add_flag("--trace", *trace, "Also tell every single Plug and Play request");
    boot->callback([&ctx, trace] {
        ctx.action = [&ctx, trace] {
            const Telling telling{.narrate = true, .trace = *trace, .showBalance = true};
            return withRunningMachine(ctx, telling, [&ctx](Session& session) {
                ctx.out << "\nDevices:\n";
                printDeviceTree(ctx.out, session.running().pnp().devices());
                ctx.out << "\nShutting down.\n";
            });
        };
    });
}

void addDevices(CLI::App& app, Context& ctx) {
    auto asJson = std::make_shared<bool>(false);
    CLI::App* devices =
        app.add_subcommand("devices", "Show the device tree of the running machine");
    devices->add_flag("--json", *asJson, "As JSON: {\"devices\": [...]}");
    devices->callback([&ctx, asJson] {
        ctx.action = [&ctx, asJson] {
            return withRunningMachine(ctx, Telling{}, [&ctx, asJson](Session& session) {
                const auto list = session.running().pnp().devices();
                if (*asJson) {
                    ctx.out << devicesJson(list).dump(2) << "\n";
                } else {
                    printDeviceTree(ctx.out, list);
                }
            });
        };
    });
}

} // namespace

void addSystemCommands(CLI::App& app, Context& ctx) {
    addBoot(app, ctx);
    addDevices(app, ctx);
}

} // namespace qelsim
