// run SCRIPT: boots the machine once and runs the script's commands on it.

#include "commands.h"

#include "script.h"

namespace qelsim {

namespace {

Failure onLine(const std::string& script, const ScriptLine& line, const Failure& failure) {
    return Failure(failure.code, script + ":" + std::to_string(line.number) + ": " +
                                     failure.what() + "\n  in: " + line.text);
}

int runScript(Context& ctx, const std::string& script, bool trace) {
    std::vector<ScriptLine> lines;
    try {
        lines = readScript(script);
    } catch (const std::runtime_error& e) {
        throw Failure(exit_bad_input, e.what());
    }
    // Every line is checked before the machine powers on, so that a typo at the end does not
    // leave half a script run.
    for (const ScriptLine& line : lines) {
        Context lineCtx(ctx.out, ctx.err, Scope::script);
        try {
            parseScriptLine(line.words, lineCtx);
        } catch (const Failure& f) {
            throw onLine(script, line, f);
        }
    }
    const Telling telling{.narrate = false, .trace = trace, .showBalance = false};
    return withRunningMachine(ctx, telling, [&](Session& session) {
        session.narrator().setSilent(false); // tell what each line makes happen
        for (const ScriptLine& line : lines) {
            Context lineCtx(ctx.out, ctx.err, Scope::script, &session);
            int code = exit_ok;
            try {
                parseScriptLine(line.words, lineCtx);
                code = lineCtx.action ? lineCtx.action() : exit_ok;
                session.checkCrash();
            } catch (const Failure& f) {
                throw onLine(script, line, f);
            }
            if (code != exit_ok) {
                throw onLine(script, line, Failure(code, "the command failed"));
            }
        }
        session.narrator().setSilent(true); // the shutdown is no line of the script
    });
}

} // namespace

void addRunCommand(CLI::App& app, Context& ctx) {
    if (ctx.scope != Scope::commandLine) {
        return;
    }
    auto script = std::make_shared<std::string>();
    auto trace = std::make_shared<bool>(false);
    CLI::App* run = app.add_subcommand(
        "run", "Power the machine on once and run a script of commands and pnp actions on it");
    run->add_option("SCRIPT", *script, "The script file, one command a line")->required();
    run->add_flag("--trace", *trace, "Also tell every single Plug and Play request");
    run->callback([&ctx, script, trace] {
        ctx.action = [&ctx, script, trace] { return runScript(ctx, *script, *trace); };
    });
}

} // namespace qelsim
