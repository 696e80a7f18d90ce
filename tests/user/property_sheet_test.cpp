// Property sheet pages and the headless sheet: copies, callbacks, notification order; modal
// dialogs driven by the host.
#include <commctrl.h>

#include "user/dialog.h"
#include "user/property_sheet.h"
#include "user_fixture.h"

#include <string>

namespace winsim::user::test {
namespace {

std::vector<std::string> events;

// The page's answer to PSN_APPLY (PSNRET_NOERROR lets the sheet close).
LRESULT apply_answer = PSNRET_NOERROR;

std::string notification_name(UINT code) {
    switch (code) {
    case PSN_SETACTIVE:
        return "setactive";
    case PSN_KILLACTIVE:
        return "killactive";
    case PSN_APPLY:
        return "apply";
    case PSN_RESET:
        return "reset";
    case PSN_QUERYCANCEL:
        return "querycancel";
    default:
        return "notify";
    }
}

INT_PTR CALLBACK page_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto* page = reinterpret_cast<LPPROPSHEETPAGEA>(lparam);
        events.push_back("init " + std::to_string(page->lParam));
        SetWindowLongPtrA(window, DWLP_USER, page->lParam);
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<LPNMHDR>(lparam);
        const LONG_PTR page = GetWindowLongPtrA(window, DWLP_USER);
        std::string event = notification_name(header->code) + " " + std::to_string(page);
        if (header->code == PSN_APPLY) {
            event += reinterpret_cast<LPPSHNOTIFY>(lparam)->lParam ? " ok" : " now";
            SetWindowLongPtrA(window, DWLP_MSGRESULT, apply_answer);
        }
        events.push_back(event);
        return TRUE;
    }
    case WM_DESTROY:
        events.push_back("destroy " + std::to_string(GetWindowLongPtrA(window, DWLP_USER)));
        return TRUE;
    default:
        return FALSE;
    }
}

UINT CALLBACK page_callback(HWND window, UINT message, LPPROPSHEETPAGEA page) {
    static const char* names[] = {"addref", "release", "create"};
    events.push_back(std::string(names[message]) + " " + std::to_string(page->lParam));
    return page->lParam == 99 && message == PSPCB_CREATE ? 0 : 1; // page 99 refuses
}

// A page record with the caller's data appended, as providers may do.
struct ExtendedPage {
    PROPSHEETPAGEA page;
    int extra;
};

class PropertySheetTest : public UserTest {
  protected:
    PropertySheetTest() {
        events.clear();
        apply_answer = PSNRET_NOERROR;
    }
    ~PropertySheetTest() override { EXPECT_EQ(session.live_property_pages(), 0u); }

    static HPROPSHEETPAGE make_page(LPARAM lparam) {
        ExtendedPage page{};
        page.page.dwSize = sizeof page;
        page.page.dwFlags = PSP_USECALLBACK;
        page.page.pszTemplate = MAKEINTRESOURCEA(101);
        page.page.pfnDlgProc = page_proc;
        page.page.lParam = lparam;
        page.page.pfnCallback = page_callback;
        page.extra = 42;
        HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page.page);
        page.page.lParam = -1; // the system works on its copy
        return handle;
    }
};

struct CloseCase {
    const char* name;
    bool (PropertySheet::*first)();
    bool (PropertySheet::*second)(); // nullptr: none
    std::vector<std::string> expected;
};

class SheetCloseTest : public PropertySheetTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(SheetCloseTest, PagesAreToldInWindowsOrder) {
    {
        PropertySheet sheet("Card");
        ASSERT_TRUE(sheet.add_page(make_page(1)));
        ASSERT_TRUE(sheet.add_page(make_page(2)));
        sheet.show();
        events.clear();
        EXPECT_TRUE((sheet.*GetParam().first)());
        if (GetParam().second != nullptr) {
            EXPECT_TRUE((sheet.*GetParam().second)());
        }
        EXPECT_TRUE(sheet.closed());
    }
    EXPECT_EQ(events, GetParam().expected);
}

const std::vector<std::string> closing = {"destroy 1", "destroy 2", "release 1", "release 2"};

std::vector<std::string> with_closing(std::vector<std::string> before) {
    before.insert(before.end(), closing.begin(), closing.end());
    return before;
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, SheetCloseTest,
    ::testing::Values(CloseCase{"Ok", &PropertySheet::ok, nullptr,
                                with_closing({"killactive 1", "apply 1 ok", "apply 2 ok"})},
                      CloseCase{"Cancel", &PropertySheet::cancel, nullptr,
                                with_closing({"querycancel 1", "reset 1", "reset 2"})},
                      CloseCase{"ApplyThenCancel", &PropertySheet::apply, &PropertySheet::cancel,
                                with_closing({"killactive 1", "apply 1 now", "apply 2 now",
                                              "querycancel 1", "reset 1", "reset 2"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PropertySheetTest, PagesAreCopiedAndCreatedOnlyWhenTheirCallbackAgrees) {
    PropertySheet sheet;
    HPROPSHEETPAGE first = make_page(7);
    HPROPSHEETPAGE refused = make_page(99);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(sheet.add_page(first));
    ASSERT_TRUE(sheet.add_page(refused));
    sheet.show();
    EXPECT_EQ(events, (std::vector<std::string>{"addref 7", "addref 99", "create 7", "init 7",
                                                "create 99", "setactive 7"}));
    ASSERT_EQ(sheet.created_pages(), 1u);
    EXPECT_EQ(sheet.page_lparam(0), 7);
    EXPECT_EQ(sheet.page_dialog(0).user_data(), 7);
    EXPECT_TRUE(sheet.ok());
    EXPECT_EQ(events.back(), "release 99"); // every page is released, made or not
}

int seen_extra = 0;

INT_PTR CALLBACK extra_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        seen_extra = reinterpret_cast<const ExtendedPage*>(lparam)->extra;
        return TRUE;
    }
    return FALSE;
}

TEST_F(PropertySheetTest, CallerDataAppendedToTheRecordIsCopiedWithIt) {
    ExtendedPage page{};
    page.page.dwSize = sizeof page;
    page.page.pfnDlgProc = extra_proc;
    page.extra = 42;
    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page.page);
    ASSERT_NE(handle, nullptr);
    page.extra = 0;
    PropertySheet sheet;
    ASSERT_TRUE(sheet.add_page(handle));
    sheet.show();
    EXPECT_EQ(seen_extra, 42);
    sheet.cancel();

    PROPSHEETPAGEA too_small{};
    too_small.dwSize = 8;
    EXPECT_EQ(CreatePropertySheetPageA(&too_small), nullptr);
}

TEST_F(PropertySheetTest, APageThatRefusesTheApplyKeepsTheSheetOpen) {
    PropertySheet sheet;
    ASSERT_TRUE(sheet.add_page(make_page(1)));
    sheet.show();
    apply_answer = PSNRET_INVALID;
    EXPECT_FALSE(sheet.ok());
    EXPECT_FALSE(sheet.closed());
    apply_answer = PSNRET_NOERROR;
    EXPECT_TRUE(sheet.ok());
}

TEST_F(PropertySheetTest, DestroyingAnUnusedPageReleasesIt) {
    HPROPSHEETPAGE page = make_page(5);
    EXPECT_TRUE(DestroyPropertySheetPage(page));
    EXPECT_EQ(events, (std::vector<std::string>{"addref 5", "release 5"}));
    EXPECT_FALSE(DestroyPropertySheetPage(page));
}

// A dialog procedure that sends every message it does not know back to DefDlgProcA, as a
// careless page would: on Windows that recursion never ends.
INT_PTR CALLBACK recursing_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    return DefDlgProcA(window, message, wparam, lparam);
}

TEST_F(PropertySheetTest, EndlessDefDlgProcRecursionIsReportedNotFollowed) {
    HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(5), nullptr, recursing_proc, 0);
    SendMessageA(dialog, WM_USER, 0, 0);
    EXPECT_EQ(session.errors().size(), 1u);
    DestroyWindow(dialog);
}

INT_PTR CALLBACK choose_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        for (const char* name : {"COM1", "COM2", "COM3"}) {
            SendDlgItemMessageA(window, 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        }
        SendDlgItemMessageA(window, 1002, CB_SETCURSEL, static_cast<WPARAM>(lparam), 0);
        return FALSE;
    }
    if (message == WM_COMMAND && wparam == IDOK) {
        const LRESULT chosen = SendDlgItemMessageA(window, 1002, CB_GETCURSEL, 0, 0);
        EndDialog(window, 10 + chosen + (IsDlgButtonChecked(window, 1003) ? 100 : 0));
        return TRUE;
    }
    if (message == WM_COMMAND && wparam == IDCANCEL) {
        EndDialog(window, 0);
        return TRUE;
    }
    return FALSE;
}

TEST_F(PropertySheetTest, ModalDialogsAreDrivenByTheHostOrCancelled) {
    session.push_dialog_driver([](Dialog& dialog) {
        EXPECT_EQ(dialog.items(1002), (std::vector<std::string>{"COM1", "COM2", "COM3"}));
        EXPECT_EQ(dialog.selection(1002), 1);
        dialog.select(1002, 2);
        dialog.set_checked(1003, true);
        dialog.click(IDOK);
    });
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(102), nullptr, choose_proc, 1), 112);
    // No driver: Escape.
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(102), nullptr, choose_proc, 1), 0);
    EXPECT_EQ(session.live_windows(), 0u);
    EXPECT_TRUE(session.errors().empty());
}

} // namespace
} // namespace winsim::user::test
