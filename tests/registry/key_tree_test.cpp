#include "registry/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace winsim::reg {
namespace {

constexpr const char* device_params =
    "SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020D0003\\Device Parameters";

TEST(KeyTree, NamesMatchWithoutRegardToCaseAndKeepTheirCase) {
    Registry registry;
    const CreateResult made = registry.create_key(device_params);
    ASSERT_EQ(made.status, Status::ok);
    EXPECT_TRUE(made.created);

    const auto opened =
        registry.open_key("system\\currentcontrolset\\ENUM\\qel_card\\serial\\020d0003\\"
                          "DEVICE PARAMETERS");
    EXPECT_EQ(opened, made.key);

    // Creating again under other case opens the same key and keeps the first spelling.
    const CreateResult again = registry.create_key("SYSTEM\\currentcontrolset");
    ASSERT_EQ(again.status, Status::ok);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.key->name(), "CurrentControlSet");
    EXPECT_EQ(made.key->path(), device_params);
}

TEST(KeyTree, CreateMakesIntermediateKeysWithTheFlagAndGivesTheClassToTheLastOnly) {
    Registry registry;
    const CreateResult made = registry.create_key("HARDWARE\\DEVICEMAP\\SERIALCOMM",
                                                  {.is_volatile = true, .class_name = "Ports"});
    ASSERT_EQ(made.status, Status::ok);
    EXPECT_EQ(made.key->class_name(), "Ports");

    const auto middle = registry.open_key("HARDWARE\\DEVICEMAP");
    ASSERT_NE(middle, nullptr);
    EXPECT_TRUE(middle->is_volatile());
    EXPECT_EQ(middle->class_name(), "");

    // An existing key keeps its flags and class when created again.
    const CreateResult reopened = registry.create_key("hardware\\devicemap\\serialcomm");
    EXPECT_FALSE(reopened.created);
    EXPECT_TRUE(reopened.key->is_volatile());
    EXPECT_EQ(reopened.key->class_name(), "Ports");

    // Relative to a held key.
    const CreateResult below = registry.create_key(middle, "VIDEO");
    ASSERT_EQ(below.status, Status::ok);
    EXPECT_EQ(below.key->path(), "HARDWARE\\DEVICEMAP\\VIDEO");
}

class BadPath : public testing::TestWithParam<std::string> {};

TEST_P(BadPath, IsRejectedByEveryOperation) {
    Registry registry;
    ASSERT_EQ(registry.create_key("A\\B").status, Status::ok);
    std::shared_ptr<Key> key;
    EXPECT_EQ(registry.open_key(nullptr, GetParam(), key), Status::invalid_parameter);
    EXPECT_EQ(registry.open_key(GetParam()), nullptr);
    EXPECT_EQ(registry.create_key(GetParam()).status, Status::invalid_parameter);
    EXPECT_EQ(registry.delete_key(GetParam(), DeleteMode::subtree), Status::invalid_parameter);
    std::string text;
    EXPECT_EQ(registry.export_regedit4(GetParam(), text), Status::invalid_parameter);
    EXPECT_NE(registry.open_key("A\\B"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EmptyOrLongComponents, BadPath,
                         testing::Values("\\A", "A\\", "A\\\\B", "\\", std::string(256, 'x'),
                                         "A\\" + std::string(256, 'x')));

TEST(KeyTree, DepthIsLimited) {
    Registry registry;
    std::string path = "K";
    for (std::size_t i = 1; i < max_key_depth; ++i) {
        path += "\\K";
    }
    const CreateResult deepest = registry.create_key(path);
    ASSERT_EQ(deepest.status, Status::ok);
    EXPECT_EQ(registry.create_key(deepest.key, "One").status, Status::invalid_parameter);
}

TEST(KeyTree, SubkeysEnumerateSortedWithoutRegardToCase) {
    Registry registry;
    for (const char* name : {"b", "QEL_CARD", "a", "QELB", "C", "Qel"}) {
        ASSERT_EQ(registry.create_key(std::string("Enum\\") + name).status, Status::ok);
    }
    const auto parent = registry.open_key("Enum");
    // '_' sorts after letters: names compare as upper case.
    const std::vector<std::string> expected = {"a", "b", "C", "Qel", "QELB", "QEL_CARD"};
    EXPECT_EQ(parent->subkey_names(), expected);

    std::vector<std::string> enumerated;
    std::string name;
    for (std::size_t i = 0; parent->enum_subkey(i, name) == Status::ok; ++i) {
        enumerated.push_back(name);
    }
    EXPECT_EQ(enumerated, expected);
    EXPECT_EQ(parent->enum_subkey(expected.size(), name), Status::no_more_items);
}

TEST(KeyTree, NtDeleteRefusesKeysWithSubkeysAndSubtreeDeleteTakesAll) {
    Registry registry;
    ASSERT_EQ(registry.create_key("Enum\\QEL_CARD\\SERIAL\\00000000").status, Status::ok);
    ASSERT_EQ(registry.create_key("Enum\\QEL_CARD\\SERIAL\\00000001").status, Status::ok);

    EXPECT_EQ(registry.delete_key("Enum\\QEL_CARD", DeleteMode::leaf_only), Status::has_subkeys);
    EXPECT_NE(registry.open_key("Enum\\QEL_CARD\\SERIAL\\00000001"), nullptr);
    EXPECT_EQ(registry.delete_key("enum\\qel_card\\serial\\00000001", DeleteMode::leaf_only),
              Status::ok);
    EXPECT_EQ(registry.open_key("Enum\\QEL_CARD\\SERIAL\\00000001"), nullptr);

    EXPECT_EQ(registry.delete_key("Enum\\QEL_CARD", DeleteMode::subtree), Status::ok);
    EXPECT_EQ(registry.open_key("Enum\\QEL_CARD"), nullptr);
    EXPECT_NE(registry.open_key("Enum"), nullptr);

    EXPECT_EQ(registry.delete_key("Enum\\QEL_CARD", DeleteMode::subtree), Status::not_found);
    EXPECT_EQ(registry.delete_key("", DeleteMode::subtree), Status::access_denied);
}

TEST(KeyTree, HeldKeysOfADeletedSubtreeFailWithKeyDeleted) {
    Registry registry;
    const auto card = registry.create_key("Enum\\QEL_CARD").key;
    const auto port = registry.create_key("Enum\\QEL_CARD\\SERIAL\\00000000").key;
    ASSERT_EQ(port->set_dword("PORTS", 4), Status::ok);

    ASSERT_EQ(registry.delete_key(card, "", DeleteMode::subtree), Status::ok);
    for (const auto& key : {card, port}) {
        EXPECT_TRUE(key->deleted());
        std::uint32_t number = 0;
        Value value;
        std::string name;
        KeyInfo info;
        std::vector<std::uint8_t> blob;
        EXPECT_EQ(key->set_dword("PORTS", 1), Status::key_deleted);
        EXPECT_EQ(key->get_dword("PORTS", number), Status::key_deleted);
        EXPECT_EQ(key->delete_value("PORTS"), Status::key_deleted);
        EXPECT_EQ(key->enum_value(0, value), Status::key_deleted);
        EXPECT_EQ(key->enum_subkey(0, name), Status::key_deleted);
        EXPECT_EQ(key->query_info(info), Status::key_deleted);
        EXPECT_EQ(key->get_security(blob), Status::key_deleted);
        EXPECT_EQ(key->set_open_to_all(), Status::key_deleted);
        EXPECT_EQ(registry.create_key(key, "Child").status, Status::key_deleted);
        std::shared_ptr<Key> child;
        EXPECT_EQ(registry.open_key(key, "", child), Status::key_deleted);
        EXPECT_EQ(registry.delete_key(key, "", DeleteMode::subtree), Status::key_deleted);
    }
    // The path it had stays readable, and a new key of that name is another key.
    EXPECT_EQ(port->path(), "Enum\\QEL_CARD\\SERIAL\\00000000");
    const CreateResult again = registry.create_key("Enum\\QEL_CARD\\SERIAL\\00000000");
    EXPECT_TRUE(again.created);
    EXPECT_NE(again.key, port);
}

TEST(KeyTree, KeysOutliveTheirRegistryAsDeletedKeys) {
    std::shared_ptr<Key> key;
    {
        Registry registry;
        key = registry.create_key("SOFTWARE").key;
    }
    EXPECT_TRUE(key->deleted());
    EXPECT_EQ(key->set_dword("x", 1), Status::key_deleted);
}

TEST(KeyTree, KeysOfAnotherRegistryAreRefused) {
    Registry one;
    Registry other;
    const auto key = one.create_key("SOFTWARE").key;
    EXPECT_EQ(other.create_key(key, "X").status, Status::invalid_parameter);
    EXPECT_EQ(other.delete_key(key, "", DeleteMode::subtree), Status::invalid_parameter);
    EXPECT_FALSE(key->deleted());
}

TEST(KeySecurity, DaclCanBeSavedOpenedToAllAndPutBack) {
    Registry registry;
    const auto key = registry.create_key("Enum\\PCI\\card").key;
    ASSERT_NE(key, nullptr);
    std::vector<std::uint8_t> saved;
    ASSERT_EQ(key->get_security(saved), Status::ok);
    EXPECT_TRUE(registry.keys_open_to_all().empty());

    ASSERT_EQ(key->set_open_to_all(), Status::ok);
    EXPECT_TRUE(key->open_to_all());
    EXPECT_EQ(registry.keys_open_to_all(), std::vector<std::string>{"Enum\\PCI\\card"});
    std::vector<std::uint8_t> open;
    ASSERT_EQ(key->get_security(open), Status::ok);
    EXPECT_NE(open, saved);

    ASSERT_EQ(key->set_security(saved), Status::ok);
    EXPECT_FALSE(key->open_to_all());
    EXPECT_TRUE(registry.keys_open_to_all().empty());

    // Blobs that are not a descriptor of ours leave the key as it is.
    ASSERT_EQ(key->set_security(open), Status::ok);
    std::vector<std::vector<std::uint8_t>> bad = {{}, saved, saved, saved, saved};
    bad[1].pop_back(); // too short
    bad[2][0] = 'X';   // magic
    bad[3][3] = 2;     // version
    bad[4][4] = 7;     // DACL kind
    for (const auto& blob : bad) {
        EXPECT_EQ(key->set_security(blob), Status::invalid_parameter);
        EXPECT_TRUE(key->open_to_all());
    }
}

TEST(KeyTree, ConcurrentWritersKeepTheTreeConsistent) {
    Registry registry;
    constexpr int threads = 4;
    constexpr int rounds = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&registry, t] {
            const std::string mine = "Enum\\T" + std::to_string(t);
            for (int i = 0; i < rounds; ++i) {
                const auto key = registry.create_key(mine + "\\K" + std::to_string(i % 10)).key;
                key->set_dword("n", static_cast<std::uint32_t>(i));
                registry.create_key("Enum\\Shared")
                    .key->set_dword("T" + std::to_string(t), static_cast<std::uint32_t>(i));
                if (i % 10 == 9) {
                    registry.delete_key(mine, DeleteMode::subtree);
                }
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    const auto shared = registry.open_key("Enum\\Shared");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->values().size(), static_cast<std::size_t>(threads));
    EXPECT_EQ(registry.open_key("Enum")->subkey_names(), std::vector<std::string>{"Shared"});
}

} // namespace
} // namespace winsim::reg
