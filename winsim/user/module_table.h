// Loaded user-mode modules. Each is a shared object loaded with dlopen(RTLD_LOCAL), so that
// modules exporting the same names live side by side; its HMODULE is its load address.
#pragma once

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace winsim::user {

struct Module {
    std::string windows_path;
    std::filesystem::path file;
    void* library = nullptr; // dlopen handle
    PDLL_ENTRY entry = nullptr;
    unsigned references = 0;
    bool thread_calls_disabled = false;
};

class ModuleTable {
  public:
    Module* find(HMODULE handle);
    Module* find_by_path(std::string_view windows_path);
    Module* find_by_name(std::string_view name); // file name part, e.g. "qelui32.dll"
    void add(HMODULE handle, Module module) { modules_.emplace(handle, std::move(module)); }
    void remove(HMODULE handle) { modules_.erase(handle); }
    std::size_t size() const { return modules_.size(); }
    std::map<HMODULE, Module>& all() { return modules_; }

  private:
    std::map<HMODULE, Module> modules_;
};

} // namespace winsim::user
