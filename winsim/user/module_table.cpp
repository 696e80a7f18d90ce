#include "user/module_table.h"

#include "registry/names.h"

namespace winsim::user {
namespace {

std::string_view file_part(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

Module* ModuleTable::find(HMODULE handle) {
    auto it = modules_.find(handle);
    return it == modules_.end() ? nullptr : &it->second;
}

Module* ModuleTable::find_by_path(std::string_view windows_path) {
    for (auto& [handle, module] : modules_) {
        if (reg::names_equal(module.windows_path, windows_path)) {
            return &module;
        }
    }
    return nullptr;
}

Module* ModuleTable::find_by_name(std::string_view name) {
    for (auto& [handle, module] : modules_) {
        if (reg::names_equal(file_part(module.windows_path), file_part(name))) {
            return &module;
        }
    }
    return nullptr;
}

} // namespace winsim::user
