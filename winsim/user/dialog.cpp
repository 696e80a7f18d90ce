#include "user/dialog.h"

#include "registry/names.h"
#include "user/api.h"
#include "user/window_engine.h"

namespace winsim::user {
namespace {

HWND as_hwnd(std::uintptr_t handle) {
    return reinterpret_cast<HWND>(handle);
}

const Window* control_of(std::uintptr_t dialog, int id) {
    return dialog_control(as_hwnd(dialog), id);
}

} // namespace

void register_dialog_template(Session& session, std::string module_name, int id,
                              DialogTemplate dialog) {
    session.state().dialog_templates[{reg::upper_name(module_name), id}] = std::move(dialog);
}

bool Dialog::exists() const {
    return sys().state().windows.find(as_hwnd(hwnd_)) != nullptr;
}

std::string Dialog::template_name() const {
    const Window* window = sys().state().windows.find(as_hwnd(hwnd_));
    return window == nullptr ? "" : window->template_name;
}

std::string Dialog::caption() const {
    const Window* window = sys().state().windows.find(as_hwnd(hwnd_));
    return window == nullptr ? "" : window->text;
}

std::intptr_t Dialog::user_data() const {
    Window* window = sys().state().windows.find(as_hwnd(hwnd_));
    return window == nullptr ? 0 : window->longs[DWLP_USER];
}

std::intptr_t Dialog::send(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) {
    const LRESULT result = dispatch_message(as_hwnd(hwnd_), message, wparam, lparam);
    pump_messages();
    return result;
}

std::vector<std::string> Dialog::items(int id) const {
    const Window* control = control_of(hwnd_, id);
    return control == nullptr ? std::vector<std::string>{} : control->items;
}

int Dialog::selection(int id) const {
    const Window* control = control_of(hwnd_, id);
    return control == nullptr ? -1 : control->selection;
}

bool Dialog::checked(int id) const {
    const Window* control = control_of(hwnd_, id);
    return control != nullptr && control->check == BST_CHECKED;
}

bool Dialog::enabled(int id) const {
    const Window* control = control_of(hwnd_, id);
    return control != nullptr && control->enabled;
}

std::string Dialog::text(int id) const {
    const Window* control = control_of(hwnd_, id);
    return control == nullptr ? "" : control->text;
}

void Dialog::select(int id, int index) {
    Window* control = dialog_control(as_hwnd(hwnd_), id);
    if (control == nullptr) {
        return;
    }
    const bool combo = control->class_name == "COMBOBOX";
    dispatch_message(control->handle, combo ? CB_SETCURSEL : LB_SETCURSEL,
                     static_cast<WPARAM>(index), 0);
    send(WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
         reinterpret_cast<LPARAM>(control->handle));
}

void Dialog::double_click(int id) {
    Window* control = dialog_control(as_hwnd(hwnd_), id);
    if (control != nullptr) {
        send(WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK), reinterpret_cast<LPARAM>(control->handle));
    }
}

void Dialog::click(int id) {
    Window* control = dialog_control(as_hwnd(hwnd_), id);
    if (control != nullptr) {
        dispatch_message(control->handle, BM_CLICK, 0, 0);
        pump_messages();
    }
}

void Dialog::set_checked(int id, bool checked) {
    Window* control = dialog_control(as_hwnd(hwnd_), id);
    if (control == nullptr || (control->check == BST_CHECKED) == checked) {
        return;
    }
    if ((control->style & 0x0F) != BS_AUTOCHECKBOX) {
        // A control without a template: tick it as an automatic check box would.
        control->check = checked ? BST_CHECKED : BST_UNCHECKED;
    }
    click(id);
}

bool Dialog::ended() const {
    const Window* window = sys().state().windows.find(as_hwnd(hwnd_));
    return window == nullptr || window->ended;
}

std::intptr_t Dialog::result() const {
    const Window* window = sys().state().windows.find(as_hwnd(hwnd_));
    return window == nullptr ? 0 : window->end_result;
}

} // namespace winsim::user
