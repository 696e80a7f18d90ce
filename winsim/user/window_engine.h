// The headless window manager: dialog creation, message dispatch, control behaviour.
#pragma once

#include <windows.h>

#include "user/window_table.h"

namespace winsim::user {

// Makes a dialog from the template (controls from a registered template, if any) and sends it
// WM_INITDIALOG with init_param. The dialog may already have ended itself when this returns.
HWND create_dialog(HINSTANCE instance, LPCSTR template_name, HWND parent, DLGPROC proc,
                   LPARAM init_param);

// A window owned by the host (a property sheet frame) whose messages proc answers.
HWND create_host_window(HostProc proc, std::string class_name);

LRESULT dispatch_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// WM_DESTROY to the window (a dialog's procedure sees it), then its record goes.
void destroy_window(HWND window);

// Delivers the posted messages.
void pump_messages();

// The control with the id: made on demand for dialogs without a registered template.
Window* dialog_control(HWND dialog, int id);

} // namespace winsim::user
