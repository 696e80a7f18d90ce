// The registry's 8-bit calls: sizes, conversions, names, errors, deletion and key security.
#include "user_fixture.h"

#include <cstring>

namespace winsim::user::test {
namespace {

class RegistryApiTest : public UserTest {
  protected:
    HKEY create(const char* path, REGSAM access = KEY_ALL_ACCESS) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  access, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
};

struct StringCase {
    DWORD type;
    std::string ansi; // including the terminating NUL(s)
};

class StringValueTest : public RegistryApiTest, public ::testing::WithParamInterface<StringCase> {};

TEST_P(StringValueTest, IsStoredAsUtf16AndReadBackAsAnsiWithAnsiSize) {
    const StringCase& c = GetParam();
    HKEY key = create("SOFTWARE\\Test");
    ASSERT_EQ(RegSetValueExA(key, "Text", 0, c.type, reinterpret_cast<const BYTE*>(c.ansi.data()),
                             static_cast<DWORD>(c.ansi.size())),
              ERROR_SUCCESS);

    reg::Value stored;
    ASSERT_EQ(registry.open_key("SOFTWARE\\Test")->query_value("Text", stored), reg::Status::ok);
    EXPECT_EQ(stored.data, reg::utf16_to_bytes(reg::to_utf16(c.ansi)));

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.ansi.size());

    std::vector<BYTE> small(c.ansi.size() - 1, 0xEE);
    size = static_cast<DWORD>(small.size());
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, small.data(), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, c.ansi.size());

    std::vector<BYTE> data(c.ansi.size() + 4, 0xEE);
    size = static_cast<DWORD>(data.size());
    ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, c.ansi.size());
    EXPECT_EQ(std::memcmp(data.data(), c.ansi.data(), c.ansi.size()), 0);
    RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(
    Types, StringValueTest,
    ::testing::Values(StringCase{REG_SZ, std::string("COM3", 5)},
                      StringCase{REG_EXPAND_SZ, std::string("%SystemRoot%\\x", 15)},
                      StringCase{REG_MULTI_SZ, std::string("QEL_CARD\\SERIAL\0B\0", 19)},
                      StringCase{REG_SZ, std::string("caf\xE9", 5)}));

TEST_F(RegistryApiTest, DwordIsFourBytesAndNamesMatchWithoutRegardToCase) {
    HKEY key = create("SYSTEM\\Card\\Device Parameters");
    const DWORD ports = 4;
    ASSERT_EQ(RegSetValueExA(key, "PORTS", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ports), 4),
              ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "system\\CARD\\device parameters", &key),
              ERROR_SUCCESS);
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExA(key, "Ports", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 4u);
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, MissingKeysAndValuesAndBadHandlesAreReported) {
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\Nowhere", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software", &key), ERROR_FILE_NOT_FOUND);

    key = create("SOFTWARE\\Test");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApiTest, HandleToADeletedKeyFailsWithKeyDeleted) {
    HKEY key = create("SOFTWARE\\Gone");
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_KEY_DELETED);
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, HandlesAreAccountedAndCarryTheirAccess) {
    HKEY writable = create("SOFTWARE\\Test");
    HKEY readable = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_READ, &readable),
              ERROR_SUCCESS);
    EXPECT_EQ(session.open_keys().size(), 2u);

    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(readable, "X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(writable, "X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_SUCCESS);
    RegCloseKey(readable);
    RegCloseKey(writable);
    EXPECT_TRUE(session.open_keys().empty());
}

TEST_F(RegistryApiTest, EnumerationReportsSmallBuffersAndTheEnd) {
    HKEY key = create("SOFTWARE\\Map");
    const char com3[] = "COM3";
    ASSERT_EQ(RegSetValueExA(key, "\\Device\\Serial0", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(com3), sizeof com3),
              ERROR_SUCCESS);
    RegCloseKey(create("SOFTWARE\\Map\\Child"));

    char name[256];
    DWORD name_length = 4;
    BYTE data[256];
    DWORD data_size = sizeof data;
    DWORD type = 0;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &name_length, nullptr, &type, data, &data_size),
              ERROR_MORE_DATA);
    name_length = sizeof name;
    data_size = 2;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &name_length, nullptr, &type, data, &data_size),
              ERROR_MORE_DATA);
    EXPECT_EQ(data_size, sizeof com3);
    name_length = sizeof name;
    data_size = sizeof data;
    ASSERT_EQ(RegEnumValueA(key, 0, name, &name_length, nullptr, &type, data, &data_size),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "\\Device\\Serial0");
    EXPECT_EQ(name_length, std::strlen("\\Device\\Serial0"));
    EXPECT_STREQ(reinterpret_cast<char*>(data), "COM3");
    name_length = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &name_length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    EXPECT_EQ(RegEnumKeyA(key, 0, name, 3), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Child");
    EXPECT_EQ(RegEnumKeyA(key, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, CreateKeyKeepsItsClassAndTellsWhetherItWasNew) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    char ports_class[] = "Ports";
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\qelser_nt",
                              0, ports_class, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\QELSER_NT",
                              0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
    EXPECT_EQ(registry.open_key("SYSTEM\\CurrentControlSet\\Services\\qelser_nt")->class_name(),
              "Ports");
}

struct DeleteCase {
    WindowsVersion version;
    LONG result;
    bool parent_left;
};

class DeleteKeyTest : public RegistryApiTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteKeyTest, KeyWithSubkeysFollowsTheWindowsFamily) {
    session.set_version(GetParam().version);
    RegCloseKey(create("SYSTEM\\Enum\\QEL_CARD\\SERIAL\\020B0000"));
    RegCloseKey(create("SYSTEM\\Enum\\QEL_CARD\\SERIAL\\020B0001"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\Enum\\QEL_CARD"), GetParam().result);
    EXPECT_EQ(registry.open_key("SYSTEM\\Enum\\QEL_CARD") != nullptr, GetParam().parent_left);
    // A leaf goes either way.
    RegCloseKey(create("SYSTEM\\Leaf"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\Leaf"), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Families, DeleteKeyTest,
    ::testing::Values(DeleteCase{WindowsVersion::nt, ERROR_ACCESS_DENIED, true},
                      DeleteCase{WindowsVersion::win9x, ERROR_SUCCESS, false}));

TEST_F(RegistryApiTest, KeySecurityIsSavedOpenedToAllAndPutBack) {
    const char* path = "SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020B0000";
    RegCloseKey(create(path));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS);

    DWORD size = 0;
    ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size),
              ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> saved(size);
    ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.data(), &size),
              ERROR_SUCCESS);

    SECURITY_DESCRIPTOR open{};
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open), ERROR_SUCCESS);
    EXPECT_EQ(registry.keys_open_to_all(), std::vector<std::string>{path});

    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.data()), ERROR_SUCCESS);
    EXPECT_TRUE(registry.keys_open_to_all().empty());

    // A descriptor with a NULL DACL opens the key as well; garbage is refused.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open), ERROR_SUCCESS);
    EXPECT_EQ(registry.keys_open_to_all().size(), 1u);
    BYTE garbage[sizeof(SECURITY_DESCRIPTOR)] = {7};
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, garbage),
              ERROR_INVALID_SECURITY_DESCR);
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, InjectedFailureHitsTheChosenCallOnly) {
    RegCloseKey(create("SOFTWARE\\Test"));
    session.faults().fail_nth("RegOpenKeyA", 2, ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", &key), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(session.faults().calls("RegOpenKeyA"), 3u);
    EXPECT_TRUE(session.open_keys().empty());
}

} // namespace
} // namespace winsim::user::test
