// The headless window manager's records. A window is a dialog (it has a dialog procedure and
// the dialog window longs), a control of a dialog (found by its id; list boxes, combo boxes
// and buttons keep their state here), or a host window such as a property sheet frame, whose
// messages a host function answers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim::user {

enum class WindowKind { dialog, control, host };

struct Window;
// Answers the messages of a host window.
using HostProc = std::function<LRESULT(Window&, UINT, WPARAM, LPARAM)>;

struct Window {
    HWND handle = nullptr;
    HWND parent = nullptr;
    WindowKind kind = WindowKind::control;
    int id = 0;             // control id
    std::string class_name; // "#32770" for dialogs, "LISTBOX", "COMBOBOX", "BUTTON" ...
    DWORD style = 0;
    std::string text;
    bool enabled = true;
    HINSTANCE instance = nullptr;
    std::map<int, LONG_PTR> longs; // window longs by index

    // Dialogs.
    DLGPROC dialog_proc = nullptr;
    std::string template_name;   // "#101" for template 101
    bool fixed_controls = false; // made from a registered template: no controls on demand
    bool ended = false;
    INT_PTR end_result = 0;
    int dispatch_depth = 0;

    // List boxes and combo boxes.
    std::vector<std::string> items;
    std::vector<LPARAM> item_data;
    int selection = -1;
    // Buttons.
    UINT check = BST_UNCHECKED;

    HostProc host_proc;
};

class WindowTable {
  public:
    Window& create(WindowKind kind, HWND parent);
    Window* find(HWND handle);
    // The control with the id among the window's children.
    Window* child(HWND parent, int id);
    std::vector<HWND> children(HWND parent) const;
    // Removes the window record and those of its children.
    void remove(HWND handle);
    std::size_t size() const { return windows_.size(); }

    struct Posted {
        HWND window;
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
    };
    std::vector<Posted>& queue() { return queue_; }

  private:
    std::uintptr_t next_ = 0x10010;
    std::map<HWND, std::unique_ptr<Window>> windows_;
    std::vector<Posted> queue_;
};

} // namespace winsim::user
