// SetupAPI over a small device tree, and re-enumeration through the configuration manager.
#include <setupapi.h>

#include "user/devices.h"
#include "user_fixture.h"

#include <cstring>

namespace winsim::user::test {
namespace {

class SetupApiTest : public UserTest {
  protected:
    SetupApiTest() {
        write_card(registry);
        DeviceNode root{"HTREE\\ROOT\\0", std::nullopt, true, "", "", "", {}, {}};
        DeviceNode card{card_instance, "HTREE\\ROOT\\0",           true, "PCI serial card", "",
                        "qelmf",       {"PCI\\VEN_FFFE&DEV_0004"}, {}};
        DeviceNode port{"QEL_CARD\\SERIAL\\020B0000",
                        std::string(card_instance),
                        true,
                        "PCI serial port",
                        "Port 1",
                        "qelser",
                        {"QEL_CARD\\SERIAL"},
                        {}};
        DeviceNode gone{
            "QEL_CARD\\SERIAL\\020B0007", std::string(card_instance), false, "", "", "", {}, {}};
        tree.nodes = {root, card, port, gone};
        registry.create_key("SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020B0000")
            .key->set_string("ClassGUID", ports_class_guid);
        // Installed once, not in the tree now.
        registry.create_key("SYSTEM\\CurrentControlSet\\Enum\\QEL_CARD\\SERIAL\\020B0003")
            .key->set_string("ClassGUID", ports_class_guid);
    }
    ~SetupApiTest() override { EXPECT_EQ(session.open_device_info_sets(), 0u); }

    static std::vector<std::string> instances(HDEVINFO set) {
        std::vector<std::string> out;
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            char id[MAX_DEVICE_ID_LEN];
            EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr));
            out.push_back(id);
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        return out;
    }

    SP_DEVINFO_DATA card_data(HDEVINFO set) {
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
        return data;
    }
};

TEST_F(SetupApiTest, ClassDevsFollowPresenceEnumeratorAndClass) {
    HDEVINFO present =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(present, INVALID_HANDLE_VALUE);
    EXPECT_EQ(instances(present), (std::vector<std::string>{"HTREE\\ROOT\\0", card_instance,
                                                            "QEL_CARD\\SERIAL\\020B0000"}));
    SetupDiDestroyDeviceInfoList(present);

    HDEVINFO all_ports = SetupDiGetClassDevsA(nullptr, "qel_card", nullptr, DIGCF_ALLCLASSES);
    EXPECT_EQ(instances(all_ports), (std::vector<std::string>{"QEL_CARD\\SERIAL\\020B0000",
                                                              "QEL_CARD\\SERIAL\\020B0003"}));
    SetupDiDestroyDeviceInfoList(all_ports);

    const GUID ports = *parse_guid(ports_class_guid);
    HDEVINFO present_ports = SetupDiGetClassDevsA(&ports, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_EQ(instances(present_ports), std::vector<std::string>{"QEL_CARD\\SERIAL\\020B0000"});
    SetupDiDestroyDeviceInfoList(present_ports);

    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(present));
}

TEST_F(SetupApiTest, RegistryPropertiesComeFromTheInstanceKeyWithRequiredSizes) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA card = card_data(set);

    const std::string location = "PCI bus 2, device 11, function 0";
    DWORD type = 0;
    DWORD needed = 0;
    char small[8];
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &card, SPDRP_LOCATION_INFORMATION, &type,
                                                   reinterpret_cast<PBYTE>(small), sizeof small,
                                                   &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, location.size() + 1);
    char text[256];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &card, SPDRP_LOCATION_INFORMATION, &type,
                                                  reinterpret_cast<PBYTE>(text), sizeof text,
                                                  &needed));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text, location);

    BYTE ids[256];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &card, SPDRP_HARDWAREID, &type, ids,
                                                  sizeof ids, &needed));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ids), needed),
              std::string("PCI\\VEN_FFFE&DEV_0004\0PCI\\VEN_FFFE\0\0", 36));

    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &card, SPDRP_FRIENDLYNAME, &type,
                                                   reinterpret_cast<PBYTE>(text), sizeof text,
                                                   &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, WhatTheInstanceKeyLacksComesFromTheBusDriversReport) {
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, "QEL_CARD", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA port = card_data(set);
    char text[64];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &port, SPDRP_DEVICEDESC, nullptr,
                                                  reinterpret_cast<PBYTE>(text), sizeof text,
                                                  nullptr));
    EXPECT_STREQ(text, "PCI serial port");
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, DeviceAndDriverKeysOpenOnlyWhenTheyExist) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA card = card_data(set);

    HKEY dev = SetupDiOpenDevRegKey(set, &card, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    ASSERT_NE(dev, INVALID_HANDLE_VALUE);
    DWORD ports = 0;
    DWORD size = sizeof ports;
    EXPECT_EQ(
        RegQueryValueExA(dev, "Ports", nullptr, nullptr, reinterpret_cast<BYTE*>(&ports), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(ports, 4u);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(dev, "X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED); // opened for reading
    RegCloseKey(dev);

    HKEY drv = SetupDiOpenDevRegKey(set, &card, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    ASSERT_NE(drv, INVALID_HANDLE_VALUE);
    RegCloseKey(drv);

    registry.delete_key(std::string("SYSTEM\\CurrentControlSet\\Enum\\") + card_instance +
                            "\\Device Parameters",
                        reg::DeleteMode::subtree);
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &card, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_TRUE(session.open_keys().empty());
}

TEST_F(SetupApiTest, ReenumerationReachesThePlugAndPlayManager) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA card = card_data(set);
    SetupDiDestroyDeviceInfoList(set);

    EXPECT_EQ(CM_Reenumerate_DevNode(card.DevInst, CM_REENUMERATE_NORMAL), CR_SUCCESS);
    EXPECT_EQ(tree.reenumerated, std::vector<std::string>{card_instance});

    tree.reenumerate_status = static_cast<std::int32_t>(0xC000000E); // no such device
    EXPECT_EQ(CM_Reenumerate_DevNode(card.DevInst, 0), CR_FAILURE);
    EXPECT_EQ(CM_Reenumerate_DevNode(card.DevInst, 0x100), CR_INVALID_FLAG);
    EXPECT_EQ(CM_Reenumerate_DevNode(card.DevInst + 1000, 0), CR_INVALID_DEVNODE);
    EXPECT_EQ(tree.reenumerated.size(), 2u);
}

} // namespace
} // namespace winsim::user::test
