// demo: a temporary machine with one card, booted and told step by step, then the card removed.

#include "commands.h"

#include "device_report.h"
#include "machine/machine.h"
#include "machine/numbers.h"

#include <cstdlib>
#include <filesystem>

namespace qelsim {

namespace {

namespace fs = std::filesystem;
using winsim::machine::hex;
using winsim::pnp::DeviceInfo;

constexpr const char* enum_key = "SYSTEM\\CurrentControlSet\\Enum\\";

// A folder under the system's temporary folder, removed with everything in it at the end.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "qelsim-demo-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw Failure(exit_failed, "cannot make a temporary folder in " +
                                           fs::temp_directory_path().string());
        }
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

const DeviceInfo* findCard(const std::vector<DeviceInfo>& devices) {
    for (const auto& device : devices) {
        if (device.service == "qelmf") {
            return &device;
        }
    }
    return nullptr;
}

void tellPortsValue(Session& session, const DeviceInfo& card, std::ostream& out) {
    const std::string path = enum_key + card.instance + "\\Device Parameters";
    std::uint32_t ports = 0;
    const auto key = session.running().registry().open_key(path);
    if (key && key->get_dword("PORTS", ports) == winsim::reg::Status::ok) {
        out << "  HKEY_LOCAL_MACHINE\\" << path << "\n  \"PORTS\" = " << ports
            << " (REG_DWORD), written by the driver when the card started\n";
    } else {
        out << "  no \"PORTS\" value in HKEY_LOCAL_MACHINE\\" << path << "\n";
    }
}

void tellPorts(const std::vector<DeviceInfo>& devices, const DeviceInfo& card, std::ostream& out) {
    std::size_t shown = 0;
    for (const auto& device : devices) {
        if (device.parent != card.instance) {
            continue;
        }
        ++shown;
        out << "  " << device.instance << "  (" << device.state << ", service "
            << (device.service.empty() ? "-" : device.service) << ")\n";
        if (device.portConfig) {
            out << "      " << portResourcesText(*device.portConfig) << "\n";
        }
    }
    if (shown == 0) {
        out << "  none: the card did not report any port\n";
    }
}

int runDemo(Context& ctx, unsigned ports, bool trace) {
    if (!ctx.machineDir.empty()) {
        throw Failure(exit_bad_input, "demo makes a temporary machine of its own; leave out "
                                      "--machine");
    }
    TemporaryFolder folder;
    winsim::machine::Machine machine = [&] {
        try {
            auto made = winsim::machine::Machine::create(folder.path() / "machine", "xp");
            made.config().cards.push_back(
                winsim::pnp::CardConfig{.configWord = winsim::machine::configWordOfPorts(ports)});
            made.saveConfig();
            return made;
        } catch (const winsim::machine::MachineError& e) {
            throw Failure(exit_failed, e.what());
        }
    }();
    const auto& card = machine.config().cards.front();
    std::ostream& out = ctx.out;
    out << "A simulated Windows XP machine with one PCI serial card of " << ports
        << (ports == 1 ? " port" : " ports") << ":\n  " << *card.location << ", I/O range from "
        << hex(card.ioBase, 4) << ", IRQ " << card.irq << "\n\n";

    out << "1. Power on. Plug and Play loads the driver and starts the card:\n";
    Narrator narrator(out);
    narrator.setTrace(trace);
    Session session(std::move(machine), narrator, out, ctx.err);
    auto devices = session.running().pnp().devices();
    const DeviceInfo* cardDevice = findCard(devices);
    if (cardDevice == nullptr) {
        throw Failure(exit_failed, "the driver did not load on the card");
    }
    const std::string cardInstance = cardDevice->instance;

    out << "\n2. The port count in the card's device key:\n";
    tellPortsValue(session, *cardDevice, out);

    out << "\n3. The port devices, and the registers and interrupt their port driver received:\n";
    tellPorts(devices, *cardDevice, out);

    out << "\n4. The card is removed:\n";
    auto& pnp = session.running().pnp();
    NTSTATUS status = pnp.queryRemove(cardInstance);
    session.checkCrash();
    if (NT_SUCCESS(status)) {
        status = pnp.remove(cardInstance);
        session.checkCrash();
    }
    if (!NT_SUCCESS(status)) {
        out << "  the removal was refused: " << winsim::pnp::statusName(status) << "\n";
    }

    out << "\n5. Shutdown. What the driver allocated and referenced, and gave back:\n";
    const int code = session.finish(true);
    if (code == exit_ok) {
        out << "\nEverything the driver took was given back. Try it yourself:\n"
            << "  qelsim --machine m init && qelsim --machine m card add --ports " << ports
            << " && qelsim --machine m boot\n";
    }
    return code;
}

} // namespace

void addDemoCommand(CLI::App& app, Context& ctx) {
    if (ctx.scope != Scope::commandLine) {
        return;
    }
    auto ports = std::make_shared<std::string>("4");
    auto trace = std::make_shared<bool>(false);
    CLI::App* demo = app.add_subcommand(
        "demo", "Boot a temporary machine with one card and tell what happens, step by step");
    demo->add_option("--ports", *ports, "Number of ports of the card: 1, 2, 4 or 8")
        ->option_text("N (default 4)");
    demo->add_flag("--trace", *trace, "Also tell every single Plug and Play request");
    demo->callback([&ctx, ports, trace] {
        ctx.action = [&ctx, ports, trace] {
            const unsigned count = portCountOption("--ports", *ports);
            return runDemo(ctx, count, *trace);
        };
    });
}

} // namespace qelsim
