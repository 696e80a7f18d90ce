// The host's hand on a dialog of the headless window manager: what a person would see and do.
// Used by dialog drivers (modal dialogs, see Session::push_dialog_driver) and by the property
// sheet's pages. Actions send the messages Windows sends for them (a click on a check box is
// BM_CLICK, which notifies the dialog with WM_COMMAND / BN_CLICKED).
//
// Controls: a dialog whose template was registered (register_dialog_template) has exactly the
// template's controls; any other dialog gets a control, able to act as list box, combo box or
// button, the first time one is asked for by id.
#pragma once

#include "user/session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winsim::user {

struct ControlTemplate {
    int id = -1;
    std::string class_name; // "LISTBOX", "COMBOBOX", "BUTTON", "STATIC"
    std::uint32_t style =
        0; // window and control styles (LBS_SORT, BS_AUTOCHECKBOX, WS_DISABLED ...)
    std::string text;
};

struct DialogTemplate {
    std::string caption;
    std::vector<ControlTemplate> controls;
};

// The template "id" of the module whose file name is module_name (e.g. "qelui32.dll").
void register_dialog_template(Session& session, std::string module_name, int id,
                              DialogTemplate dialog);

class Dialog {
  public:
    explicit Dialog(std::uintptr_t hwnd) : hwnd_(hwnd) {}

    std::uintptr_t handle() const { return hwnd_; }
    bool exists() const;
    std::string template_name() const; // "#101"
    std::string caption() const;
    std::intptr_t user_data() const; // DWLP_USER
    std::intptr_t send(unsigned message, std::uintptr_t wparam, std::intptr_t lparam);

    // Controls.
    std::vector<std::string> items(int id) const;
    int selection(int id) const; // -1: none
    bool checked(int id) const;
    bool enabled(int id) const;
    std::string text(int id) const;
    void select(int id, int index); // picks an entry; the dialog is told (LBN/CBN_SELCHANGE)
    void double_click(int id);      // a list box line double-clicked (LBN_DBLCLK)
    void click(int id);             // a button or check box clicked
    void set_checked(int id, bool checked); // clicks a check box if it is not as wanted

    // Modal dialogs: whether EndDialog was called, and with what.
    bool ended() const;
    std::intptr_t result() const;

  private:
    std::uintptr_t hwnd_;
};

} // namespace winsim::user
