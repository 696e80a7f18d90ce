// The port interface: the interface query, its references and the port's configuration.
#include "fixture.h"

#include <array>

namespace qeltest {
namespace {

// The record's size: 20 bytes on 32-bit x86, larger where pointers are.
constexpr USHORT kSize = sizeof(PORT_INTERFACE);

Reply queryInterface(PDEVICE_OBJECT port, const GUID& type, USHORT size, USHORT version,
                     PVOID record) {
    return sendPnp(
        port, IRP_MN_QUERY_INTERFACE,
        [&](IO_STACK_LOCATION& s) {
            s.Parameters.QueryInterface.InterfaceType = &type;
            s.Parameters.QueryInterface.Size = size;
            s.Parameters.QueryInterface.Version = version;
            s.Parameters.QueryInterface.Interface = static_cast<PINTERFACE>(record);
        },
        0x99);
}

PORT_INTERFACE blankInterface(USHORT size, USHORT version) {
    PORT_INTERFACE portIf;
    std::memset(&portIf, 0xAB, sizeof(portIf));
    portIf.Size = size;
    portIf.Version = version;
    return portIf;
}

using InterfaceTest = CardTest;

TEST_F(InterfaceTest, EachQueryHoldsOffTheRemovalUntilGivenBack) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    PPORT_EXTENSION port = card.port(1);

    PORT_INTERFACE first = blankInterface(sizeof(PORT_INTERFACE), 1);
    Reply reply = queryInterface(ports[1], GUID_CARD_INTERFACE, kSize, 1, &first);
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.information, 0u);
    EXPECT_EQ(first.Size, sizeof(PORT_INTERFACE)); // left as the requester set them
    EXPECT_EQ(first.Version, 1);
    EXPECT_EQ(first.Context, port);
    EXPECT_EQ(first.InterfaceReference, PortInterfaceReference);
    EXPECT_EQ(first.InterfaceDereference, PortInterfaceDereference);
    EXPECT_EQ(first.GetPortConfig, GetPortConfig);
    EXPECT_EQ(port->InterfaceRefs, 1);

    // A larger record of any version is filled too.
    std::array<std::uint8_t, kSize + 12> larger{};
    EXPECT_EQ(queryInterface(ports[1], GUID_CARD_INTERFACE, kSize + 12, 7, larger.data()).status,
              STATUS_SUCCESS);
    EXPECT_EQ(port->InterfaceRefs, 2);

    for (int given = 0; given < 2; ++given) {
        Reply refused = sendPnp(ports[1], IRP_MN_QUERY_REMOVE_DEVICE);
        EXPECT_EQ(refused.status, STATUS_UNSUCCESSFUL);
        EXPECT_EQ(port->Header.PnpState, StateStarted);
        first.InterfaceDereference(first.Context);
    }
    EXPECT_EQ(port->InterfaceRefs, 0);
    EXPECT_EQ(sendPnp(ports[1], IRP_MN_QUERY_REMOVE_DEVICE).status, STATUS_SUCCESS);
    EXPECT_EQ(port->Header.PnpState, StateRemovePending);
}

TEST_F(InterfaceTest, QueriesItDoesNotAnswer) {
    Card& card = startedCard();
    auto ports = startedPorts(card);
    const PORT_INTERFACE untouched = blankInterface(kSize - 4, 1);

    // 16 bytes on 32-bit x86: the record lacks the configuration function.
    PORT_INTERFACE small = untouched;
    Reply tooSmall = queryInterface(ports[0], GUID_CARD_INTERFACE, kSize - 4, 1, &small);
    EXPECT_EQ(tooSmall.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(0, std::memcmp(&small, &untouched, sizeof(small)));

    const GUID foreign = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    PORT_INTERFACE other = untouched;
    Reply notOurs = queryInterface(ports[0], foreign, kSize, 1, &other);
    EXPECT_EQ(notOurs.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(notOurs.information, 0x99u);
    EXPECT_EQ(0, std::memcmp(&other, &untouched, sizeof(other)));

    EXPECT_EQ(card.port(0)->InterfaceRefs, 0);
}

// ---- the port's configuration ----

struct ConfigCase {
    const char* name;
    ULONG word;
    ULONG port;
    LONGLONG rawBase;
    LONGLONG trBase;
    LONGLONG rawPort;
    LONGLONG trPort;
    LONGLONG rawShared; // 0: none
    LONGLONG trShared;
};

class PortConfigTest : public CardTest, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(PortConfigTest, DividesTheCardsRangeAmongThePorts) {
    const auto& c = GetParam();
    Card& card = addedCard();
    card.pci.setConfigWord(c.word);
    ResourceList raw{portResource(c.rawBase, 0x40, 0x0005), interruptResource(5, 5, 1)};
    ResourceList translated{portResource(c.trBase, 0x40, 0x0015), interruptResource(22, 0x35, 3)};
    ASSERT_EQ(start(card, raw, translated).status, STATUS_SUCCESS);
    auto ports = startedPorts(card);

    PORT_INTERFACE portIf = blankInterface(sizeof(PORT_INTERFACE), 1);
    ASSERT_EQ(queryInterface(ports[c.port], GUID_CARD_INTERFACE, kSize, 1, &portIf).status,
              STATUS_SUCCESS);
    PORT_CONFIG config;
    std::memset(&config, 0xEE, sizeof(config));
    EXPECT_TRUE(portIf.GetPortConfig(portIf.Context, &config));
    portIf.InterfaceDereference(portIf.Context);

    EXPECT_EQ(config.LocationCode, 0x268u);
    EXPECT_EQ(config.RawPortBase.QuadPart, c.rawPort);
    EXPECT_EQ(config.TrPortBase.QuadPart, c.trPort);
    EXPECT_EQ(config.RawSharedRegister.QuadPart, c.rawShared);
    EXPECT_EQ(config.TrSharedRegister.QuadPart, c.trShared);
    EXPECT_EQ(config.PortFlags, 0x0015u);
    EXPECT_EQ(config.PortIndex, c.port);
    EXPECT_EQ(config.RawInterruptLevel, 5u);
    EXPECT_EQ(config.RawInterruptVector, 5u);
    EXPECT_EQ(config.RawInterruptAffinity, 1u);
    EXPECT_EQ(config.TrInterruptLevel, 22u);
    EXPECT_EQ(config.TrInterruptVector, 0x35u);
    EXPECT_EQ(config.TrInterruptAffinity, 3u);
    // Every byte that carries nothing is zero.
    EXPECT_EQ(config.Unused0, 0u);
    EXPECT_EQ(config.Reserved1, 0u);
    EXPECT_EQ(config.Reserved2, 0u);
    EXPECT_EQ(config.Unused1, 0u);
    EXPECT_EQ(config.Reserved3, 0u);
    EXPECT_EQ(config.Unused2, 0u);
    EXPECT_EQ(config.Unused3, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, PortConfigTest,
    ::testing::Values(
        ConfigCase{"FourPortsPort2", 0x00040000, 2, 0x300, 0x300, 0x310, 0x310, 0x304, 0x304},
        ConfigCase{"EightPortsPort7", 0x00080000, 7, 0x2000, 0xE000, 0x2038, 0xE038, 0x2004,
                   0xE004},
        ConfigCase{"TwoPortsHaveNoSharedRegister", 0x00020000, 1, 0x2F8, 0x2F8, 0x300, 0x300, 0, 0},
        ConfigCase{"OnePort", 0x00010000, 0, 0x3F8, 0x103F8, 0x3F8, 0x103F8, 0, 0},
        ConfigCase{"CarryIntoTheHighHalf", 0x00080000, 3, 0xFFFFFFF0, 0x1FFFFFFF8, 0x100000008,
                   0x200000010, 0xFFFFFFF4, 0x1FFFFFFFC}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InterfaceTest, AllPortsShareTheCardsInterrupt) {
    Card& card = startedCard(0x00080000);
    auto ports = startedPorts(card);
    std::vector<PORT_CONFIG> configs(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        GetPortConfig(card.port(static_cast<ULONG>(i)), &configs[i]);
    }
    for (const auto& config : configs) {
        EXPECT_EQ(config.RawInterruptLevel, configs[0].RawInterruptLevel);
        EXPECT_EQ(config.RawInterruptVector, configs[0].RawInterruptVector);
        EXPECT_EQ(config.TrInterruptLevel, configs[0].TrInterruptLevel);
        EXPECT_EQ(config.TrInterruptVector, configs[0].TrInterruptVector);
        EXPECT_EQ(config.TrInterruptAffinity, configs[0].TrInterruptAffinity);
    }
    EXPECT_EQ(configs[0].TrInterruptVector, 0x35u);
}

} // namespace
} // namespace qeltest
