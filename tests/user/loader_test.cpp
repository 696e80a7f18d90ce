// The module loader: modules side by side, entry points, exports only, reference counts.
#include "user_fixture.h"

#include <cstring>

namespace winsim::user::test {
namespace {

using NameFunction = INT_PTR (*)();

class LoaderTest : public UserTest {
  protected:
    LoaderTest() {
        session.map_file("C:\\WINDOWS\\system32\\a.dll", USER_TEST_DLL_A);
        session.map_file("C:\\Program Files\\B\\b.dll", USER_TEST_DLL_B);
        session.map_file("C:\\WINDOWS\\system32\\refuses.dll", USER_TEST_DLL_REFUSES);
    }
    ~LoaderTest() override { EXPECT_EQ(session.loaded_modules(), 0u); }

    static INT_PTR call(HMODULE module, const char* name) {
        auto function = reinterpret_cast<NameFunction>(GetProcAddress(module, name));
        return function == nullptr ? 0 : function();
    }
};

TEST_F(LoaderTest, ModulesExportingTheSameNameLiveSideBySide) {
    HMODULE a = LoadLibraryA("a.dll"); // found in the system directory
    HMODULE b = LoadLibraryA("C:\\PROGRAM FILES\\B\\B.DLL");
    ASSERT_NE(a, nullptr) << session.last_load_error();
    ASSERT_NE(b, nullptr) << session.last_load_error();
    EXPECT_NE(a, b);
    EXPECT_EQ(call(a, "shared_name"), 'A');
    EXPECT_EQ(call(b, "shared_name"), 'B');
    EXPECT_EQ(call(a, "only_in_a"), 1);
    EXPECT_EQ(GetProcAddress(b, "only_in_a"), nullptr);
    EXPECT_EQ(session.debug_output(), (std::vector<std::string>{"A attach", "B attach"}));
    FreeLibrary(b);
    FreeLibrary(a);
    EXPECT_EQ(session.debug_output(),
              (std::vector<std::string>{"A attach", "B attach", "B detach", "A detach"}));
}

TEST_F(LoaderTest, OnlyTheExportListIsVisible) {
    HMODULE a = LoadLibraryA("a.dll");
    ASSERT_NE(a, nullptr);
    for (const char* name :
         {"hidden_helper", "DllMain", "winsim_dll_entry", "malloc", "OutputDebugStringA"}) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(a, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
    }
    FreeLibrary(a);
}

TEST_F(LoaderTest, ReferencesCountAndTheEntryRunsOncePerLoad) {
    HMODULE first = LoadLibraryA("C:\\WINDOWS\\system32\\a");
    HMODULE second = LoadLibraryA("A.DLL");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    char path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(first, path, sizeof path),
              std::strlen("C:\\WINDOWS\\system32\\a.dll"));
    EXPECT_STREQ(path, "C:\\WINDOWS\\system32\\a.dll");
    char small[6];
    EXPECT_EQ(GetModuleFileNameA(first, small, sizeof small), sizeof small);
    EXPECT_STREQ(small, "C:\\WI"); // cut, and still terminated

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(session.loaded_modules(), 1u);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(session.debug_output(), (std::vector<std::string>{"A attach", "A detach"}));
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(LoaderTest, FailedLoadsLeaveNothingLoaded) {
    EXPECT_EQ(LoadLibraryA("missing.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    EXPECT_EQ(LoadLibraryA("refuses.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(session.debug_output(), std::vector<std::string>{"refuses detach"});

    session.faults().fail_nth("LoadLibraryA", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(LoadLibraryA("a.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

} // namespace
} // namespace winsim::user::test
