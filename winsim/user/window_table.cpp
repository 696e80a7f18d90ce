#include "user/window_table.h"

namespace winsim::user {

Window& WindowTable::create(WindowKind kind, HWND parent) {
    auto window = std::make_unique<Window>();
    window->handle = reinterpret_cast<HWND>(next_);
    next_ += 2;
    window->kind = kind;
    window->parent = parent;
    Window& ref = *window;
    windows_.emplace(ref.handle, std::move(window));
    return ref;
}

Window* WindowTable::find(HWND handle) {
    auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second.get();
}

Window* WindowTable::child(HWND parent, int id) {
    for (auto& [handle, window] : windows_) {
        if (window->parent == parent && window->kind == WindowKind::control && window->id == id) {
            return window.get();
        }
    }
    return nullptr;
}

std::vector<HWND> WindowTable::children(HWND parent) const {
    std::vector<HWND> out;
    for (const auto& [handle, window] : windows_) {
        if (window->parent == parent) {
            out.push_back(handle);
        }
    }
    return out;
}

void WindowTable::remove(HWND handle) {
    for (HWND child : children(handle)) {
        remove(child);
    }
    windows_.erase(handle);
    std::erase_if(queue_, [handle](const Posted& posted) { return posted.window == handle; });
}

} // namespace winsim::user
