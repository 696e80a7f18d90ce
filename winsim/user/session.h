// The user-mode side of a running simulated machine. The host (a test, qelsim) makes a Session
// over the machine's registry and its Plug and Play device tree and installs it before it loads
// any user-mode module; the system calls of windows.h, setupapi.h and the others then act on
// that machine. One session is installed at a time; the calls run on one thread.
//
// The session also keeps the accounts a host checks after a run: open registry handles, device
// information sets, loaded modules, property sheet pages and windows, message boxes shown, and
// misuse of the platform that Windows would punish (errors()).
#pragma once

#include "user/device_tree.h"
#include "user/faults.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {
class Registry;
}
namespace winsim::kernel {
class SymbolicLinks;
}

namespace winsim::user {

enum class WindowsVersion {
    nt,    // Windows 2000/XP
    win9x, // Windows 95/98/Me: RegDeleteKeyA deletes whole subtrees
};

struct MessageBoxRecord {
    std::uintptr_t owner = 0; // HWND
    std::string text;
    std::string caption;
    std::uint32_t type = 0; // MB_ flags
};

class Dialog;
// Drives one modal dialog: picks entries, ticks boxes, presses buttons (see dialog.h).
using DialogDriver = std::function<void(Dialog&)>;

struct State; // the system's tables (user/state.h)

class Session {
  public:
    explicit Session(reg::Registry& registry, DeviceTree* devices = nullptr);
    // Unloads modules still loaded (DLL_PROCESS_DETACH) and frees what is left open.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    reg::Registry& registry() const { return registry_; }
    DeviceTree* device_tree() const { return devices_; }
    void set_device_tree(DeviceTree* devices) { devices_ = devices; }

    WindowsVersion version() const { return version_; }
    void set_version(WindowsVersion version) { version_ = version; }
    // "C:\WINDOWS"; the system directory is "<windows>\system32" on NT, "<windows>\SYSTEM" on 9x.
    const std::string& windows_directory() const { return windows_directory_; }
    void set_windows_directory(std::string path) { windows_directory_ = std::move(path); }
    std::string system_directory() const;
    // The file name GetModuleFileNameA(NULL) reports.
    const std::string& host_path() const { return host_path_; }
    void set_host_path(std::string path) { host_path_ = std::move(path); }

    Faults& faults() { return faults_; }

    // The machine's files that hold modules: a Windows path ("C:\WINDOWS\system32\qelui32.dll",
    // matched without regard to case) and the built shared object behind it.
    void map_file(std::string_view windows_path, std::filesystem::path file);
    void unmap_file(std::string_view windows_path);
    std::optional<std::filesystem::path> mapped_file(std::string_view windows_path) const;
    // Why the last LoadLibraryA failed, for a person.
    const std::string& last_load_error() const;

    // Accounts.
    std::vector<std::string> open_keys() const; // paths of the open registry handles
    std::size_t open_device_info_sets() const;
    std::size_t loaded_modules() const;
    std::size_t live_property_pages() const;
    std::size_t live_windows() const;
    std::size_t open_comdb_handles() const;

    // The user interface.
    const std::vector<MessageBoxRecord>& message_boxes() const { return message_boxes_; }
    void record_message_box(MessageBoxRecord record);
    int message_box_answer() const { return message_box_answer_; }
    void set_message_box_answer(int answer) { message_box_answer_ = answer; }
    // Modal dialogs take the drivers in turn; one without a driver is cancelled (IDCANCEL).
    void push_dialog_driver(DialogDriver driver);
    std::optional<DialogDriver> next_dialog_driver();

    // DOS device names: the target a name stands for now.
    std::optional<std::string> dos_device(std::string_view name) const;
    // The table of DOS device names the calls act on: the session's own, or the one given here
    // (a booted machine's, Kernel::symbolicLinks(), where the port driver names its ports; it
    // must outlive the session; nullptr: the session's own again).
    kernel::SymbolicLinks& dos_devices() const;
    void set_dos_devices(kernel::SymbolicLinks* devices) { dos_devices_ = devices; }

    // Text written with OutputDebugStringA.
    const std::vector<std::string>& debug_output() const { return debug_output_; }
    void record_debug_output(std::string text) { debug_output_.push_back(std::move(text)); }
    // Misuse of the platform that Windows would crash or hang on (e.g. a dialog procedure that
    // recurses through DefDlgProcA, a modal dialog nobody ends).
    const std::vector<std::string>& errors() const { return errors_; }
    void record_error(std::string text) { errors_.push_back(std::move(text)); }

    State& state() { return *state_; }

  private:
    reg::Registry& registry_;
    DeviceTree* devices_;
    WindowsVersion version_ = WindowsVersion::nt;
    std::string windows_directory_ = "C:\\WINDOWS";
    std::string host_path_ = "C:\\WINDOWS\\system32\\rundll32.exe";
    Faults faults_;
    std::vector<MessageBoxRecord> message_boxes_;
    int message_box_answer_ = 1; // IDOK
    std::vector<DialogDriver> dialog_drivers_;
    std::vector<std::string> debug_output_;
    std::vector<std::string> errors_;
    std::unique_ptr<State> state_;
    kernel::SymbolicLinks* dos_devices_ = nullptr;
};

// The session the system calls act on.
void install_session(Session* session);
Session* current_session();

// Blocks from LocalAlloc, GlobalAlloc and HeapAlloc not freed yet (all sessions).
std::size_t live_allocations();

} // namespace winsim::user
