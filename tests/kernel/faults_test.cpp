// Failure injection: rules by call name and occurrence, the pool-tag filter, the counters, and
// every fallible routine failing when told to.
#include "fake_bridge.h"
#include "kernel/wide.h"
#include "scripted_driver.h"

#include <functional>

namespace {

using namespace kt;
using winsim::kernel::makeTag;
namespace call = winsim::kernel::fault_call;

constexpr ULONG tagA = makeTag("Ddk ");
constexpr ULONG tagB = makeTag("MLEQ");

class FaultsTest : public KernelTest {
  protected:
    // Allocates and frees one block; true when the allocation succeeded.
    static bool allocates(ULONG tag = tagA) {
        void* p = ExAllocatePoolWithTag(PagedPool, 8, tag);
        if (p != nullptr) {
            ExFreePool(p);
        }
        return p != nullptr;
    }
};

TEST_F(FaultsTest, OccurrencesCountFromWhenTheRuleWasSet) {
    allocates();
    allocates();
    kernel.faults().failNth(call::ExAllocatePoolWithTag, 2);
    EXPECT_TRUE(allocates());
    EXPECT_FALSE(allocates());
    EXPECT_TRUE(allocates());
    EXPECT_EQ(kernel.faults().injected(call::ExAllocatePoolWithTag), 1u);
    EXPECT_EQ(kernel.faults().calls(call::ExAllocatePoolWithTag), 5u);
}

TEST_F(FaultsTest, SetsOfOccurrencesAlwaysAndRemoval) {
    auto& faults = kernel.faults();
    const auto id = faults.failOccurrences(call::ExAllocatePoolWithTag, {1, 3});
    EXPECT_FALSE(allocates());
    EXPECT_TRUE(allocates());
    EXPECT_FALSE(allocates());
    faults.remove(id);
    EXPECT_TRUE(allocates());
    faults.failAlways(call::ExAllocatePoolWithTag);
    EXPECT_FALSE(allocates());
    EXPECT_FALSE(allocates());
    faults.clear();
    EXPECT_TRUE(allocates());
}

TEST_F(FaultsTest, PoolRuleCanBeLimitedToOneTag) {
    kernel.faults().failPoolTag(tagB, 2);
    EXPECT_TRUE(allocates(tagA));
    EXPECT_TRUE(allocates(tagB));
    EXPECT_TRUE(allocates(tagA));
    EXPECT_FALSE(allocates(tagB)) << "the second allocation with that tag";
    EXPECT_TRUE(allocates(tagA));
    EXPECT_EQ(kernel.faults().poolTagCalls(tagB), 2u);
}

TEST_F(FaultsTest, CountersAreKeptPerCallAndCanBeReset) {
    PDRIVER_OBJECT driver = load(script());
    newDevice(driver);
    newDevice(driver);
    allocates();
    auto& faults = kernel.faults();
    EXPECT_EQ(faults.calls(call::IoCreateDevice), 2u);
    EXPECT_EQ(faults.counters().at(std::string(call::ExAllocatePoolWithTag)), 1u);
    faults.resetCounters();
    EXPECT_EQ(faults.calls(call::IoCreateDevice), 0u);
}

// Every fallible routine, with what it gives back when it fails.
struct Fallible {
    std::string_view call;
    NTSTATUS status; // 0: the routine returns NULL instead of a status
};

class FallibleCallTest : public FaultsTest, public ::testing::WithParamInterface<Fallible> {
  protected:
    void SetUp() override {
        driver = load(script());
        pdo = newDevice(driver);
        bridge.pdos.insert(pdo);
        kernel.setPnpBridge(&bridge);
        IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key);
        UNICODE_STRING name{};
        IoRegisterDeviceInterface(pdo, &interfaceGuid, nullptr, &name);
        link = name;
    }
    void TearDown() override {
        ZwClose(key);
        ExFreePool(link.Buffer);
        FaultsTest::TearDown();
        kernel.setPnpBridge(nullptr);
    }
    // Calls the routine once; returns its status (or STATUS_SUCCESS / 0 for NULL-returning ones).
    NTSTATUS invoke(std::string_view name) {
        if (name == call::IoCreateDevice) {
            PDEVICE_OBJECT d = nullptr;
            const NTSTATUS s =
                IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &d);
            EXPECT_EQ(d, nullptr);
            return s;
        }
        if (name == call::IoAttachDeviceToDeviceStack) {
            PDEVICE_OBJECT upper = newDevice(driver);
            return IoAttachDeviceToDeviceStack(upper, pdo) != nullptr ? STATUS_SUCCESS : 0;
        }
        if (name == call::IoRegisterDeviceInterface) {
            UNICODE_STRING n{};
            return IoRegisterDeviceInterface(pdo, &interfaceGuid, nullptr, &n);
        }
        if (name == call::IoSetDeviceInterfaceState) {
            return IoSetDeviceInterfaceState(&link, TRUE);
        }
        if (name == call::IoGetDeviceProperty) {
            ULONG length = 0;
            return IoGetDeviceProperty(pdo, DevicePropertyLocationInformation, 0, nullptr, &length);
        }
        if (name == call::IoOpenDeviceRegistryKey) {
            HANDLE h = nullptr;
            return IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &h);
        }
        if (name == call::ZwSetValueKey) {
            std::vector<WCHAR> text = winsim::kernel::widen("PORTS");
            UNICODE_STRING valueName;
            winsim::kernel::viewAsUnicode(text, valueName);
            ULONG value = 1;
            return ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof value);
        }
        if (name == call::IoAllocateIrp) {
            return IoAllocateIrp(1, FALSE) != nullptr ? STATUS_SUCCESS : 0;
        }
        if (name == call::IoBuildSynchronousFsdRequest) {
            KEVENT event;
            KeInitializeEvent(&event, NotificationEvent, FALSE);
            IO_STATUS_BLOCK iosb;
            return IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, nullptr, 0, nullptr, &event,
                                                &iosb) != nullptr
                       ? STATUS_SUCCESS
                       : 0;
        }
        if (name == call::PoRequestPowerIrp) {
            POWER_STATE state;
            state.DeviceState = PowerDeviceD0;
            return PoRequestPowerIrp(pdo, IRP_MN_SET_POWER, state, nullptr, nullptr, nullptr);
        }
        if (name == call::ExAllocatePoolWithTag) {
            return ExAllocatePoolWithTag(PagedPool, 4, tagA) != nullptr ? STATUS_SUCCESS : 0;
        }
        if (name == call::RtlAnsiStringToUnicodeString) {
            ANSI_STRING ansi;
            RtlInitAnsiString(&ansi, "020D0003");
            UNICODE_STRING wide{};
            return RtlAnsiStringToUnicodeString(&wide, &ansi, TRUE);
        }
        ADD_FAILURE() << "no way to call " << name;
        return STATUS_SUCCESS;
    }

    static constexpr GUID interfaceGuid = {
        0x1B829016, 0x693A, 0x4069, {0x98, 0x13, 0x65, 0xEE, 0xB2, 0x55, 0xC8, 0xB8}};
    FakeBridge bridge;
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    HANDLE key = nullptr;
    UNICODE_STRING link{};
};

TEST_P(FallibleCallTest, FailsWithTheRuleStatusOrNull) {
    const Fallible f = GetParam();
    const NTSTATUS chosen = STATUS_DEVICE_NOT_READY;
    kernel.faults().failNth(f.call, 1, chosen);
    const std::uint64_t before = kernel.faults().calls(f.call);
    EXPECT_EQ(invoke(f.call), f.status == 0 ? 0 : (f.status == 1 ? chosen : f.status));
    EXPECT_EQ(kernel.faults().calls(f.call), before + 1);
    EXPECT_EQ(kernel.faults().injected(f.call), 1u);
}

// status 1: the rule's own status comes back; 0: NULL comes back; otherwise that status.
INSTANTIATE_TEST_SUITE_P(
    Calls, FallibleCallTest,
    ::testing::Values(
        Fallible{call::IoCreateDevice, 1}, Fallible{call::IoAttachDeviceToDeviceStack, 0},
        Fallible{call::IoRegisterDeviceInterface, 1}, Fallible{call::IoSetDeviceInterfaceState, 1},
        Fallible{call::IoGetDeviceProperty, 1}, Fallible{call::IoOpenDeviceRegistryKey, 1},
        Fallible{call::ZwSetValueKey, 1}, Fallible{call::IoAllocateIrp, 0},
        Fallible{call::IoBuildSynchronousFsdRequest, 0}, Fallible{call::PoRequestPowerIrp, 1},
        Fallible{call::ExAllocatePoolWithTag, 0},
        Fallible{call::RtlAnsiStringToUnicodeString, STATUS_NO_MEMORY}),
    [](const auto& info) { return std::string(info.param.call); });

TEST_F(FaultsTest, RuleWithoutStatusGivesInsufficientResources) {
    PDRIVER_OBJECT driver = load(script());
    kernel.faults().failNth(call::IoCreateDevice, 1);
    PDEVICE_OBJECT d = nullptr;
    EXPECT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &d),
              STATUS_INSUFFICIENT_RESOURCES);
}

} // namespace
