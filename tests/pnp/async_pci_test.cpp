// The whole life of a card whose PCI driver completes every request later on another thread:
// start, bus relations, the card's interface, a sleep and wake, stop, start again and removal.
#include "machine_fixture.h"

#include <qelmf.h>

namespace winsim::pnp::test {

namespace {

TEST(PciCompletingLater, WholeCardLifecycle) {
    Machine m;
    CardConfig later;
    later.completeLater = true;
    m.boot({later});
    const std::string card = m.cardInstance();
    ASSERT_EQ(m.state(card), "started");
    ASSERT_EQ(m.ports().size(), 4u);
    for (const DeviceInfo& port : m.ports()) {
        EXPECT_EQ(port.state, "started") << port.instance;
        EXPECT_EQ(port.interfaceRefs, 1) << port.instance;
    }
    EXPECT_EQ(m.eventsOf("interface").size(), 1u);

    ASSERT_EQ(m.pnp.setSystemPower(PowerSystemSleeping3), STATUS_SUCCESS);
    EXPECT_EQ(m.pnp.device(card)->power.device, PowerDeviceD3);
    ASSERT_EQ(m.pnp.setSystemPower(PowerSystemWorking), STATUS_SUCCESS);
    EXPECT_EQ(m.pnp.device(card)->power.device, PowerDeviceD0);
    for (const DeviceInfo& port : m.ports()) {
        EXPECT_EQ(port.power.device, PowerDeviceD0) << port.instance;
    }

    ASSERT_EQ(m.pnp.queryStop(card), STATUS_SUCCESS);
    ASSERT_EQ(m.pnp.stop(card), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card), "stopped");
    ASSERT_EQ(m.pnp.startDevice(card), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card), "started");
    EXPECT_EQ(static_cast<PCARD_EXTENSION>(m.cardFdo()->DeviceExtension)->OutstandingIo, 1);

    ASSERT_EQ(m.pnp.queryRemove(card), STATUS_SUCCESS);
    ASSERT_EQ(m.pnp.remove(card), STATUS_SUCCESS);
    EXPECT_EQ(m.state(card), "removed");
    EXPECT_TRUE(m.ports().empty());
    EXPECT_EQ(m.eventsOf("interface").size(), 2u); // enabled, then disabled
    m.shutdownClean();
}

} // namespace

} // namespace winsim::pnp::test
