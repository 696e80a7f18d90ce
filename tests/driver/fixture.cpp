#include "fixture.h"

#include "registry/registry.h"

#include <algorithm>

namespace qeltest {

namespace wk = winsim::kernel;

KernelTest::KernelTest() {
    kernel.setPnpBridge(&bridge);
    EXPECT_EQ(kernel.loadDriver("pcitest", FakePciDriverEntry, &pciDriver), STATUS_SUCCESS);
}

void KernelTest::TearDown() {
    for (auto& card : cards) {
        if (card->pdo != nullptr) {
            bridge.removePdo(card->pdo);
            deleteFakePdo(card->pdo);
            card->pdo = nullptr;
        }
    }
    kernel.unloadDriver(pciDriver);
    expectCleanShutdown();
}

Card& KernelTest::plugCard(std::optional<std::string> location) {
    auto card = std::make_unique<Card>();
    card->pci.defer = [this](std::function<void()> item) { kernel.work().post(std::move(item)); };
    card->pdo = createFakePdo(pciDriver, card->pci);
    card->instancePath = "PCI\\VEN_5145&DEV_4C01&SUBSYS_00040000&REV_01\\3&61AAA01&0&" +
                         std::to_string(cards.size());
    bridge.addPdo(card->pdo, card->instancePath, std::move(location));
    cards.push_back(std::move(card));
    return *cards.back();
}

void KernelTest::expectCleanShutdown() {
    kernel.shutdown();
    EXPECT_TRUE(kernel.verifier().clean()) << kernel.verifier().summary();
    EXPECT_EQ(kernel.pool().outstandingBlocks(), 0u) << kernel.pool().leakReport();
}

void CardTest::SetUp() {
    ASSERT_EQ(kernel.loadDriver("qelmf", DriverEntry, &qelDriver), STATUS_SUCCESS);
}

void CardTest::TearDown() {
    kernel.work().drain();
    for (auto& card : cards) {
        if (card->pdo != nullptr && card->fdo() != nullptr) {
            EXPECT_EQ(remove(*card).status, STATUS_SUCCESS);
        }
    }
    EXPECT_EQ(qelDriver->DeviceObject, nullptr) << "a device of the card's driver is left";
    kernel.unloadDriver(qelDriver);
    EXPECT_EQ(UnlocatedCardCount, 0);
    KernelTest::TearDown();
}

NTSTATUS CardTest::addCard(Card& card) {
    return kernel.addDevice(qelDriver, card.pdo);
}

Card& CardTest::addedCard(std::optional<std::string> location) {
    Card& card = plugCard(std::move(location));
    EXPECT_EQ(addCard(card), STATUS_SUCCESS);
    return card;
}

Card& CardTest::startedCard(ULONG configWord, std::optional<std::string> location) {
    Card& card = addedCard(std::move(location));
    card.pci.setConfigWord(configWord);
    EXPECT_EQ(start(card).status, STATUS_SUCCESS);
    return card;
}

Reply CardTest::start(const Card& card) {
    ResourceList raw = defaultRaw();
    ResourceList translated = defaultTranslated();
    return start(card, raw, translated);
}

Reply CardTest::start(const Card& card, ResourceList& raw, ResourceList& translated) {
    return sendPnp(card.fdo(), IRP_MN_START_DEVICE, [&](IO_STACK_LOCATION& stack) {
        stack.Parameters.StartDevice.AllocatedResources = raw.get();
        stack.Parameters.StartDevice.AllocatedResourcesTranslated = translated.get();
    });
}

std::vector<PDEVICE_OBJECT> CardTest::busRelations(Card& card, Reply* reply) {
    Reply answer = sendPnp(card.fdo(), IRP_MN_QUERY_DEVICE_RELATIONS, [](IO_STACK_LOCATION& s) {
        s.Parameters.QueryDeviceRelations.Type = BusRelations;
    });
    std::vector<PDEVICE_OBJECT> objects;
    if (NT_SUCCESS(answer.status) && answer.information != 0) {
        auto* list = reinterpret_cast<PDEVICE_RELATIONS>(answer.information);
        for (ULONG i = 0; i < list->Count; ++i) {
            objects.push_back(list->Objects[i]);
            ObDereferenceObject(list->Objects[i]);
        }
        ExFreePool(list);
    }
    if (reply != nullptr) {
        *reply = answer;
    }
    return objects;
}

std::vector<PDEVICE_OBJECT> CardTest::startedPorts(Card& card) {
    return busRelations(card);
}

Reply CardTest::remove(const Card& card) {
    return sendPnp(card.fdo(), IRP_MN_REMOVE_DEVICE);
}

std::optional<std::uint32_t> CardTest::portsValue(const Card& card) {
    auto key = kernel.registry().open_key("SYSTEM\\CurrentControlSet\\Enum\\" + card.instancePath +
                                          "\\Device Parameters");
    std::uint32_t value = 0;
    if (key == nullptr || key->get_dword("PORTS", value) != winsim::reg::Status::ok) {
        return std::nullopt;
    }
    return value;
}

bool CardTest::interfaceEnabled(const Card& card) {
    const auto interfaces = kernel.interfaces().of(card.pdo);
    return std::any_of(interfaces.begin(), interfaces.end(),
                       [](const auto& info) { return info.enabled; });
}

std::optional<long> CardTest::references(PDEVICE_OBJECT device) {
    auto info = kernel.objects().device(device);
    if (!info) {
        return std::nullopt;
    }
    return info->references;
}

bool CardTest::exists(PDEVICE_OBJECT device) {
    auto info = kernel.objects().device(device);
    return info && !info->deleted;
}

ResourceList defaultRaw() {
    return ResourceList{portResource(0x300, 0x20), interruptResource(5, 5, 1)};
}

ResourceList defaultTranslated() {
    return ResourceList{portResource(0x300, 0x20), interruptResource(22, 0x35, 1)};
}

} // namespace qeltest
