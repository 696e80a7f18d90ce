#include "user/window_engine.h"

#include "registry/names.h"
#include "user/api.h"

#include <algorithm>
#include <cstring>

namespace winsim::user {
namespace {

// How deep a dialog procedure may re-enter itself through DefDlgProcA before it counts as the
// endless recursion it would be on Windows.
constexpr int max_dispatch_depth = 32;

std::string template_label(LPCSTR name) {
    if (name == nullptr) {
        return "";
    }
    if (IS_INTRESOURCE(name)) {
        return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name));
    }
    return name;
}

const DialogTemplate* find_template(HINSTANCE instance, const std::string& label) {
    Module* module = sys().state().modules.find(instance);
    if (module == nullptr || label.size() < 2 || label[0] != '#') {
        return nullptr;
    }
    const std::size_t slash = module->windows_path.find_last_of('\\');
    const std::string file = reg::upper_name(module->windows_path.substr(slash + 1));
    const int id = std::atoi(label.c_str() + 1);
    auto& templates = sys().state().dialog_templates;
    auto it = templates.find({file, id});
    return it == templates.end() ? nullptr : &it->second;
}

// The messages whose answer a dialog procedure returns itself instead of in DWLP_MSGRESULT.
bool answers_directly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}

LRESULT text_message(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_SETTEXT:
        window.text = lparam == 0 ? "" : reinterpret_cast<LPCSTR>(lparam);
        return TRUE;
    case WM_GETTEXT: {
        if (wparam == 0 || lparam == 0) {
            return 0;
        }
        const std::size_t count = std::min<std::size_t>(wparam - 1, window.text.size());
        std::memcpy(reinterpret_cast<LPSTR>(lparam), window.text.data(), count);
        reinterpret_cast<LPSTR>(lparam)[count] = '\0';
        return static_cast<LRESULT>(count);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(window.text.size());
    default:
        return 0;
    }
}

bool sorted(const Window& window) {
    if (window.class_name == "COMBOBOX") {
        return (window.style & CBS_SORT) != 0;
    }
    return (window.style & LBS_SORT) != 0 && window.class_name != "BUTTON";
}

LRESULT insert_item(Window& window, std::ptrdiff_t index, LPCSTR text) {
    const std::string item = text == nullptr ? "" : text;
    if (index < 0 || static_cast<std::size_t>(index) > window.items.size()) {
        if (index >= 0) {
            return LB_ERR;
        }
        index = static_cast<std::ptrdiff_t>(window.items.size());
    }
    window.items.insert(window.items.begin() + index, item);
    window.item_data.insert(window.item_data.begin() + index, 0);
    if (window.selection >= index) {
        ++window.selection;
    }
    return index;
}

LRESULT add_item(Window& window, LPCSTR text) {
    std::ptrdiff_t index = -1;
    if (sorted(window)) {
        const std::string item = text == nullptr ? "" : text;
        auto at = std::upper_bound(window.items.begin(), window.items.end(), item,
                                   [](const std::string& a, const std::string& b) {
                                       return reg::compare_names(a, b) < 0;
                                   });
        index = at - window.items.begin();
    }
    return insert_item(window, index, text);
}

bool valid_index(const Window& window, WPARAM index) {
    return index < window.items.size();
}

LRESULT copy_item(const Window& window, WPARAM index, LPARAM buffer) {
    if (!valid_index(window, index) || buffer == 0) {
        return LB_ERR;
    }
    const std::string& item = window.items[index];
    std::memcpy(reinterpret_cast<LPSTR>(buffer), item.c_str(), item.size() + 1);
    return static_cast<LRESULT>(item.size());
}

void notify_parent(const Window& control, WORD code) {
    const HWND parent = control.parent;
    const HWND self = control.handle;
    dispatch_message(parent, WM_COMMAND, MAKEWPARAM(control.id, code),
                     reinterpret_cast<LPARAM>(self));
}

LRESULT control_message(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case LB_ADDSTRING:
    case CB_ADDSTRING:
        return add_item(window, reinterpret_cast<LPCSTR>(lparam));
    case LB_INSERTSTRING:
    case CB_INSERTSTRING:
        return insert_item(window, static_cast<std::ptrdiff_t>(static_cast<INT_PTR>(wparam)),
                           reinterpret_cast<LPCSTR>(lparam));
    case LB_DELETESTRING:
    case CB_DELETESTRING:
        if (!valid_index(window, wparam)) {
            return LB_ERR;
        }
        window.items.erase(window.items.begin() + static_cast<std::ptrdiff_t>(wparam));
        window.item_data.erase(window.item_data.begin() + static_cast<std::ptrdiff_t>(wparam));
        if (window.selection == static_cast<int>(wparam)) {
            window.selection = -1;
        } else if (window.selection > static_cast<int>(wparam)) {
            --window.selection;
        }
        return static_cast<LRESULT>(window.items.size());
    case LB_RESETCONTENT:
    case CB_RESETCONTENT:
        window.items.clear();
        window.item_data.clear();
        window.selection = -1;
        return 0;
    case LB_SETCURSEL:
    case CB_SETCURSEL:
        if (!valid_index(window, wparam)) {
            window.selection = -1;
            return LB_ERR;
        }
        window.selection = static_cast<int>(wparam);
        return window.selection;
    case LB_GETCURSEL:
    case CB_GETCURSEL:
        return window.selection;
    case LB_GETTEXT:
    case CB_GETLBTEXT:
        return copy_item(window, wparam, lparam);
    case LB_GETTEXTLEN:
    case CB_GETLBTEXTLEN:
        return valid_index(window, wparam) ? static_cast<LRESULT>(window.items[wparam].size())
                                           : LB_ERR;
    case LB_GETCOUNT:
    case CB_GETCOUNT:
        return static_cast<LRESULT>(window.items.size());
    case LB_SETITEMDATA:
    case CB_SETITEMDATA:
        if (!valid_index(window, wparam)) {
            return LB_ERR;
        }
        window.item_data[wparam] = lparam;
        return TRUE;
    case LB_GETITEMDATA:
    case CB_GETITEMDATA:
        return valid_index(window, wparam) ? window.item_data[wparam] : LB_ERR;
    case BM_GETCHECK:
        return window.check;
    case BM_SETCHECK:
        window.check = static_cast<UINT>(wparam);
        return 0;
    case BM_CLICK:
        if (!window.enabled) {
            return 0;
        }
        if ((window.style & 0x0F) == BS_AUTOCHECKBOX) {
            window.check = window.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        }
        notify_parent(window, BN_CLICKED);
        return 0;
    default:
        return text_message(window, message, wparam, lparam);
    }
}

LRESULT default_dialog_message(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* window = sys().state().windows.find(handle);
    if (window == nullptr) {
        return 0;
    }
    switch (message) {
    case WM_CLOSE:
        return dispatch_message(handle, WM_COMMAND, IDCANCEL, 0);
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return text_message(*window, message, wparam, lparam);
    default:
        return 0;
    }
}

LRESULT dialog_message(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* window = sys().state().windows.find(handle);
    if (window->dispatch_depth >= max_dispatch_depth) {
        sys().record_error("dialog " + window->template_name + ": message 0x" +
                           std::to_string(message) +
                           " re-entered its dialog procedure without end (DefDlgProcA)");
        return 0;
    }
    ++window->dispatch_depth;
    const DLGPROC proc = window->dialog_proc;
    const INT_PTR handled = proc == nullptr ? 0 : proc(handle, message, wparam, lparam);
    window = sys().state().windows.find(handle); // the procedure may have destroyed it
    LRESULT result = 0;
    if (window == nullptr) {
        return handled;
    }
    if (handled == 0) {
        result = default_dialog_message(handle, message, wparam, lparam);
    } else if (answers_directly(message)) {
        result = handled;
    } else {
        result = window->longs[DWLP_MSGRESULT];
    }
    if ((window = sys().state().windows.find(handle)) != nullptr) {
        --window->dispatch_depth;
    }
    return result;
}

Window& add_control(HWND dialog, const ControlTemplate& control) {
    Window& window = sys().state().windows.create(WindowKind::control, dialog);
    window.id = control.id;
    window.class_name = reg::upper_name(control.class_name);
    window.style = control.style;
    window.text = control.text;
    window.enabled = (control.style & WS_DISABLED) == 0;
    return window;
}

} // namespace

HWND create_dialog(HINSTANCE instance, LPCSTR template_name, HWND parent, DLGPROC proc,
                   LPARAM init_param) {
    Window& dialog = sys().state().windows.create(WindowKind::dialog, parent);
    dialog.class_name = "#32770";
    dialog.instance = instance;
    dialog.dialog_proc = proc;
    dialog.template_name = template_label(template_name);
    dialog.longs[DWLP_DLGPROC] = reinterpret_cast<LONG_PTR>(proc);
    const HWND handle = dialog.handle;
    if (const DialogTemplate* found = find_template(instance, dialog.template_name)) {
        dialog.fixed_controls = true;
        dialog.text = found->caption;
        const std::vector<ControlTemplate> controls = found->controls;
        for (const auto& control : controls) {
            add_control(handle, control);
        }
    }
    dispatch_message(handle, WM_INITDIALOG, 0, init_param);
    return handle;
}

HWND create_host_window(HostProc proc, std::string class_name) {
    Window& window = sys().state().windows.create(WindowKind::host, nullptr);
    window.host_proc = std::move(proc);
    window.class_name = std::move(class_name);
    return window.handle;
}

LRESULT dispatch_message(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    Window* window = sys().state().windows.find(handle);
    if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (window->kind) {
    case WindowKind::dialog:
        return dialog_message(handle, message, wparam, lparam);
    case WindowKind::control:
        return control_message(*window, message, wparam, lparam);
    case WindowKind::host:
        return window->host_proc ? window->host_proc(*window, message, wparam, lparam)
                                 : text_message(*window, message, wparam, lparam);
    }
    return 0;
}

void destroy_window(HWND handle) {
    if (sys().state().windows.find(handle) == nullptr) {
        return;
    }
    for (HWND child : sys().state().windows.children(handle)) {
        destroy_window(child);
    }
    Window* window = sys().state().windows.find(handle);
    if (window != nullptr && window->kind == WindowKind::dialog && window->dialog_proc != nullptr) {
        window->dialog_proc(handle, WM_DESTROY, 0, 0);
    }
    sys().state().windows.remove(handle);
}

void pump_messages() {
    auto& queue = sys().state().windows.queue();
    while (!queue.empty()) {
        const WindowTable::Posted posted = queue.front();
        queue.erase(queue.begin());
        dispatch_message(posted.window, posted.message, posted.wparam, posted.lparam);
    }
}

Window* dialog_control(HWND dialog, int id) {
    WindowTable& windows = sys().state().windows;
    if (Window* control = windows.child(dialog, id)) {
        return control;
    }
    Window* owner = windows.find(dialog);
    if (owner == nullptr || owner->kind != WindowKind::dialog || owner->fixed_controls) {
        return nullptr;
    }
    ControlTemplate made;
    made.id = id;
    return &add_control(dialog, made);
}

} // namespace winsim::user
