#include "registry/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace winsim::reg {
namespace {

namespace fs = std::filesystem;

class RegistryFile : public testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("registry_test_" + std::to_string(::getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / registry_file_name;
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& text) const { std::ofstream(file, std::ios::binary) << text; }

    static std::string exported(const Registry& registry) {
        std::string text;
        EXPECT_EQ(registry.export_regedit4("", text), Status::ok);
        return text;
    }

    fs::path dir;
    fs::path file;
};

TEST_F(RegistryFile, RoundTripKeepsValuesClassesSecurityAndCase) {
    Registry saved;
    const auto params =
        saved
            .create_key("SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020D0003\\"
                        "Device Parameters")
            .key;
    ASSERT_EQ(params->set_string("PORTNAME", "COM\xE9"), Status::ok);
    ASSERT_EQ(params->set_string("", "default"), Status::ok);
    ASSERT_EQ(params->set_dword("RxFIFO", 8), Status::ok);
    ASSERT_EQ(params->set_multi_string("List", {"a", "b"}), Status::ok);
    ASSERT_EQ(params->set_value("Empty", value_type::binary, Bytes{}), Status::ok);
    ASSERT_EQ(params->set_value("Odd", 0xFFFFFFFFu, Bytes{0, 1, 0xFF}), Status::ok);
    const auto service =
        saved.create_key("SYSTEM\\CurrentControlSet\\Services\\qelser", {.class_name = "Ports"});
    ASSERT_EQ(service.key->set_open_to_all(), Status::ok);
    ASSERT_EQ(saved.create_key("SOFTWARE\\b").status, Status::ok);
    ASSERT_EQ(saved.create_key("SOFTWARE\\A").status, Status::ok);

    const FileResult written = saved.save(file);
    ASSERT_TRUE(written.ok()) << written.message;
    // Nothing is left beside the file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    Registry loaded;
    const FileResult read = loaded.load(file);
    ASSERT_TRUE(read.ok()) << read.message;
    EXPECT_EQ(exported(loaded), exported(saved));
    EXPECT_EQ(loaded.open_key("system\\currentcontrolset\\services\\QELSER")->class_name(),
              "Ports");
    EXPECT_EQ(loaded.keys_open_to_all(),
              std::vector<std::string>{"SYSTEM\\CurrentControlSet\\Services\\qelser"});
    const auto values =
        loaded
            .open_key("SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020D0003\\"
                      "Device Parameters")
            ->values();
    ASSERT_EQ(values.size(), params->values().size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].name, params->values()[i].name);
        EXPECT_EQ(values[i].type, params->values()[i].type);
        EXPECT_EQ(values[i].data, params->values()[i].data);
    }
}

TEST_F(RegistryFile, VolatileKeysAndEverythingBelowThemAreNotSaved) {
    Registry saved;
    ASSERT_EQ(
        saved.create_key("HARDWARE\\DEVICEMAP\\SERIALCOMM", {.is_volatile = true, .class_name = ""})
            .key->set_string("\\Device\\Serial0", "COM1"),
        Status::ok);
    const auto persistent = saved.create_key("HARDWARE\\DEVICEMAP\\SERIALCOMM\\Kept?");
    ASSERT_FALSE(persistent.key->is_volatile());
    ASSERT_EQ(saved.create_key("SYSTEM\\Select").key->set_dword("Current", 1), Status::ok);
    ASSERT_EQ(saved.create_key("SYSTEM\\Volatile", {.is_volatile = true, .class_name = ""}).status,
              Status::ok);
    ASSERT_TRUE(saved.save(file).ok());

    Registry loaded;
    ASSERT_TRUE(loaded.load(file).ok());
    EXPECT_EQ(loaded.open_key("HARDWARE"), nullptr);
    EXPECT_EQ(loaded.open_key("SYSTEM\\Volatile"), nullptr);
    EXPECT_NE(loaded.open_key("SYSTEM\\Select"), nullptr);
}

TEST_F(RegistryFile, LoadReplacesTheTreeAndHeldKeysBecomeDeleted) {
    Registry registry;
    ASSERT_EQ(registry.create_key("SOFTWARE\\Saved").status, Status::ok);
    ASSERT_TRUE(registry.save(file).ok());
    const auto later = registry.create_key("SOFTWARE\\Later").key;
    const auto saved = registry.open_key("SOFTWARE\\Saved");
    const auto root = registry.root();
    ASSERT_EQ(root->set_open_to_all(), Status::ok);

    ASSERT_TRUE(registry.load(file).ok());
    EXPECT_EQ(registry.open_key("SOFTWARE\\Later"), nullptr);
    EXPECT_TRUE(later->deleted());
    EXPECT_TRUE(saved->deleted());
    EXPECT_NE(registry.open_key("SOFTWARE\\Saved"), saved);
    EXPECT_FALSE(root->deleted());
    EXPECT_FALSE(root->open_to_all());
}

struct CorruptCase {
    const char* what;
    std::string text;
    friend void PrintTo(const CorruptCase& c, std::ostream* out) { *out << c.what; }
};

class CorruptFile : public RegistryFile, public testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptFile, GivesAnErrorAndLeavesTheRegistryAsItWas) {
    write(GetParam().text);
    Registry registry;
    ASSERT_EQ(registry.create_key("SOFTWARE\\Before").key->set_dword("v", 1), Status::ok);
    const std::string before = exported(registry);

    const FileResult result = registry.load(file);
    EXPECT_EQ(result.status, Status::corrupt);
    EXPECT_NE(result.message.find(file.string()), std::string::npos) << result.message;
    EXPECT_GT(result.message.size(), file.string().size() + 2);
    EXPECT_EQ(exported(registry), before);
}

std::string document(const std::string& root) {
    return R"({"format": "winsim registry", "version": 1, "root": )" + root + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CorruptFile,
    testing::Values(
        CorruptCase{"NotJson", "{\"format\": "}, CorruptCase{"Empty", ""},
        CorruptCase{"OtherFormat", R"({"format": "other", "version": 1, "root": {}})"},
        CorruptCase{"OtherVersion", R"({"format": "winsim registry", "version": 2, "root": {}})"},
        CorruptCase{"NoRoot", R"({"format": "winsim registry", "version": 1})"},
        CorruptCase{"RootNotObject", document("[]")},
        CorruptCase{"SubkeysNotList", document(R"({"subkeys": {}})")},
        CorruptCase{"NamelessSubkey", document(R"({"subkeys": [{}]})")},
        CorruptCase{"EmptyName", document(R"({"subkeys": [{"name": ""}]})")},
        CorruptCase{"BackslashInName", document(R"({"subkeys": [{"name": "a\\b"}]})")},
        CorruptCase{"NameBeyondLatin1", document(R"({"subkeys": [{"name": "\u20ac"}]})")},
        CorruptCase{"DuplicateKey", document(R"({"subkeys": [{"name": "A"}, {"name": "a"}]})")},
        CorruptCase{"BadDacl", document(R"({"dacl": "some"})")},
        CorruptCase{"ClassNotText", document(R"({"subkeys": [{"name": "A", "class": 5}]})")},
        CorruptCase{"NegativeType",
                    document(R"({"values": [{"name": "v", "type": -1, "data": ""}]})")},
        CorruptCase{"HugeType",
                    document(R"({"values": [{"name": "v", "type": 4294967296, "data": ""}]})")},
        CorruptCase{"DataNotHex",
                    document(R"({"values": [{"name": "v", "type": 3, "data": "0z"}]})")},
        CorruptCase{"NoData", document(R"({"values": [{"name": "v", "type": 3}]})")},
        CorruptCase{"DuplicateValue", document(R"({"values": [{"name": "v", "type": 3, "data": ""},
                                            {"name": "V", "type": 3, "data": ""}]})")}),
    [](const testing::TestParamInfo<CorruptCase>& info) { return info.param.what; });

TEST_F(RegistryFile, TooDeepNestingIsCorrupt) {
    std::string root = "{}";
    for (std::size_t i = 0; i <= max_key_depth; ++i) {
        root = R"({"name": "k", "subkeys": [)" + root + "]}";
    }
    write(document(R"({"subkeys": [)" + root + "]}"));
    Registry registry;
    EXPECT_EQ(registry.load(file).status, Status::corrupt);
}

TEST_F(RegistryFile, MissingOrUnwritableFilesAreReported) {
    Registry registry;
    const FileResult missing = registry.load(dir / "absent.json");
    EXPECT_EQ(missing.status, Status::not_found);
    EXPECT_FALSE(missing.message.empty());

    const FileResult directory = registry.load(dir);
    EXPECT_EQ(directory.status, Status::io_error);

    const FileResult unwritable = registry.save(dir / "no such folder" / registry_file_name);
    EXPECT_EQ(unwritable.status, Status::io_error);
    EXPECT_FALSE(unwritable.message.empty());
}

} // namespace
} // namespace winsim::reg
