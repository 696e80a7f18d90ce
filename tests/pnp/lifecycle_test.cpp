// Plug and Play actions on a running machine: rebalance, query-remove with and without a veto,
// removal, surprise removal, re-enumeration. Every case runs twice: with a PCI driver that
// completes at once, and with one that completes every request later on another thread.
#include "machine_fixture.h"

#include <algorithm>

namespace winsim::pnp::test {

namespace {

class Lifecycle : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        CardConfig card;
        card.completeLater = GetParam();
        m.boot({card});
        card_ = m.cardInstance();
        ASSERT_EQ(m.state(card_), "started");
        ASSERT_EQ(m.ports().size(), 4u);
        m.clearEvents();
    }

    std::size_t count(const std::string& kind, const std::string& text = "") const {
        const auto events = m.eventsOf(kind);
        return std::count_if(events.begin(), events.end(), [&](const Event& e) {
            return e.text.find(text) != std::string::npos;
        });
    }

    void expectPortsStartedWithOneReference() const {
        const auto ports = m.ports();
        ASSERT_EQ(ports.size(), 4u);
        for (const DeviceInfo& port : ports) {
            EXPECT_EQ(port.state, "started") << port.instance;
            EXPECT_EQ(port.interfaceRefs, 1) << port.instance;
        }
    }

    Machine m;
    std::string card_;
};

} // namespace

TEST_P(Lifecycle, RebalanceStopsAndStartsTheCardAgain) {
    ASSERT_EQ(m.pnp.rebalance(card_), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "started");
    EXPECT_EQ(count("irp", "IRP_MN_QUERY_STOP_DEVICE -> STATUS_SUCCESS"), 1u);
    EXPECT_EQ(count("irp", "IRP_MN_STOP_DEVICE -> STATUS_SUCCESS"), 1u);
    EXPECT_EQ(count("irp", "IRP_MN_START_DEVICE -> STATUS_SUCCESS"), 1u);
    EXPECT_EQ(count("port-count", "\"PORTS\" = 4"), 1u);
    EXPECT_EQ(count("device-created"), 0u); // the same port devices are reported again
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

TEST_P(Lifecycle, StopAndStartOfOnePort) {
    const std::string port = portPath(1);
    ASSERT_EQ(m.pnp.queryStop(port), STATUS_SUCCESS);
    EXPECT_EQ(m.state(port), "stop-pending");
    ASSERT_EQ(m.pnp.cancelStop(port), STATUS_SUCCESS);
    EXPECT_EQ(m.state(port), "started");
    ASSERT_EQ(m.pnp.stop(port), STATUS_SUCCESS);
    EXPECT_EQ(m.state(port), "stopped");
    EXPECT_EQ(m.pnp.device(port)->interfaceRefs, 0); // the port driver let go while stopped
    ASSERT_EQ(m.pnp.startDevice(port), STATUS_SUCCESS);
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

// The port driver that keeps its interface reference makes its port device veto the card's
// removal; every device queried so far gets a cancel-remove and runs on as before.
TEST_P(Lifecycle, QueryRemoveIsVetoedByAPortThatKeepsItsInterface) {
    ASSERT_TRUE(m.pnp.setPortKeepsReference(portPath(2), true));
    EXPECT_EQ(m.pnp.queryRemove(card_), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(count("veto", portPath(2)), 1u);
    // Ports 0, 1 and 2 were queried (children first, in order) and cancelled; 3 and the card
    // never saw the query.
    EXPECT_EQ(count("irp", "IRP_MN_QUERY_REMOVE_DEVICE"), 3u);
    EXPECT_EQ(count("irp", "IRP_MN_CANCEL_REMOVE_DEVICE"), 3u);
    EXPECT_EQ(m.state(card_), "started");
    expectPortsStartedWithOneReference();

    ASSERT_TRUE(m.pnp.setPortKeepsReference(portPath(2), false));
    ASSERT_EQ(m.pnp.queryRemove(card_), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "remove-pending");
    for (const DeviceInfo& port : m.ports()) {
        EXPECT_EQ(port.state, "remove-pending");
        EXPECT_EQ(port.interfaceRefs, 0);
    }
    ASSERT_EQ(m.pnp.cancelRemove(card_), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "started");
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

// Removal goes children first; the card's removal deletes its port devices, and with their last
// devices gone the two drivers unload. The PCI bus still reports the card, so its next
// bus-relations query brings the card and its ports back.
TEST_P(Lifecycle, RemovalThenReenumerationBringsTheCardBack) {
    ASSERT_EQ(m.pnp.queryRemove(card_), STATUS_SUCCESS);
    ASSERT_EQ(m.pnp.remove(card_), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "removed");
    EXPECT_TRUE(m.ports().empty());
    const auto removed = m.eventsOf("removed");
    ASSERT_EQ(removed.size(), 5u);
    EXPECT_EQ(removed.back().instance, card_);
    EXPECT_EQ(count("driver-unloaded", "qelser"), 1u);
    EXPECT_EQ(count("driver-unloaded", "qelmf"), 1u);
    EXPECT_EQ(count("interface", "disabled"), 1u);

    ASSERT_EQ(m.pnp.reenumerate(pciBus), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "started");
    EXPECT_EQ(count("installed"), 0u); // known devices: nothing installed anew
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

TEST_P(Lifecycle, RemovedPortComesBackAtTheNextQueryOfTheCard) {
    ASSERT_EQ(m.pnp.remove(portPath(1)), STATUS_SUCCESS);
    EXPECT_EQ(m.state(portPath(1)), "removed"); // the card still reports it
    EXPECT_EQ(m.pnp.device(portPath(1))->interfaceRefs, 0);
    ASSERT_EQ(m.pnp.reenumerate(card_), STATUS_SUCCESS);
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

TEST_P(Lifecycle, SurpriseRemovalThenRemoval) {
    ASSERT_EQ(m.pnp.surpriseRemove(card_), STATUS_SUCCESS);
    const auto surprised = m.eventsOf("surprise-removed");
    ASSERT_EQ(surprised.size(), 5u);
    EXPECT_EQ(surprised.back().instance, card_); // children first
    EXPECT_EQ(m.eventsOf("removed").size(), 5u);
    EXPECT_EQ(count("interface", "disabled"), 1u); // once, by the surprise removal
    EXPECT_EQ(m.state(card_), "removed");
    EXPECT_TRUE(m.ports().empty());
    m.shutdownClean();
}

// A card pulled out is missing from the bus's next answer: surprise removal, removal, and the
// node is gone. Plugged in again, it comes back with its ports.
TEST_P(Lifecycle, CardPulledOutAndPluggedIn) {
    ASSERT_TRUE(m.pnp.setCardPresent(0, false));
    ASSERT_EQ(m.pnp.reenumerate(pciBus), STATUS_SUCCESS);
    EXPECT_EQ(count("surprise-removed"), 5u);
    EXPECT_EQ(count("removed"), 5u);
    EXPECT_FALSE(m.pnp.device(card_));
    EXPECT_TRUE(m.ports().empty());

    ASSERT_TRUE(m.pnp.setCardPresent(0, true));
    ASSERT_EQ(m.pnp.reenumerate(pciBus), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "started");
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

// A card removed while plugged in keeps its device object; pulled out afterwards, it gets one
// more removal request so that the PCI driver can delete that object.
TEST_P(Lifecycle, RemovedCardThenPulledOut) {
    ASSERT_EQ(m.pnp.remove(card_), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card_), "removed");
    ASSERT_TRUE(m.pnp.setCardPresent(0, false));
    ASSERT_EQ(m.pnp.reenumerate(pciBus), STATUS_SUCCESS);
    EXPECT_FALSE(m.pnp.device(card_));
    EXPECT_EQ(count("irp", "IRP_MN_REMOVE_DEVICE (no longer reported)"), 1u);
    EXPECT_EQ(count("surprise-removed"), 0u);
    ASSERT_TRUE(m.pnp.setCardPresent(0, true));
    ASSERT_EQ(m.pnp.reenumerate(pciBus), STATUS_SUCCESS);
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

TEST_P(Lifecycle, ReenumerationOfAnUnchangedCardReportsTheSamePorts) {
    ASSERT_EQ(m.pnp.reenumerate(card_), STATUS_SUCCESS);
    EXPECT_EQ(count("device-created"), 0u);
    EXPECT_EQ(count("removed"), 0u);
    expectPortsStartedWithOneReference();
    m.shutdownClean();
}

TEST_P(Lifecycle, UnknownDeviceIsRefused) {
    EXPECT_EQ(m.pnp.remove("QEL_CARD\\SERIAL\\99999999"), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(m.pnp.queryStop("NOT\\A\\DEVICE"), STATUS_NO_SUCH_DEVICE);
    m.shutdownClean();
}

INSTANTIATE_TEST_SUITE_P(PciCompletion, Lifecycle, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Later" : "AtOnce"; });

} // namespace winsim::pnp::test
