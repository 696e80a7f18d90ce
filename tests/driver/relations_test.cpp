// The card's bus-relations query: creation and reporting of the port devices.
#include "fixture.h"

namespace qeltest {
namespace {

namespace wk = winsim::kernel;

constexpr ULONG kTestTag = wk::makeTag("Test");

// A relations list as a driver above the card leaves it, holding a reference on each object.
PDEVICE_RELATIONS listFromAbove(std::initializer_list<PDEVICE_OBJECT> objects) {
    auto* list = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(
        PagedPool, sizeof(DEVICE_RELATIONS) + objects.size() * sizeof(PDEVICE_OBJECT), kTestTag));
    list->Count = 0;
    for (PDEVICE_OBJECT object : objects) {
        ObReferenceObject(object);
        list->Objects[list->Count++] = object;
    }
    return list;
}

void releaseList(PDEVICE_RELATIONS list) {
    for (ULONG i = 0; i < list->Count; ++i) {
        ObDereferenceObject(list->Objects[i]);
    }
    ExFreePool(list);
}

Reply queryBusRelations(PDEVICE_OBJECT fdo, PDEVICE_RELATIONS above = nullptr) {
    return sendPnp(
        fdo, IRP_MN_QUERY_DEVICE_RELATIONS,
        [](IO_STACK_LOCATION& s) { s.Parameters.QueryDeviceRelations.Type = BusRelations; },
        reinterpret_cast<ULONG_PTR>(above));
}

std::vector<PDEVICE_OBJECT> objectsOf(const Reply& reply) {
    auto* list = reinterpret_cast<PDEVICE_RELATIONS>(reply.information);
    return {list->Objects, list->Objects + list->Count};
}

using RelationsTest = CardTest;

TEST_F(RelationsTest, SecondQueryReportsTheSamePortsReferencedAgain) {
    Card& card = startedCard();
    auto first = busRelations(card);
    ASSERT_EQ(first.size(), 4u);
    const long before = *references(first[2]);

    Reply reply = queryBusRelations(card.fdo());
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(objectsOf(reply), first);
    EXPECT_EQ(references(first[2]), before + 1);
    EXPECT_EQ(card.pci.countPnp(IRP_MN_QUERY_DEVICE_RELATIONS), 2u);
    releaseList(reinterpret_cast<PDEVICE_RELATIONS>(reply.information));

    // Each port device was created once: with its own port index and the card's state.
    for (ULONG i = 0; i < 4; ++i) {
        PPORT_EXTENSION port = card.port(i);
        EXPECT_EQ(port->Header.Self, first[i]);
        EXPECT_FALSE(port->Header.IsFdo);
        EXPECT_EQ(port->Header.PnpState, StateStarted);
        EXPECT_EQ(port->Header.SysPowerState, PowerSystemWorking);
        EXPECT_EQ(port->Header.DevPowerState, PowerDeviceD0);
        EXPECT_EQ(port->ParentFdo, card.fdo());
        EXPECT_EQ(port->PortIndex, i);
        EXPECT_EQ(port->InterfaceRefs, 0);
        EXPECT_EQ(first[i]->DeviceType, static_cast<ULONG>(FILE_DEVICE_SERIAL_PORT));
        EXPECT_FALSE(kernel.objects().device(first[i])->name.empty()); // a name of its own
        EXPECT_NE(first[i]->Flags & DO_POWER_PAGABLE, 0u);
        EXPECT_EQ(first[i]->Flags & DO_DEVICE_INITIALIZING, 0u);
    }
}

TEST_F(RelationsTest, PortsFollowWhatDriversAbovePutInTheList) {
    Card& card = startedCard();
    Card& other = plugCard();
    Card& third = plugCard();

    Reply reply = queryBusRelations(card.fdo(), listFromAbove({other.pdo, third.pdo}));
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    auto objects = objectsOf(reply);
    ASSERT_EQ(objects.size(), 6u);
    EXPECT_EQ(objects[0], other.pdo);
    EXPECT_EQ(objects[1], third.pdo);
    for (ULONG i = 0; i < 4; ++i) {
        EXPECT_EQ(objects[2 + i], card.ext()->ChildPdos[i]);
    }
    EXPECT_EQ(kernel.pool().outstanding(kTestTag), 0u); // the old list was freed
    releaseList(reinterpret_cast<PDEVICE_RELATIONS>(reply.information));
}

TEST_F(RelationsTest, CardThatNeverStartedAddsNothing) {
    Card& card = addedCard();
    Card& other = plugCard();

    Reply reply = queryBusRelations(card.fdo(), listFromAbove({other.pdo}));
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(objectsOf(reply), std::vector<PDEVICE_OBJECT>{other.pdo});
    releaseList(reinterpret_cast<PDEVICE_RELATIONS>(reply.information));

    EXPECT_TRUE(busRelations(card).empty());
}

// ---- failures ----

struct RelationsFailure {
    const char* name;
    ULONG ddkAllocation; // the "Ddk " allocation of the query that fails
    bool portsCreated;
};

class RelationsFailureTest : public CardTest,
                             public ::testing::WithParamInterface<RelationsFailure> {};

TEST_P(RelationsFailureTest, KeepsTheListThatWasThere) {
    Card& card = startedCard();
    Card& other = plugCard();
    PDEVICE_RELATIONS above = listFromAbove({other.pdo});
    kernel.faults().failPoolTag(QEL_POOL_TAG, GetParam().ddkAllocation);

    Reply reply = queryBusRelations(card.fdo(), above);
    kernel.faults().clear();

    EXPECT_EQ(reply.status, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(reply.returned, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(reply.completions, 1u);
    EXPECT_EQ(reply.information, reinterpret_cast<ULONG_PTR>(above));
    EXPECT_EQ(card.pci.countPnp(IRP_MN_QUERY_DEVICE_RELATIONS), 0u);
    EXPECT_EQ(card.ext()->ChildPdos[3] != nullptr, GetParam().portsCreated);
    EXPECT_EQ(card.ext()->OutstandingIo, 1);
    releaseList(above);

    // The next query makes up for it.
    EXPECT_EQ(busRelations(card).size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Allocations, RelationsFailureTest,
                         ::testing::Values(RelationsFailure{"Prefix", 1, false},
                                           RelationsFailure{"List", 2, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelationsTest, PortThatCannotBeCreatedIsLeftOut) {
    Card& card = startedCard();
    kernel.faults().failNth(wk::fault_call::IoCreateDevice, 3); // port 2

    Reply reply = queryBusRelations(card.fdo());
    kernel.faults().clear();
    ASSERT_EQ(reply.status, STATUS_SUCCESS);
    auto objects = objectsOf(reply);
    EXPECT_EQ(card.ext()->ChildPdos[2], nullptr);
    EXPECT_EQ(objects,
              (std::vector<PDEVICE_OBJECT>{card.ext()->ChildPdos[0], card.ext()->ChildPdos[1],
                                           card.ext()->ChildPdos[3]}));
    releaseList(reinterpret_cast<PDEVICE_RELATIONS>(reply.information));

    // The next query creates it, and reports all four in slot order.
    auto all = busRelations(card);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_NE(card.ext()->ChildPdos[2], nullptr);
    EXPECT_EQ(all[2], card.ext()->ChildPdos[2]);
    EXPECT_EQ(card.port(2)->PortIndex, 2u);
}

TEST_F(RelationsTest, PortWhoseInstanceIdCannotBeWidenedIsNotCreated) {
    Card& card = startedCard();
    PCARD_EXTENSION ext = card.ext();
    char tooLong[] = "0000000000"; // no room for it in the instance ID

    ExAcquireFastMutex(&ext->ChildLock);
    NTSTATUS status = CreatePortDevice(ext, 1, tooLong);
    ExReleaseFastMutex(&ext->ChildLock);

    EXPECT_FALSE(NT_SUCCESS(status));
    EXPECT_EQ(ext->ChildPdos[1], nullptr);
    EXPECT_EQ(qelDriver->DeviceObject, card.fdo()); // the new device object is gone again
}

} // namespace
} // namespace qeltest
