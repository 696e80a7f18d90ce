// The module loader: LoadLibraryA, GetProcAddress, FreeLibrary and friends.
//
// A module built with winsim_add_dll exports its own names only, plus "winsim_dll_entry", a
// pointer to its entry point (DllMain or the name its build gives).
#include "user/api.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>

namespace winsim::user {
namespace {

constexpr std::uintptr_t host_module = 0x00400000;

// "qelui32.dll" -> "<system>\qelui32.dll"; a name without an extension gets ".dll".
std::string full_path(std::string_view name) {
    std::string path(name);
    const std::size_t slash = path.find_last_of('\\');
    const std::string_view file = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    if (file.find('.') == std::string_view::npos) {
        path += ".dll";
    }
    if (slash == std::string::npos) {
        path = sys().system_directory() + "\\" + path;
    }
    return path;
}

HMODULE load_address(void* library) {
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(map->l_addr);
}

// A symbol of the module itself, not one of the libraries it was linked with.
void* own_symbol(const Module& module, HMODULE handle, const char* name) {
    void* symbol = dlsym(module.library, name);
    if (symbol == nullptr) {
        return nullptr;
    }
    Dl_info info{};
    if (dladdr(symbol, &info) == 0 || reinterpret_cast<HMODULE>(info.dli_fbase) != handle) {
        return nullptr;
    }
    return symbol;
}

void unload(HMODULE handle, LPVOID reserved) {
    Module* module = sys().state().modules.find(handle);
    if (module == nullptr) {
        return;
    }
    if (module->entry != nullptr) {
        module->entry(reinterpret_cast<HINSTANCE>(handle), DLL_PROCESS_DETACH, reserved);
    }
    void* library = module->library;
    sys().state().modules.remove(handle);
    dlclose(library);
}

} // namespace

void unload_all_modules() {
    auto& modules = sys().state().modules.all();
    while (!modules.empty()) {
        // Process end: the entry points see a non-NULL reserved pointer.
        unload(modules.begin()->first, reinterpret_cast<LPVOID>(1));
    }
}

} // namespace winsim::user

using namespace winsim::user;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (auto error = injected("LoadLibraryA")) {
        SetLastError(*error);
        return nullptr;
    }
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State& state = sys().state();
    const std::string path = full_path(lpLibFileName);
    if (Module* loaded = state.modules.find_by_path(path)) {
        ++loaded->references;
        for (auto& [handle, module] : state.modules.all()) {
            if (&module == loaded) {
                return handle;
            }
        }
    }
    const std::optional<std::filesystem::path> file = sys().mapped_file(path);
    if (!file) {
        state.last_load_error = path + ": no such module on the machine";
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* library = dlopen(file->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        state.last_load_error = path + ": " + (reason == nullptr ? "cannot be loaded" : reason);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const HMODULE handle = load_address(library);
    if (state.modules.find(handle) != nullptr) {
        // The same file under another name: one module, as on Windows.
        dlclose(library);
        ++state.modules.find(handle)->references;
        return handle;
    }
    Module module;
    module.windows_path = path;
    module.file = *file;
    module.library = library;
    module.references = 1;
    state.modules.add(handle, module);
    Module& added = *state.modules.find(handle);
    if (void* entry = own_symbol(added, handle, "winsim_dll_entry")) {
        added.entry = *static_cast<PDLL_ENTRY*>(entry);
    }
    if (added.entry != nullptr &&
        !added.entry(reinterpret_cast<HINSTANCE>(handle), DLL_PROCESS_ATTACH, nullptr)) {
        // A module that refuses to start is told to detach and unloaded.
        unload(handle, nullptr);
        state.last_load_error = path + ": its entry point failed";
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    state.last_load_error.clear();
    return handle;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (auto error = injected("GetProcAddress")) {
        SetLastError(*error);
        return nullptr;
    }
    Module* module = sys().state().modules.find(hModule);
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Export ordinals (a number in place of the name) are not kept.
    if (lpProcName == nullptr || IS_INTRESOURCE(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = own_symbol(*module, hModule, lpProcName);
    if (symbol == nullptr || std::strcmp(lpProcName, "winsim_dll_entry") == 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (auto error = injected("FreeLibrary")) {
        return fail(*error);
    }
    Module* module = sys().state().modules.find(hLibModule);
    if (module == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (--module->references == 0) {
        unload(hLibModule, nullptr);
    }
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (auto error = injected("GetModuleFileNameA")) {
        SetLastError(*error);
        return 0;
    }
    std::string path;
    if (hModule == nullptr || reinterpret_cast<std::uintptr_t>(hModule) == host_module) {
        path = sys().host_path();
    } else if (Module* module = sys().state().modules.find(hModule)) {
        path = module->windows_path;
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        // Cut and terminated; the full size is the caller's hint that it was cut.
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr) {
        return reinterpret_cast<HMODULE>(host_module);
    }
    for (auto& [handle, module] : sys().state().modules.all()) {
        if (&module == sys().state().modules.find_by_name(lpModuleName)) {
            return handle;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
    if (auto error = injected("DisableThreadLibraryCalls")) {
        return fail(*error);
    }
    Module* module = sys().state().modules.find(hLibModule);
    if (module == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    module->thread_calls_disabled = true;
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const std::string path = sys().system_directory();
    if (lpBuffer == nullptr || uSize <= path.size()) {
        return static_cast<UINT>(path.size() + 1);
    }
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<UINT>(path.size());
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const std::string& path = sys().windows_directory();
    if (lpBuffer == nullptr || uSize <= path.size()) {
        return static_cast<UINT>(path.size() + 1);
    }
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<UINT>(path.size());
}

} // extern "C"
