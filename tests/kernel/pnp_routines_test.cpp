// The Plug and Play routines: device interfaces, device properties, device registry keys and
// the handles to them, and invalidation, against a stand-in PnP manager.
#include "fake_bridge.h"
#include "kernel/irp_helpers.h"
#include "kernel/wide.h"
#include "registry/registry.h"
#include "scripted_driver.h"

namespace {

using namespace kt;
using winsim::kernel::Check;
using winsim::kernel::narrow;

const GUID cardInterface = {
    0x1B829016, 0x693A, 0x4069, {0x98, 0x13, 0x65, 0xEE, 0xB2, 0x55, 0xC8, 0xB8}};
const std::string guidText = "{1B829016-693A-4069-9813-65EEB255C8B8}";
const std::string hashedInstance = "PCI#VEN_1234&DEV_5678&SUBSYS_00041234&REV_01#3&1&68";

class PnpRoutinesTest : public KernelTest {
  protected:
    void SetUp() override {
        pdo = newDevice(load(script()));
        bridge.pdos.insert(pdo);
        kernel.setPnpBridge(&bridge);
    }
    void TearDown() override {
        KernelTest::TearDown();
        kernel.setPnpBridge(nullptr);
    }
    UNICODE_STRING registerCard(const char* reference = nullptr) {
        UNICODE_STRING name{};
        std::vector<WCHAR> refText = winsim::kernel::widen(reference ? reference : "");
        UNICODE_STRING ref;
        winsim::kernel::viewAsUnicode(refText, ref);
        EXPECT_EQ(IoRegisterDeviceInterface(pdo, &cardInterface, reference ? &ref : nullptr, &name),
                  STATUS_SUCCESS);
        return name;
    }

    FakeBridge bridge;
    PDEVICE_OBJECT pdo = nullptr;
};

TEST_F(PnpRoutinesTest, RegisteredInterfaceNameAndRegistryKey) {
    UNICODE_STRING name = registerCard();
    const std::string link = "\\??\\" + hashedInstance + "#" + guidText;
    EXPECT_EQ(narrow(name), link);
    EXPECT_EQ(name.MaximumLength, name.Length + sizeof(WCHAR));
    EXPECT_EQ(name.Buffer[name.Length / sizeof(WCHAR)], 0);
    EXPECT_EQ(kernel.pool().outstanding(winsim::kernel::tagSystem), 1u) << "a pool buffer";

    const auto key =
        kernel.registry().open_key("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" +
                                   guidText + "\\##?#" + hashedInstance + "#" + guidText);
    ASSERT_TRUE(key);
    std::string instance;
    EXPECT_EQ(key->get_string("DeviceInstance", instance), winsim::reg::Status::ok);
    EXPECT_EQ(instance, bridge.instance);
    ExFreePool(name.Buffer);

    UNICODE_STRING withReference = registerCard("port");
    EXPECT_EQ(narrow(withReference), link + "\\port");
    ASSERT_EQ(kernel.interfaces().of(pdo).size(), 2u);
    ExFreePool(withReference.Buffer);
}

TEST_F(PnpRoutinesTest, InterfaceStateRules) {
    UNICODE_STRING name = registerCard();
    const std::string link = narrow(name);
    struct Step {
        BOOLEAN enable;
        NTSTATUS expected;
        bool enabledAfter;
    };
    const Step steps[] = {
        {FALSE, STATUS_OBJECT_NAME_NOT_FOUND, false}, {TRUE, STATUS_SUCCESS, true},
        {TRUE, STATUS_OBJECT_NAME_EXISTS, true},      {FALSE, STATUS_SUCCESS, false},
        {FALSE, STATUS_OBJECT_NAME_NOT_FOUND, false}, {TRUE, STATUS_SUCCESS, true}};
    for (const Step& step : steps) {
        EXPECT_EQ(IoSetDeviceInterfaceState(&name, step.enable), step.expected);
        EXPECT_EQ(kernel.interfaces().isEnabled(link), step.enabledAfter);
    }
    EXPECT_EQ(bridge.interfaceChanges.size(), 3u) << "the PnP manager hears of real changes only";
    std::uint32_t linked = 0;
    const auto control = kernel.registry().open_key(
        "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + guidText + "\\##?#" +
        hashedInstance + "#" + guidText + "\\#\\Control");
    ASSERT_TRUE(control);
    EXPECT_EQ(control->get_dword("Linked", linked), winsim::reg::Status::ok);
    EXPECT_EQ(linked, 1u);

    std::vector<WCHAR> unknownText = winsim::kernel::widen("\\??\\nothing#" + guidText);
    UNICODE_STRING unknown;
    winsim::kernel::viewAsUnicode(unknownText, unknown);
    EXPECT_EQ(IoSetDeviceInterfaceState(&unknown, TRUE), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(IoSetDeviceInterfaceState(&name, FALSE), STATUS_SUCCESS);
    ExFreePool(name.Buffer);
}

TEST_F(PnpRoutinesTest, DevicesThePnpManagerDoesNotKnowAreRefused) {
    PDEVICE_OBJECT fdo = newDevice(load(script()));
    UNICODE_STRING name{};
    ULONG length = 0;
    HANDLE key = nullptr;
    EXPECT_EQ(IoRegisterDeviceInterface(fdo, &cardInterface, nullptr, &name),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(IoGetDeviceProperty(fdo, DevicePropertyLocationInformation, 0, nullptr, &length),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(IoOpenDeviceRegistryKey(fdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key),
              STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(PnpRoutinesTest, DevicePropertyReportsItsLength) {
    bridge.properties[DevicePropertyLocationInformation] =
        wideBytes("PCI bus 2, device 13, function 0");
    const ULONG needed =
        static_cast<ULONG>(bridge.properties[DevicePropertyLocationInformation].size());
    ULONG length = 0;
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyLocationInformation, 0, nullptr, &length),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, needed);
    std::vector<WCHAR> buffer(needed / sizeof(WCHAR));
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyLocationInformation, needed - 2, buffer.data(),
                                  &length),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(
        IoGetDeviceProperty(pdo, DevicePropertyLocationInformation, needed, buffer.data(), &length),
        STATUS_SUCCESS);
    EXPECT_EQ(narrow(buffer.data(), winsim::kernel::wideLength(buffer.data())),
              "PCI bus 2, device 13, function 0");
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyUINumber, 4, buffer.data(), &length),
              STATUS_INVALID_PARAMETER)
        << "the PnP manager's answer passes through";
}

TEST_F(PnpRoutinesTest, DeviceKeyIsCreatedAndWrittenThroughAHandle) {
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, STANDARD_RIGHTS_WRITE, &key),
              STATUS_SUCCESS);
    std::vector<WCHAR> nameText = winsim::kernel::widen("PORTS");
    UNICODE_STRING name;
    winsim::kernel::viewAsUnicode(nameText, name);
    ULONG ports = 4;
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &ports, sizeof ports), STATUS_SUCCESS)
        << "kernel callers are not held to the handle's access";
    EXPECT_EQ(kernel.handles().count(), 1u);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(kernel.handles().count(), 0u);

    const auto stored = kernel.registry().open_key("SYSTEM\\CurrentControlSet\\Enum\\" +
                                                   bridge.instance + "\\Device Parameters");
    ASSERT_TRUE(stored);
    std::uint32_t value = 0;
    EXPECT_EQ(stored->get_dword("Ports", value), winsim::reg::Status::ok);
    EXPECT_EQ(value, 4u);
}

TEST_F(PnpRoutinesTest, DriverKeyMustExist) {
    HANDLE key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
    bridge.driverKey =
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0001";
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
    kernel.registry().create_key(bridge.driverKey);
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
}

TEST_F(PnpRoutinesTest, BadAndLeakedHandlesAreRecorded) {
    expectViolations = true;
    EXPECT_EQ(ZwClose(reinterpret_cast<HANDLE>(0x1234)), STATUS_INVALID_HANDLE);
    EXPECT_EQ(violations(Check::InvalidHandle), 1u);

    // A driver that opens its device's key while handling a request and never closes it.
    DriverScript& leaky = script();
    leaky.dispatch[IRP_MJ_PNP] = [this](PDEVICE_OBJECT, PIRP irp) {
        HANDLE key = nullptr;
        IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key);
        return completeWith(irp, STATUS_SUCCESS);
    };
    PDRIVER_OBJECT driver = load(leaky);
    PDEVICE_OBJECT device = newDevice(driver);
    winsim::kernel::sendPnpSync(device, IRP_MN_START_DEVICE);
    IoDeleteDevice(device);
    kernel.unloadDriver(driver);
    EXPECT_EQ(violations(Check::HandleLeak), 1u) << kernel.verifier().summary();
}

TEST_F(PnpRoutinesTest, InvalidationAndDeletionReachThePnpManager) {
    IoInvalidateDeviceRelations(pdo, BusRelations);
    IoInvalidateDeviceState(pdo);
    ASSERT_EQ(bridge.invalidated.size(), 1u);
    EXPECT_EQ(bridge.invalidated[0].first, pdo);
    EXPECT_EQ(bridge.invalidated[0].second, BusRelations);
    EXPECT_EQ(bridge.stateInvalidated, std::vector<PDEVICE_OBJECT>{pdo});
    IoDeleteDevice(pdo);
    EXPECT_EQ(bridge.deleted, std::vector<PDEVICE_OBJECT>{pdo});
}

} // namespace
