// The system's tables of one session. Internal to the user-mode platform.
#pragma once

#include "kernel/symbolic_links.h"
#include "user/comdb_handles.h"
#include "user/device_sets.h"
#include "user/dialog.h"
#include "user/key_table.h"
#include "user/module_table.h"
#include "user/page_table.h"
#include "user/window_table.h"

#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace winsim::user {

struct State {
    KeyTable keys;
    DevNodes devnodes;
    DeviceSets device_sets;
    std::map<std::string, std::filesystem::path> files; // upper-cased Windows path -> file
    std::string last_load_error;
    ModuleTable modules;
    WindowTable windows;
    // (upper-case module file name, template id) -> template
    std::map<std::pair<std::string, int>, DialogTemplate> dialog_templates;
    PageTable pages;
    kernel::SymbolicLinks dos_devices; // without a booted machine (Session::set_dos_devices)
    ComDbHandles comdb;
};

} // namespace winsim::user
