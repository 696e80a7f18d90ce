// Property sheet pages made by CreatePropertySheetPageA: the system's copy of each page's
// PROPSHEETPAGEA (with whatever the caller appended to it) and the page's dialog once a sheet
// has made it.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

namespace winsim::user {

struct Page {
    std::vector<std::max_align_t> storage; // the copied record, suitably aligned
    HWND dialog = nullptr;
    PROPSHEETPAGEA* record() { return reinterpret_cast<PROPSHEETPAGEA*>(storage.data()); }
};

class PageTable {
  public:
    HPROPSHEETPAGE add(std::unique_ptr<Page> page);
    Page* find(HPROPSHEETPAGE handle);
    void remove(HPROPSHEETPAGE handle) { pages_.erase(handle); }
    std::size_t size() const { return pages_.size(); }

  private:
    std::map<HPROPSHEETPAGE, std::unique_ptr<Page>> pages_;
};

// PSPCB_RELEASE to the page's callback, then the page is gone.
void release_page(HPROPSHEETPAGE handle);

} // namespace winsim::user
