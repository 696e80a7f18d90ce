// pnp ACTION DEVICE: one Plug and Play action on a device of the running machine, in scripts.

#include "commands.h"

#include "registry/names.h"

namespace qelsim {

namespace {

using winsim::pnp::PnpManager;

struct Action {
    const char* name;
    const char* help;
    NTSTATUS (PnpManager::*call)(const std::string&);
};

constexpr Action actions[] = {
    {"query-stop", "Ask whether the device may stop (rebalance)", &PnpManager::queryStop},
    {"cancel-stop", "Call off a stop that was asked for", &PnpManager::cancelStop},
    {"stop", "Stop the device", &PnpManager::stop},
    {"start", "Start the device (again)", &PnpManager::startDevice},
    {"query-remove", "Ask whether the device may be removed", &PnpManager::queryRemove},
    {"cancel-remove", "Call off a removal that was asked for", &PnpManager::cancelRemove},
    {"remove", "Remove the device", &PnpManager::remove},
    {"surprise-remove", "Pull the device out without asking", &PnpManager::surpriseRemove},
    {"relations", "Re-enumerate the device: ask for its bus relations", &PnpManager::reenumerate},
};

// The instance path as the machine spells it; instance paths match without regard to case.
std::string findDevice(const PnpManager& pnp, const std::string& instance) {
    for (const auto& device : pnp.devices()) {
        if (winsim::reg::names_equal(device.instance, instance)) {
            return device.instance;
        }
    }
    throw Failure(exit_bad_input,
                  "unknown device " + instance + " (`devices` lists the instance paths)");
}

} // namespace

void addPnpCommands(CLI::App& app, Context& ctx) {
    if (ctx.scope != Scope::script) {
        return;
    }
    CLI::App* pnp = app.add_subcommand("pnp", "A Plug and Play action on a device");
    pnp->require_subcommand(1);
    for (const Action& action : actions) {
        auto device = std::make_shared<std::string>();
        CLI::App* command = pnp->add_subcommand(action.name, action.help);
        command
            ->add_option("DEVICE", *device, "Device instance path, e.g. QEL_CARD\\SERIAL\\020D0000")
            ->required();
        command->callback([&ctx, device, &action] {
            ctx.action = [&ctx, device, &action] {
                if (ctx.session == nullptr) {
                    throw Failure(exit_bad_input, "pnp needs a running machine");
                }
                PnpManager& manager = ctx.session->running().pnp();
                const std::string instance = findDevice(manager, *device);
                const NTSTATUS status = (manager.*action.call)(instance);
                ctx.out << "pnp " << action.name << " " << instance << ": "
                        << winsim::pnp::statusName(status)
                        << (NT_SUCCESS(status) ? "" : " (refused)") << "\n";
                return exit_ok;
            };
        });
    }
}

} // namespace qelsim
