#include "user/session.h"

#include "registry/names.h"
#include "user/state.h"
#include "user/window_engine.h"

#include <cstdio>
#include <cstdlib>

namespace winsim::user {

void unload_all_modules(); // loader_api.cpp

namespace {

Session* installed = nullptr;

} // namespace

Session::Session(reg::Registry& registry, DeviceTree* devices)
    : registry_(registry), devices_(devices), state_(std::make_unique<State>()) {}

Session::~Session() {
    Session* previous = installed;
    installed = this;
    // Windows first (their procedures live in modules), then pages, then the modules.
    for (HWND window : state_->windows.children(nullptr)) {
        destroy_window(window);
    }
    // Pages never released are dropped without PSPCB_RELEASE, as at the end of a process.
    unload_all_modules();
    installed = previous == this ? nullptr : previous;
}

std::string Session::system_directory() const {
    return windows_directory_ + (version_ == WindowsVersion::nt ? "\\system32" : "\\SYSTEM");
}

void Session::map_file(std::string_view windows_path, std::filesystem::path file) {
    state_->files[reg::upper_name(windows_path)] = std::move(file);
}

void Session::unmap_file(std::string_view windows_path) {
    state_->files.erase(reg::upper_name(windows_path));
}

std::optional<std::filesystem::path> Session::mapped_file(std::string_view windows_path) const {
    auto it = state_->files.find(reg::upper_name(windows_path));
    if (it == state_->files.end()) {
        return std::nullopt;
    }
    return it->second;
}

const std::string& Session::last_load_error() const {
    return state_->last_load_error;
}

std::vector<std::string> Session::open_keys() const {
    return state_->keys.paths();
}
std::size_t Session::open_device_info_sets() const {
    return state_->device_sets.size();
}
std::size_t Session::loaded_modules() const {
    return state_->modules.size();
}
std::size_t Session::live_property_pages() const {
    return state_->pages.size();
}
std::size_t Session::live_windows() const {
    return state_->windows.size();
}
std::size_t Session::open_comdb_handles() const {
    return state_->comdb.size();
}

void Session::record_message_box(MessageBoxRecord record) {
    message_boxes_.push_back(std::move(record));
}

void Session::push_dialog_driver(DialogDriver driver) {
    dialog_drivers_.push_back(std::move(driver));
}

std::optional<DialogDriver> Session::next_dialog_driver() {
    if (dialog_drivers_.empty()) {
        return std::nullopt;
    }
    DialogDriver driver = std::move(dialog_drivers_.front());
    dialog_drivers_.erase(dialog_drivers_.begin());
    return driver;
}

std::optional<std::string> Session::dos_device(std::string_view name) const {
    const std::vector<std::string> targets = dos_devices().targets(name);
    if (targets.empty()) {
        return std::nullopt;
    }
    return targets.front();
}

kernel::SymbolicLinks& Session::dos_devices() const {
    return dos_devices_ != nullptr ? *dos_devices_ : state_->dos_devices;
}

void install_session(Session* session) {
    installed = session;
}

Session* current_session() {
    return installed;
}

Session& sys() {
    if (installed == nullptr) {
        std::fputs("winsim: a Windows system call was made with no machine session installed\n",
                   stderr);
        std::abort();
    }
    return *installed;
}

} // namespace winsim::user
