#include "user/property_sheet.h"

#include "user/api.h"
#include "user/page_table.h"
#include "user/window_engine.h"

#include <algorithm>

namespace winsim::user {
namespace {

HPROPSHEETPAGE as_page(void* page) {
    return static_cast<HPROPSHEETPAGE>(page);
}

} // namespace

PropertySheet::PropertySheet(std::string caption) : caption_(std::move(caption)) {
    const HWND frame = create_host_window(
        [this](Window& window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
            switch (message) {
            case PSM_CHANGED:
                if (std::find(changed_pages_.begin(), changed_pages_.end(), wparam) ==
                    changed_pages_.end()) {
                    changed_pages_.push_back(wparam);
                }
                return TRUE;
            case PSM_UNCHANGED:
                std::erase(changed_pages_, wparam);
                return TRUE;
            case PSM_REBOOTSYSTEM:
                reboot_ = true;
                return 0;
            case PSM_RESTARTWINDOWS:
                restart_ = true;
                return 0;
            case WM_SETTEXT:
                caption_ = lparam == 0 ? "" : reinterpret_cast<LPCSTR>(lparam);
                return TRUE;
            default:
                return 0;
            }
        },
        "PropertySheet");
    frame_ = reinterpret_cast<std::uintptr_t>(frame);
}

PropertySheet::~PropertySheet() {
    if (current_session() == nullptr) {
        return;
    }
    if (!closed_) {
        if (shown_) {
            for (const auto& entry : pages_) {
                if (entry.dialog != 0) {
                    notify(entry, PSN_RESET, 0);
                }
            }
        }
        close();
    }
    destroy_window(reinterpret_cast<HWND>(frame_));
}

bool PropertySheet::add_page(void* page) {
    if (page == nullptr || shown_ || closed_ || pages_.size() >= page_limit_ ||
        sys().state().pages.find(as_page(page)) == nullptr) {
        return false;
    }
    pages_.push_back(Entry{page, 0});
    return true;
}

void PropertySheet::show() {
    if (shown_ || closed_) {
        return;
    }
    shown_ = true;
    for (auto& entry : pages_) {
        Page* page = sys().state().pages.find(as_page(entry.page));
        if (page == nullptr) {
            continue;
        }
        PROPSHEETPAGEA* record = page->record();
        if ((record->dwFlags & PSP_USECALLBACK) != 0 && record->pfnCallback != nullptr &&
            record->pfnCallback(nullptr, PSPCB_CREATE, record) == 0) {
            continue; // the page refused to be made
        }
        const HWND dialog =
            create_dialog(record->hInstance, record->pszTemplate, reinterpret_cast<HWND>(frame_),
                          record->pfnDlgProc, reinterpret_cast<LPARAM>(record));
        page->dialog = dialog;
        entry.dialog = reinterpret_cast<std::uintptr_t>(dialog);
    }
    pump_messages();
    for (const auto& entry : pages_) {
        if (entry.dialog != 0) {
            notify(entry, PSN_SETACTIVE, 0); // the first page is the active one
            break;
        }
    }
}

std::size_t PropertySheet::created_pages() const {
    return static_cast<std::size_t>(
        std::count_if(pages_.begin(), pages_.end(), [](const Entry& e) { return e.dialog != 0; }));
}

std::intptr_t PropertySheet::page_lparam(std::size_t index) const {
    std::size_t seen = 0;
    for (const auto& entry : pages_) {
        if (entry.dialog == 0) {
            continue;
        }
        if (seen++ == index) {
            Page* page = sys().state().pages.find(as_page(entry.page));
            return page == nullptr ? 0 : page->record()->lParam;
        }
    }
    return 0;
}

Dialog PropertySheet::page_dialog(std::size_t index) const {
    std::size_t seen = 0;
    for (const auto& entry : pages_) {
        if (entry.dialog != 0 && seen++ == index) {
            return Dialog(entry.dialog);
        }
    }
    return Dialog(0);
}

std::intptr_t PropertySheet::notify(const Entry& entry, unsigned code, std::intptr_t lparam) {
    PSHNOTIFY notification{};
    notification.hdr.hwndFrom = reinterpret_cast<HWND>(frame_);
    notification.hdr.idFrom = 0;
    notification.hdr.code = code;
    notification.lParam = lparam;
    const HWND dialog = reinterpret_cast<HWND>(entry.dialog);
    if (Window* window = sys().state().windows.find(dialog)) {
        window->longs[DWLP_MSGRESULT] = 0;
    }
    const LRESULT result =
        dispatch_message(dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notification));
    pump_messages();
    return result;
}

bool PropertySheet::apply_all(bool closing) {
    const Entry* active = nullptr;
    for (const auto& entry : pages_) {
        if (entry.dialog != 0) {
            active = &entry;
            break;
        }
    }
    if (active != nullptr && notify(*active, PSN_KILLACTIVE, 0) != 0) {
        return false;
    }
    for (const auto& entry : pages_) {
        if (entry.dialog == 0) {
            continue;
        }
        const std::intptr_t answer = notify(entry, PSN_APPLY, closing ? TRUE : FALSE);
        if (answer == PSNRET_INVALID || answer == PSNRET_INVALID_NOCHANGEPAGE) {
            return false;
        }
    }
    changed_pages_.clear();
    return true;
}

bool PropertySheet::apply() {
    if (!shown_ || closed_) {
        return false;
    }
    return apply_all(false);
}

bool PropertySheet::ok() {
    if (!shown_ || closed_) {
        return false;
    }
    if (!apply_all(true)) {
        return false;
    }
    close();
    return true;
}

bool PropertySheet::cancel() {
    if (closed_) {
        return false;
    }
    if (shown_) {
        for (const auto& entry : pages_) {
            if (entry.dialog != 0) {
                if (notify(entry, PSN_QUERYCANCEL, 0) != 0) {
                    return false;
                }
                break;
            }
        }
        for (const auto& entry : pages_) {
            if (entry.dialog != 0) {
                notify(entry, PSN_RESET, 0);
            }
        }
    }
    close();
    return true;
}

void PropertySheet::close() {
    closed_ = true;
    for (auto& entry : pages_) {
        if (entry.dialog != 0) {
            destroy_window(reinterpret_cast<HWND>(entry.dialog));
            if (Page* page = sys().state().pages.find(as_page(entry.page))) {
                page->dialog = nullptr;
            }
        }
    }
    for (auto& entry : pages_) {
        release_page(as_page(entry.page));
    }
    pages_.clear();
}

} // namespace winsim::user
