// comctl32's property sheet pages.
#include "user/api.h"
#include "user/page_table.h"

#include <cstring>

namespace winsim::user {

HPROPSHEETPAGE PageTable::add(std::unique_ptr<Page> page) {
    auto handle = reinterpret_cast<HPROPSHEETPAGE>(page.get());
    pages_.emplace(handle, std::move(page));
    return handle;
}

Page* PageTable::find(HPROPSHEETPAGE handle) {
    auto it = pages_.find(handle);
    return it == pages_.end() ? nullptr : it->second.get();
}

void release_page(HPROPSHEETPAGE handle) {
    Page* page = sys().state().pages.find(handle);
    if (page == nullptr) {
        return;
    }
    PROPSHEETPAGEA* record = page->record();
    if ((record->dwFlags & PSP_USECALLBACK) != 0 && record->pfnCallback != nullptr) {
        record->pfnCallback(nullptr, PSPCB_RELEASE, record);
    }
    if ((record->dwFlags & PSP_USEREFPARENT) != 0 && record->pcRefParent != nullptr) {
        --*record->pcRefParent;
    }
    sys().state().pages.remove(handle);
}

} // namespace winsim::user

using namespace winsim::user;

extern "C" {

HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA constPropSheetPagePointer) {
    if (auto error = injected("CreatePropertySheetPageA")) {
        SetLastError(*error);
        return nullptr;
    }
    const PROPSHEETPAGEA* given = constPropSheetPagePointer;
    if (given == nullptr || given->dwSize < PROPSHEETPAGEA_V1_SIZE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto page = std::make_unique<Page>();
    const std::size_t bytes = std::max<std::size_t>(given->dwSize, sizeof(PROPSHEETPAGEA));
    page->storage.resize((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
    std::memset(page->storage.data(), 0, page->storage.size() * sizeof(std::max_align_t));
    std::memcpy(page->storage.data(), given, given->dwSize);
    PROPSHEETPAGEA* record = page->record();
    const HPROPSHEETPAGE handle = sys().state().pages.add(std::move(page));
    if ((record->dwFlags & PSP_USEREFPARENT) != 0 && record->pcRefParent != nullptr) {
        ++*record->pcRefParent;
    }
    if ((record->dwFlags & PSP_USECALLBACK) != 0 && record->pfnCallback != nullptr) {
        record->pfnCallback(nullptr, PSPCB_ADDREF, record);
    }
    return handle;
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE hPSPage) {
    if (auto error = injected("DestroyPropertySheetPage")) {
        return fail(*error);
    }
    if (sys().state().pages.find(hPSPage) == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    release_page(hPSPage);
    return TRUE;
}

} // extern "C"
