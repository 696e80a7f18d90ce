// user32: windows, dialogs and message boxes of the headless window manager.
#include "user/api.h"
#include "user/dialog.h"
#include "user/window_engine.h"

#include <cstring>

namespace winsim::user {
namespace {

Window* window_of(HWND handle) {
    Window* window = sys().state().windows.find(handle);
    if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return window;
}

LONG_PTR get_long(Window& window, int index) {
    switch (index) {
    case GWLP_ID:
        return window.id;
    case GWL_STYLE:
        return static_cast<LONG_PTR>(window.style);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(window.parent);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(window.instance);
    default:
        return window.longs[index];
    }
}

LONG_PTR set_long(Window& window, int index, LONG_PTR value) {
    const LONG_PTR previous = get_long(window, index);
    switch (index) {
    case GWLP_ID:
        window.id = static_cast<int>(value);
        break;
    case GWL_STYLE:
        window.style = static_cast<DWORD>(value);
        break;
    case GWLP_HWNDPARENT:
        window.parent = reinterpret_cast<HWND>(value);
        break;
    case GWLP_HINSTANCE:
        window.instance = reinterpret_cast<HINSTANCE>(value);
        break;
    default:
        window.longs[index] = value;
        if (index == DWLP_DLGPROC && window.kind == WindowKind::dialog) {
            window.dialog_proc = reinterpret_cast<DLGPROC>(value);
        }
        break;
    }
    return previous;
}

} // namespace
} // namespace winsim::user

using namespace winsim::user;

extern "C" {

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return dispatch_message(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam) {
    Window* control = dialog_control(hDlg, nIDDlgItem);
    if (control == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return dispatch_message(control->handle, Msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (window_of(hWnd) == nullptr) {
        return FALSE;
    }
    sys().state().windows.queue().push_back({hWnd, Msg, wParam, lParam});
    return TRUE;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    if (auto error = injected("DialogBoxParamA")) {
        SetLastError(*error);
        return -1;
    }
    const HWND dialog =
        create_dialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    pump_messages();
    auto ended = [dialog] {
        Window* window = sys().state().windows.find(dialog);
        return window == nullptr || window->ended;
    };
    if (!ended()) {
        if (std::optional<DialogDriver> driver = sys().next_dialog_driver()) {
            Dialog view(reinterpret_cast<std::uintptr_t>(dialog));
            (*driver)(view);
            pump_messages();
        }
    }
    if (!ended()) {
        // Nobody answers: as if the user pressed Escape.
        dispatch_message(dialog, WM_COMMAND, IDCANCEL, 0);
        pump_messages();
    }
    Window* window = sys().state().windows.find(dialog);
    if (window == nullptr) {
        return -1;
    }
    INT_PTR result = window->end_result;
    if (!window->ended) {
        sys().record_error("modal dialog " + window->template_name + " was never ended");
        result = -1;
    }
    destroy_window(dialog);
    return result;
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    if (auto error = injected("CreateDialogParamA")) {
        SetLastError(*error);
        return nullptr;
    }
    return create_dialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    Window* window = window_of(hDlg);
    if (window == nullptr || window->kind != WindowKind::dialog) {
        return FALSE;
    }
    window->ended = true;
    window->end_result = nResult;
    return TRUE;
}

LRESULT WINAPI DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* window = window_of(hDlg);
    if (window == nullptr || window->kind != WindowKind::dialog) {
        return 0;
    }
    return dispatch_message(hDlg, Msg, wParam, lParam);
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    if (window_of(hWnd) == nullptr) {
        return FALSE;
    }
    destroy_window(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    return sys().state().windows.find(hWnd) != nullptr;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    Window* control = dialog_control(hDlg, nIDDlgItem);
    if (control == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return control->handle;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    Window* window = window_of(hWnd);
    return window == nullptr ? 0 : window->id;
}

HWND WINAPI GetParent(HWND hWnd) {
    Window* window = window_of(hWnd);
    return window == nullptr ? nullptr : window->parent;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    Window* window = window_of(hWnd);
    if (window == nullptr) {
        return FALSE;
    }
    const bool was_disabled = !window->enabled;
    window->enabled = bEnable != FALSE;
    return was_disabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    Window* window = window_of(hWnd);
    return window != nullptr && window->enabled;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    return window_of(hWnd) != nullptr &&
           dispatch_message(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (window_of(hWnd) == nullptr || lpString == nullptr || nMaxCount <= 0) {
        return 0;
    }
    return static_cast<int>(dispatch_message(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                             reinterpret_cast<LPARAM>(lpString)));
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control != nullptr && SetWindowTextA(control, lpString);
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (control == nullptr) {
        if (lpString != nullptr && cchMax > 0) {
            lpString[0] = '\0';
        }
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(control, lpString, cchMax));
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
    HWND control = GetDlgItem(hDlg, nIDButton);
    if (control == nullptr) {
        return FALSE;
    }
    dispatch_message(control, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
    HWND control = GetDlgItem(hDlg, nIDButton);
    return control == nullptr ? 0 : static_cast<UINT>(dispatch_message(control, BM_GETCHECK, 0, 0));
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    Window* window = window_of(hWnd);
    return window == nullptr ? 0 : static_cast<LONG>(get_long(*window, nIndex));
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
    Window* window = window_of(hWnd);
    return window == nullptr ? 0 : static_cast<LONG>(set_long(*window, nIndex, dwNewLong));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
    Window* window = window_of(hWnd);
    return window == nullptr ? 0 : get_long(*window, nIndex);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    Window* window = window_of(hWnd);
    return window == nullptr ? 0 : set_long(*window, nIndex, dwNewLong);
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (auto error = injected("MessageBoxA")) {
        SetLastError(*error);
        return 0;
    }
    sys().record_message_box(MessageBoxRecord{reinterpret_cast<std::uintptr_t>(hWnd),
                                              lpText == nullptr ? "" : lpText,
                                              lpCaption == nullptr ? "Error" : lpCaption, uType});
    return sys().message_box_answer();
}

void WINAPI InitCommonControls(void) {}

} // extern "C"
