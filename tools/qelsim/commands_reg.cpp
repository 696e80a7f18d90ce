// reg export: the registry in regedit's REGEDIT4 text. (reg set and delete: commands_reg_edit.cpp.)

#include "commands.h"

#include "machine/machine.h"
#include "registry/names.h"

namespace qelsim {

std::string keyBelowRoot(std::string key) {
    for (const std::string_view root : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
        if (key.size() >= root.size() &&
            winsim::reg::names_equal(std::string_view(key).substr(0, root.size()), root)) {
            if (key.size() == root.size()) {
                return "";
            }
            if (key[root.size()] == '\\') {
                return key.substr(root.size() + 1);
            }
        }
    }
    return key;
}

namespace {

void exportKey(const winsim::reg::Registry& registry, const std::string& key, std::ostream& out) {
    std::string text;
    const winsim::reg::Status status = registry.export_regedit4(keyBelowRoot(key), text);
    if (status == winsim::reg::Status::not_found) {
        throw Failure(exit_bad_input, "no such registry key: " + key);
    }
    if (status != winsim::reg::Status::ok) {
        throw Failure(exit_bad_input, "not a registry key path: " + key);
    }
    out << text;
}

} // namespace

void addRegCommands(CLI::App& app, Context& ctx) {
    CLI::App* reg = app.add_subcommand("reg", "The machine's registry");
    reg->require_subcommand(1);
    auto key = std::make_shared<std::string>();
    CLI::App* exportCommand = reg->add_subcommand(
        "export", "Print the registry, or one key and everything below it, as REGEDIT4 text");
    exportCommand
        ->add_option("KEY", *key,
                     "e.g. \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\qelmf\" (the prefix "
                     "HKEY_LOCAL_MACHINE\\ or HKLM\\ may be left out)")
        ->option_text("KEY");
    exportCommand->callback([&ctx, key] {
        ctx.action = [&ctx, key] {
            if (ctx.session != nullptr) { // in a script: the running machine's registry
                exportKey(ctx.session->running().registry(), *key, ctx.out);
                return exit_ok;
            }
            winsim::reg::Registry registry;
            try {
                winsim::machine::Machine::open(requireMachineDir(ctx)).loadRegistry(registry);
            } catch (const winsim::machine::MachineError& e) {
                throw Failure(exit_bad_input, e.what());
            }
            exportKey(registry, *key, ctx.out);
            return exit_ok;
        };
    });
    addRegEditCommands(*reg, ctx);
}

} // namespace qelsim
