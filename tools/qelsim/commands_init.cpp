// init: makes a new machine folder with the package installed.

#include "commands.h"

#include "machine/machine.h"

namespace qelsim {

void addInitCommand(CLI::App& app, Context& ctx) {
    if (ctx.scope != Scope::commandLine) {
        return;
    }
    auto os = std::make_shared<std::string>("xp");
    CLI::App* init = app.add_subcommand(
        "init", "Make a new machine in the --machine folder, with the driver package installed");
    init->add_option("--os", *os, "Windows version of the machine")->option_text("xp (default)");
    init->callback([&ctx, os] {
        ctx.action = [&ctx, os] {
            const std::string& dir = requireMachineDir(ctx);
            try {
                winsim::machine::Machine::create(dir, *os);
            } catch (const winsim::machine::MachineError& e) {
                throw Failure(exit_bad_input, e.what());
            }
            ctx.out << "Made a Windows XP machine in " << dir
                    << " with the driver package installed (services qelmf, qelser, pci; "
                       "qelui32.dll).\n"
                    << "Add a card: qelsim --machine " << dir << " card add --ports 4\n";
            return exit_ok;
        };
    });
}

} // namespace qelsim
