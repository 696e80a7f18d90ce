// System power transitions of a machine with a four-port card: sleep, hibernate and shutdown
// with their wake, a refused query, and what the machine refuses to do.
#include "machine_fixture.h"

#include <qelmf.h>

#include <gmock/gmock.h>

#include <algorithm>

namespace winsim::pnp::test {

namespace {

namespace wk = winsim::kernel;

bool isPowerRequestTo(const Event& event, const std::string& minor) {
    return event.kind == "power" && event.text.rfind(minor, 0) == 0 &&
           event.text.find("asked for") == std::string::npos;
}

// The devices that received the system request, in the order they received it.
std::vector<std::string> receivers(const Machine& m, const std::string& minor) {
    std::vector<std::string> out;
    for (const Event& event : m.events()) {
        if (isPowerRequestTo(event, minor)) {
            out.push_back(event.instance);
        }
    }
    return out;
}

// Every device that received the request did so after (childrenFirst) or before its children.
void expectTreeOrder(const Machine& m, const std::vector<std::string>& order, bool childrenFirst) {
    auto at = [&](const std::string& instance) {
        return std::find(order.begin(), order.end(), instance) - order.begin();
    };
    for (const DeviceInfo& info : m.pnp.devices()) {
        if (!info.parent || at(info.instance) == std::ssize(order) ||
            at(*info.parent) == std::ssize(order)) {
            continue;
        }
        EXPECT_EQ(at(info.instance) < at(*info.parent), childrenFirst)
            << info.instance << " and its parent " << *info.parent;
    }
}

PowerRequest systemRequest(UCHAR minor, SYSTEM_POWER_STATE state) {
    return {minor, SystemPowerState, static_cast<ULONG>(state), STATUS_SUCCESS, false};
}

PowerRequest deviceRequest(DEVICE_POWER_STATE state) {
    return {IRP_MN_SET_POWER, DevicePowerState, static_cast<ULONG>(state), STATUS_SUCCESS, true};
}

MATCHER_P(IsRequest, expected, "") {
    return arg.minor == expected.minor && arg.type == expected.type &&
           arg.state == expected.state && arg.status == expected.status &&
           arg.fromDriver == expected.fromDriver;
}

class Power : public ::testing::Test {
  protected:
    void bootCard(const CardConfig& card = {}) {
        m.boot({card});
        card_ = m.cardInstance();
        ASSERT_EQ(m.ports().size(), 4u);
        m.clearEvents();
        m.kernel.power().clearLog();
    }

    PDEVICE_OBJECT cardPdo() { return m.cardPdo(); }
    PDEVICE_OBJECT cardFdo() { return m.cardFdo(); }
    // The card's port devices, by port index.
    std::vector<const PORT_EXTENSION*> portExtensions() {
        std::vector<const PORT_EXTENSION*> out(4, nullptr);
        auto& objects = m.kernel.objects();
        for (PDEVICE_OBJECT d : objects.devicesOf(objects.driverRecord(m.kernel.driver("qelmf")))) {
            const auto* header = static_cast<const EXTENSION_HEADER*>(d->DeviceExtension);
            if (!header->IsFdo) {
                const auto* port = static_cast<const PORT_EXTENSION*>(d->DeviceExtension);
                out.at(port->PortIndex) = port;
            }
        }
        return out;
    }

    std::size_t calls(wk::PowerCallKind kind, PDEVICE_OBJECT device, POWER_STATE_TYPE type,
                      ULONG state) {
        const auto log = m.kernel.power().logOf(device);
        return std::count_if(log.begin(), log.end(), [&](const wk::PowerCall& c) {
            return c.kind == kind && c.type == type &&
                   static_cast<ULONG>(c.state.SystemState) == state;
        });
    }

    Machine m;
    std::string card_;
};

struct Transition {
    const char* name;
    SYSTEM_POWER_STATE state;
    bool completeLater; // the PCI driver completes every request later on another thread
};

class SleepAndWake : public Power, public ::testing::WithParamInterface<Transition> {};

TEST_P(SleepAndWake, ChildrenGoDownFirstAndParentsComeUpFirst) {
    const Transition& t = GetParam();
    CardConfig card;
    card.completeLater = t.completeLater;
    bootCard(card);

    ASSERT_EQ(m.pnp.setSystemPower(t.state), STATUS_SUCCESS);
    EXPECT_EQ(m.pnp.systemPower(), t.state);
    const auto queried = receivers(m, "IRP_MN_QUERY_POWER");
    const auto set = receivers(m, "IRP_MN_SET_POWER");
    EXPECT_EQ(queried.size(), m.pnp.devices().size()); // every device, the root included
    EXPECT_EQ(set, queried);
    expectTreeOrder(m, set, true);

    // The card told the power manager of the system state, asked for D3 for its stack, and that
    // request passed it on its way down to the PCI driver.
    EXPECT_EQ(calls(wk::PowerCallKind::SetPowerState, cardFdo(), SystemPowerState, t.state),
              2u); // query, set
    EXPECT_EQ(calls(wk::PowerCallKind::RequestPowerIrp, cardPdo(), DevicePowerState, PowerDeviceD3),
              1u);
    EXPECT_EQ(calls(wk::PowerCallKind::SetPowerState, cardFdo(), DevicePowerState, PowerDeviceD3),
              1u);
    EXPECT_EQ(m.kernel.power().state(cardPdo())->device, PowerDeviceD3);
    const auto cardInfo = m.pnp.device(card_);
    EXPECT_EQ(cardInfo->power.system, t.state);
    EXPECT_EQ(cardInfo->power.device, PowerDeviceD3);
    EXPECT_THAT(cardInfo->power.requests,
                ::testing::ElementsAre(IsRequest(systemRequest(IRP_MN_QUERY_POWER, t.state)),
                                       IsRequest(systemRequest(IRP_MN_SET_POWER, t.state)),
                                       IsRequest(deviceRequest(PowerDeviceD3))));

    // Each port device recorded both states; its port driver asked for D3.
    for (const PORT_EXTENSION* port : portExtensions()) {
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(port->Header.SysPowerState, t.state);
        EXPECT_EQ(port->Header.DevPowerState, PowerDeviceD3);
    }
    for (const DeviceInfo& port : m.ports()) {
        EXPECT_EQ(port.power.system, t.state);
        EXPECT_EQ(port.power.device, PowerDeviceD3);
        EXPECT_EQ(port.power.requests.back().fromDriver, true) << port.instance;
    }

    m.clearEvents();
    ASSERT_EQ(m.pnp.setSystemPower(PowerSystemWorking), STATUS_SUCCESS);
    EXPECT_EQ(m.pnp.systemPower(), PowerSystemWorking);
    EXPECT_TRUE(receivers(m, "IRP_MN_QUERY_POWER").empty());
    expectTreeOrder(m, receivers(m, "IRP_MN_SET_POWER"), false);
    EXPECT_EQ(calls(wk::PowerCallKind::RequestPowerIrp, cardPdo(), DevicePowerState, PowerDeviceD0),
              1u);
    EXPECT_EQ(m.kernel.power().state(cardPdo())->device, PowerDeviceD0);
    EXPECT_THAT(
        m.pnp.device(card_)->power.requests,
        ::testing::ElementsAre(IsRequest(systemRequest(IRP_MN_SET_POWER, PowerSystemWorking)),
                               IsRequest(deviceRequest(PowerDeviceD0))));
    for (const PORT_EXTENSION* port : portExtensions()) {
        EXPECT_EQ(port->Header.SysPowerState, PowerSystemWorking);
        EXPECT_EQ(port->Header.DevPowerState, PowerDeviceD0);
    }
    // The machine works as before: its card can be stopped and started again.
    EXPECT_EQ(m.pnp.rebalance(card_), STATUS_SUCCESS);
    m.shutdownClean();
}

INSTANTIATE_TEST_SUITE_P(States, SleepAndWake,
                         ::testing::Values(Transition{"Sleeping1", PowerSystemSleeping1, false},
                                           Transition{"Sleeping2", PowerSystemSleeping2, false},
                                           Transition{"Sleeping3", PowerSystemSleeping3, false},
                                           Transition{"Sleeping3Later", PowerSystemSleeping3, true},
                                           Transition{"Hibernate", PowerSystemHibernate, false},
                                           Transition{"HibernateLater", PowerSystemHibernate, true},
                                           Transition{"Shutdown", PowerSystemShutdown, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The PCI driver refuses the query: the ports (queried before their card) and the card get a
// set-power to the working state, parents first; the devices above the card hear nothing.
TEST_F(Power, RefusedQueryKeepsTheMachineWorking) {
    CardConfig card;
    card.queryPowerStatus = STATUS_UNSUCCESSFUL;
    bootCard(card);

    EXPECT_EQ(m.pnp.setSystemPower(PowerSystemSleeping3), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(m.pnp.systemPower(), PowerSystemWorking);
    const auto vetoes = m.eventsOf("power-veto");
    ASSERT_EQ(vetoes.size(), 1u);
    EXPECT_EQ(vetoes[0].instance, card_);

    const std::vector<std::string> queried = receivers(m, "IRP_MN_QUERY_POWER");
    ASSERT_EQ(queried.size(), 5u);
    EXPECT_EQ(queried.back(), card_);
    const std::vector<std::string> set = receivers(m, "IRP_MN_SET_POWER");
    EXPECT_EQ(set, std::vector<std::string>(queried.rbegin(), queried.rend()));
    EXPECT_EQ(m.pnp.device(pciBus)->power.requests.size(), 0u);

    for (const DeviceInfo& port : m.ports()) {
        EXPECT_THAT(port.power.requests,
                    ::testing::ElementsAre(
                        IsRequest(systemRequest(IRP_MN_QUERY_POWER, PowerSystemSleeping3)),
                        IsRequest(systemRequest(IRP_MN_SET_POWER, PowerSystemWorking))));
        EXPECT_EQ(port.power.device, PowerDeviceD0);
    }
    auto refused = systemRequest(IRP_MN_QUERY_POWER, PowerSystemSleeping3);
    refused.status = STATUS_UNSUCCESSFUL;
    EXPECT_THAT(
        m.pnp.device(card_)->power.requests,
        ::testing::ElementsAre(IsRequest(refused),
                               IsRequest(systemRequest(IRP_MN_SET_POWER, PowerSystemWorking)),
                               IsRequest(deviceRequest(PowerDeviceD0))));
    EXPECT_EQ(m.pnp.device(card_)->power.system, PowerSystemWorking);
    EXPECT_EQ(m.pnp.rebalance(card_), STATUS_SUCCESS);
    m.shutdownClean();
}

TEST_F(Power, RefusesWhatTheMachineCannotDo) {
    bootCard();
    EXPECT_EQ(m.pnp.setSystemPower(PowerSystemUnspecified), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(m.pnp.setSystemPower(PowerSystemMaximum), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(m.pnp.setSystemPower(PowerSystemWorking), STATUS_SUCCESS); // nothing to wake
    EXPECT_TRUE(m.eventsOf("power").empty());

    ASSERT_EQ(m.pnp.setSystemPower(PowerSystemSleeping2), STATUS_SUCCESS);
    m.clearEvents();
    EXPECT_EQ(m.pnp.setSystemPower(PowerSystemHibernate), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(m.pnp.rebalance(card_), STATUS_INVALID_DEVICE_STATE); // Plug and Play waits
    EXPECT_TRUE(m.events().empty());
    EXPECT_EQ(m.state(card_), "started");
    ASSERT_EQ(m.pnp.setSystemPower(PowerSystemWorking), STATUS_SUCCESS);
    m.shutdownClean();
}

TEST(PowerBeforeBoot, IsRefused) {
    Machine m;
    EXPECT_EQ(m.pnp.setSystemPower(PowerSystemSleeping3), STATUS_INVALID_DEVICE_STATE);
}

} // namespace

} // namespace winsim::pnp::test
