// Power requests to the card device and to the port devices.
#include "fixture.h"

#include <algorithm>
#include <iterator>
#include <thread>

namespace qeltest {
namespace {

namespace wk = winsim::kernel;

std::vector<wk::PowerCall> callsOf(const std::vector<wk::PowerCall>& log, wk::PowerCallKind kind,
                                   const DEVICE_OBJECT* device) {
    std::vector<wk::PowerCall> found;
    std::copy_if(log.begin(), log.end(), std::back_inserter(found), [&](const wk::PowerCall& call) {
        return call.kind == kind && call.device == device;
    });
    return found;
}

// ---- the card ----

struct CardPowerCase {
    const char* name;
    bool started;
    UCHAR minor;
    POWER_STATE_TYPE type;
    ULONG state;                             // system or device state, by type
    bool reported;                           // PoSetPowerState with the request's type and state
    std::optional<DEVICE_POWER_STATE> asked; // the device state the card asks for
};

class CardPowerTest : public CardTest, public ::testing::WithParamInterface<CardPowerCase> {};

TEST_P(CardPowerTest, ReportsAndPassesDown) {
    const auto& c = GetParam();
    Card& card = c.started ? startedCard() : addedCard();
    kernel.power().clearLog();
    POWER_STATE state{};
    state.SystemState = static_cast<SYSTEM_POWER_STATE>(c.state);

    Reply reply = sendPower(card.fdo(), c.minor, c.type, state);
    kernel.work().drain(); // the device request the card asked for, if any

    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, STATUS_SUCCESS);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_EQ(reply.startNextPower, 2u); // the card's and the PCI driver's
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    EXPECT_EQ(card.ext()->Header.SysPowerState, PowerSystemWorking);
    EXPECT_EQ(card.ext()->Header.DevPowerState, PowerDeviceD0);

    const auto log = kernel.power().log();
    const auto reports = callsOf(log, wk::PowerCallKind::SetPowerState, card.fdo());
    const auto requests = callsOf(log, wk::PowerCallKind::RequestPowerIrp, card.pdo);
    const auto pciCalls = card.pci.powerCalls();

    if (c.reported) {
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports[0].type, c.type);
        EXPECT_EQ(static_cast<ULONG>(reports[0].state.SystemState), c.state);
    }
    if (!c.asked) {
        EXPECT_TRUE(requests.empty());
        EXPECT_EQ(reports.size(), c.reported ? 1u : 0u);
        ASSERT_EQ(pciCalls.size(), 1u);
    } else {
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].minor, IRP_MN_SET_POWER);
        EXPECT_EQ(requests[0].state.DeviceState, *c.asked);
        // The device request came down through the card, which reported it too.
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[1].type, DevicePowerState);
        EXPECT_EQ(reports[1].state.DeviceState, *c.asked);
        EXPECT_GT(requests[0].sequence, reports[0].sequence);
        ASSERT_EQ(pciCalls.size(), 2u);
        bool deviceRequestSeen = false;
        for (const auto& call : pciCalls) {
            deviceRequestSeen |=
                call.type == DevicePowerState && call.state.DeviceState == *c.asked;
        }
        EXPECT_TRUE(deviceRequestSeen);
    }
    // The request itself reached the PCI driver as it was sent.
    bool passedDown = false;
    for (const auto& call : pciCalls) {
        passedDown |= call.minor == c.minor && call.type == c.type &&
                      static_cast<ULONG>(call.state.SystemState) == c.state;
    }
    EXPECT_TRUE(passedDown);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CardPowerTest,
    ::testing::Values(CardPowerCase{"SetWorking", true, IRP_MN_SET_POWER, SystemPowerState,
                                    PowerSystemWorking, true, PowerDeviceD0},
                      CardPowerCase{"SetUnspecified", true, IRP_MN_SET_POWER, SystemPowerState,
                                    PowerSystemUnspecified, true, PowerDeviceD0},
                      CardPowerCase{"SetSleeping1", true, IRP_MN_SET_POWER, SystemPowerState,
                                    PowerSystemSleeping1, true, PowerDeviceD3},
                      CardPowerCase{"SetSleeping3", true, IRP_MN_SET_POWER, SystemPowerState,
                                    PowerSystemSleeping3, true, PowerDeviceD3},
                      CardPowerCase{"SetHibernate", true, IRP_MN_SET_POWER, SystemPowerState,
                                    PowerSystemHibernate, true, PowerDeviceD3},
                      CardPowerCase{"SetShutdown", true, IRP_MN_SET_POWER, SystemPowerState,
                                    PowerSystemShutdown, true, PowerDeviceD3},
                      CardPowerCase{"SetSleeping3NotStarted", false, IRP_MN_SET_POWER,
                                    SystemPowerState, PowerSystemSleeping3, true, std::nullopt},
                      CardPowerCase{"SetDeviceD3", true, IRP_MN_SET_POWER, DevicePowerState,
                                    PowerDeviceD3, true, std::nullopt},
                      CardPowerCase{"QuerySleeping2", true, IRP_MN_QUERY_POWER, SystemPowerState,
                                    PowerSystemSleeping2, true, std::nullopt},
                      CardPowerCase{"QueryDeviceD3", true, IRP_MN_QUERY_POWER, DevicePowerState,
                                    PowerDeviceD3, true, std::nullopt},
                      CardPowerCase{"WaitWake", true, IRP_MN_WAIT_WAKE, SystemPowerState,
                                    PowerSystemSleeping1, false, std::nullopt},
                      CardPowerCase{"PowerSequence", true, IRP_MN_POWER_SEQUENCE, SystemPowerState,
                                    0, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

using CardPowerCountTest = CardTest;

TEST_F(CardPowerCountTest, CardThatNeverStartedTakesNoCount) {
    Card& card = addedCard();
    card.pci.holdPower();
    std::thread power([&] {
        sendPower(card.fdo(), IRP_MN_SET_POWER, SystemPowerState,
                  systemState(PowerSystemSleeping3));
    });
    card.pci.waitPowerHeld();
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    card.pci.releasePower();
    power.join();
}

TEST_F(CardPowerCountTest, FailedDeviceRequestDoesNotHoldUpTheSystemRequest) {
    Card& card = startedCard();
    kernel.faults().failNth(wk::fault_call::PoRequestPowerIrp, 1);

    Reply reply = sendPower(card.fdo(), IRP_MN_SET_POWER, SystemPowerState,
                            systemState(PowerSystemHibernate));
    kernel.work().drain();

    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(card.pci.powerCalls().size(), 1u);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
}

// ---- the ports ----

struct PortPowerCase {
    const char* name;
    UCHAR minor;
    POWER_STATE_TYPE type;
    ULONG state;
    NTSTATUS status; // the request comes with STATUS_NOT_SUPPORTED
    SYSTEM_POWER_STATE system;
    DEVICE_POWER_STATE device;
    bool reported;
};

class PortPowerTest : public CardTest, public ::testing::WithParamInterface<PortPowerCase> {};

TEST_P(PortPowerTest, RecordsAndCompletes) {
    const auto& c = GetParam();
    Card& card = startedCard();
    auto ports = startedPorts(card);
    kernel.power().clearLog();
    POWER_STATE state{};
    state.SystemState = static_cast<SYSTEM_POWER_STATE>(c.state);

    Reply reply = sendPower(ports[1], c.minor, c.type, state, STATUS_NOT_SUPPORTED);

    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.returned, c.status);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_EQ(reply.startNextPower, 1u);
    EXPECT_EQ(card.port(1)->Header.SysPowerState, c.system);
    EXPECT_EQ(card.port(1)->Header.DevPowerState, c.device);
    auto reports = callsOf(kernel.power().log(), wk::PowerCallKind::SetPowerState, ports[1]);
    ASSERT_EQ(reports.size(), c.reported ? 1u : 0u);
    if (c.reported) {
        EXPECT_EQ(reports[0].type, DevicePowerState);
        EXPECT_EQ(reports[0].state.DeviceState, c.device);
    }
    // A port never passes a power request on, and takes no count on the card.
    EXPECT_TRUE(card.pci.powerCalls().empty());
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    EXPECT_EQ(card.port(0)->Header.DevPowerState, PowerDeviceD0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PortPowerTest,
    ::testing::Values(
        PortPowerCase{"SetSystem", IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3,
                      STATUS_SUCCESS, PowerSystemSleeping3, PowerDeviceD0, false},
        PortPowerCase{"SetDeviceD3", IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD3,
                      STATUS_SUCCESS, PowerSystemWorking, PowerDeviceD3, true},
        PortPowerCase{"Query", IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemHibernate,
                      STATUS_SUCCESS, PowerSystemWorking, PowerDeviceD0, false},
        PortPowerCase{"WaitWake", IRP_MN_WAIT_WAKE, SystemPowerState, PowerSystemSleeping1,
                      STATUS_NOT_SUPPORTED, PowerSystemWorking, PowerDeviceD0, false},
        PortPowerCase{"PowerSequence", IRP_MN_POWER_SEQUENCE, SystemPowerState, 0,
                      STATUS_NOT_SUPPORTED, PowerSystemWorking, PowerDeviceD0, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qeltest
