// Fixtures of the driver tests: a simulated kernel with the test's PCI driver and bridge
// (KernelTest), and with the card's driver loaded as well (CardTest), whose helpers add, start
// and enumerate cards the way Plug and Play does it.
#pragma once

#include "fake_pci.h"
#include "requests.h"
#include "resources.h"
#include "test_bridge.h"

#include "kernel/kernel.h"
#include "qelmf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qeltest {

inline constexpr const char* kLocation = "PCI bus 2, device 13, function 0"; // LocationCode 0x268

struct Card {
    FakePci pci;
    PDEVICE_OBJECT pdo = nullptr;
    std::string instancePath;

    // The card device, while it exists (it sits right on the PDO).
    PDEVICE_OBJECT fdo() const { return pdo->AttachedDevice; }
    PCARD_EXTENSION ext() const { return static_cast<PCARD_EXTENSION>(fdo()->DeviceExtension); }
    PPORT_EXTENSION port(ULONG index) const {
        return static_cast<PPORT_EXTENSION>(ext()->ChildPdos[index]->DeviceExtension);
    }
};

class KernelTest : public ::testing::Test {
  protected:
    KernelTest();
    void TearDown() override;

    // A card's PDO on the test's PCI driver; `location` nullopt: the location is unreadable.
    Card& plugCard(std::optional<std::string> location = std::string(kLocation));
    // Checks that nothing is left and the verifier saw no fault. Runs from TearDown.
    void expectCleanShutdown();

    winsim::kernel::Kernel kernel;
    TestBridge bridge;
    PDRIVER_OBJECT pciDriver = nullptr;
    std::vector<std::unique_ptr<Card>> cards;
};

class CardTest : public KernelTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    NTSTATUS addCard(Card& card);
    Card& addedCard(std::optional<std::string> location = std::string(kLocation));
    // A card added and started with the given port-count word and the default resources.
    Card& startedCard(ULONG configWord = 0x00040000,
                      std::optional<std::string> location = std::string(kLocation));

    Reply start(const Card& card);
    Reply start(const Card& card, ResourceList& raw, ResourceList& translated);
    // A bus-relations query as Plug and Play sends it; the answer's objects, with the list
    // freed and its references released as Plug and Play does.
    std::vector<PDEVICE_OBJECT> busRelations(Card& card, Reply* reply = nullptr);
    // The port devices of a started card, created by a bus-relations query.
    std::vector<PDEVICE_OBJECT> startedPorts(Card& card);
    Reply remove(const Card& card);

    // "PORTS" in the card's device key, if written.
    std::optional<std::uint32_t> portsValue(const Card& card);
    bool interfaceEnabled(const Card& card);
    // References held on a device object (nullopt once it is gone).
    std::optional<long> references(PDEVICE_OBJECT device);
    bool exists(PDEVICE_OBJECT device);

    PDRIVER_OBJECT qelDriver = nullptr;
};

// The default resources of a card: I/O range at 0x300, IRQ 5.
ResourceList defaultRaw();
ResourceList defaultTranslated();

} // namespace qeltest
