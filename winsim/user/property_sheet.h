// A headless property sheet. It takes pages made by CreatePropertySheetPageA, makes each
// page's dialog when shown (PSPCB_CREATE, then WM_INITDIALOG with the page's PROPSHEETPAGEA as
// lParam), and closes as a person closes one:
//
//   OK:     PSN_KILLACTIVE to the active page, PSN_APPLY (lParam TRUE) to every page, then close.
//   Apply:  PSN_KILLACTIVE, PSN_APPLY (lParam FALSE) to every page; the sheet stays open.
//   Cancel: PSN_QUERYCANCEL to the active page, PSN_RESET to every page, then close.
//   Close:  WM_DESTROY to every page's dialog, then PSPCB_RELEASE to every page.
//
// A page that answers PSN_KILLACTIVE with TRUE, PSN_APPLY with PSNRET_INVALID or
// PSNRET_INVALID_NOCHANGEPAGE, or PSN_QUERYCANCEL with TRUE keeps the sheet open.
// Pages are handed over as void* (HPROPSHEETPAGE) so that hosts need no <windows.h>.
#pragma once

#include "user/dialog.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winsim::user {

class PropertySheet {
  public:
    explicit PropertySheet(std::string caption = "");
    // Closes the sheet (as Cancel) if it is still open and releases the pages.
    ~PropertySheet();
    PropertySheet(const PropertySheet&) = delete;
    PropertySheet& operator=(const PropertySheet&) = delete;

    // false when the sheet is full (page_limit), shown or closed: the page stays the caller's.
    bool add_page(void* page);
    void set_page_limit(std::size_t limit) { page_limit_ = limit; }
    std::size_t page_count() const { return pages_.size(); }

    void show();
    bool shown() const { return shown_; }
    bool closed() const { return closed_; }

    // Pages whose dialog was made (PSPCB_CREATE did not refuse), in order.
    std::size_t created_pages() const;
    std::intptr_t page_lparam(std::size_t index) const;
    Dialog page_dialog(std::size_t index) const;
    // The sheet's frame window (the pages' parent).
    std::uintptr_t handle() const { return frame_; }

    bool ok();
    bool apply();
    bool cancel();

    // What pages told the sheet (PSM_CHANGED, PSM_REBOOTSYSTEM, PSM_RESTARTWINDOWS).
    bool changed() const { return !changed_pages_.empty(); }
    bool reboot_requested() const { return reboot_; }
    bool restart_requested() const { return restart_; }

  private:
    struct Entry {
        void* page = nullptr;
        std::uintptr_t dialog = 0; // 0: not created
    };
    bool apply_all(bool closing);
    void close();
    std::intptr_t notify(const Entry& entry, unsigned code, std::intptr_t lparam);

    std::string caption_;
    std::uintptr_t frame_ = 0;
    std::vector<Entry> pages_;
    std::vector<std::uintptr_t> changed_pages_;
    std::size_t page_limit_ = 100;
    bool shown_ = false;
    bool closed_ = false;
    bool reboot_ = false;
    bool restart_ = false;
};

} // namespace winsim::user
