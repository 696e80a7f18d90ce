// A stop or a removal of the card racing with power and create/close requests on real threads.
// Each round holds some requests inside the card's handlers (power requests wait in the PCI
// driver below the card, create/close requests in their completion routine, which the card calls
// while it holds its count), starts the stop or the removal, lets more create/close requests run
// beside it, and only then lets the held requests go. The stop and the removal must not reach
// the PCI driver before that, the removal must not delete the card while a request is inside, and
// nothing may hang. Every round runs with a PCI driver that completes at once and with one that
// completes every request later on another thread.
#include "machine_fixture.h"

#include "kernel/irp_helpers.h"
#include "pci/pci_bus.h"

#include <qelmf.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace winsim::pnp::test {

namespace {

constexpr auto limit = std::chrono::seconds(20);

// Holds create/close requests in their completion routine, which runs inside the card's
// handler, until it opens. Notes a request that finds the card deleted on its way out.
class CreateGate {
  public:
    void close(PDEVICE_OBJECT card) {
        const std::lock_guard guard(lock_);
        open_ = false;
        card_ = card;
    }
    void open() {
        {
            const std::lock_guard guard(lock_);
            open_ = true;
        }
        changed_.notify_all();
    }
    bool waitHeld(int n) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, limit, [&] { return held_ >= n; });
    }
    int deletedInside() const { return deletedInside_; }

    static NTSTATUS NTAPI routine(PDEVICE_OBJECT, PIRP, PVOID context) {
        static_cast<CreateGate*>(context)->pass();
        return STATUS_MORE_PROCESSING_REQUIRED; // the sender frees the request
    }

  private:
    void pass() {
        std::unique_lock lock(lock_);
        ++held_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --held_;
        const auto info = kernel::Kernel::current().objects().device(card_);
        if (!info || info->deleted) {
            ++deletedInside_;
        }
    }

    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = true;
    int held_ = 0;
    PDEVICE_OBJECT card_ = nullptr;
    std::atomic<int> deletedInside_{0};
};

// A create or close request to the top of the card's stack, as the I/O manager sends it; with a
// gate, it waits inside the card's handler.
NTSTATUS sendCreateClose(PDEVICE_OBJECT pdo, UCHAR major, CreateGate* gate) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoGetNextIrpStackLocation(irp)->MajorFunction = major;
    if (gate != nullptr) {
        IoSetCompletionRoutine(irp, CreateGate::routine, gate, TRUE, TRUE, TRUE);
    }
    const NTSTATUS status = IoCallDriver(top, irp);
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    return status;
}

POWER_STATE systemState(SYSTEM_POWER_STATE s) {
    POWER_STATE state{};
    state.SystemState = s;
    return state;
}

POWER_STATE deviceState(DEVICE_POWER_STATE d) {
    POWER_STATE state{};
    state.DeviceState = d;
    return state;
}

class Races : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        CardConfig card;
        card.completeLater = GetParam();
        m.boot({card});
        card_ = m.cardInstance();
        ASSERT_EQ(m.ports().size(), 4u);
        // The stop or removal must not come back from the card while requests are held there.
        m.pnp.setEventSink([this](const Event& event) {
            const bool ending = event.text.rfind("IRP_MN_STOP_DEVICE", 0) == 0 ||
                                event.text.rfind("IRP_MN_REMOVE_DEVICE", 0) == 0;
            if (event.kind == "irp" && event.instance == card_ && ending && !released_) {
                ++early_;
            }
            // The card's removal disables its interface on its way to the wait.
            if (event.kind == "interface" && event.text.find("disabled") != std::string::npos) {
                interfaceDisabled_ = true;
            }
        });
    }

    void TearDown() override {
        pci::holdPower(false);
        gate_.open();
    }

    // One round: requests held inside the card, `action` started on its own thread, more
    // create/close requests beside it once `inside` tells that the action has reached the card,
    // then the held requests let go.
    void round(std::mt19937& random, const std::function<NTSTATUS()>& action,
               const std::function<bool()>& inside) {
        PDEVICE_OBJECT pdo = m.cardPdo();
        ASSERT_NE(pdo, nullptr);
        const int systemRequests = static_cast<int>(random() % 3);
        const int deviceRequests = static_cast<int>(random() % 3);
        const int creates = systemRequests + deviceRequests == 0
                                ? 1 + static_cast<int>(random() % 2)
                                : static_cast<int>(random() % 3);
        released_ = false;
        pci::holdPower(true);
        gate_.close(m.cardFdo());

        std::vector<std::thread> held;
        for (int i = 0; i < systemRequests; ++i) {
            const auto state = i % 2 == 0 ? PowerSystemSleeping3 : PowerSystemWorking;
            held.emplace_back([pdo, state] {
                const auto result = kernel::sendPowerSync(pdo, IRP_MN_SET_POWER, SystemPowerState,
                                                          systemState(state));
                EXPECT_EQ(result.Status, STATUS_SUCCESS);
            });
        }
        for (int i = 0; i < deviceRequests; ++i) {
            const auto state = i % 2 == 0 ? PowerDeviceD3 : PowerDeviceD0;
            held.emplace_back([pdo, state] {
                const auto result = kernel::sendPowerSync(pdo, IRP_MN_SET_POWER, DevicePowerState,
                                                          deviceState(state));
                EXPECT_EQ(result.Status, STATUS_SUCCESS);
            });
        }
        for (int i = 0; i < creates; ++i) {
            const UCHAR major = i % 2 == 0 ? IRP_MJ_CREATE : IRP_MJ_CLOSE;
            held.emplace_back([this, pdo, major] {
                EXPECT_EQ(sendCreateClose(pdo, major, &gate_), STATUS_INVALID_DEVICE_REQUEST);
            });
        }
        auto letGo = [&] {
            released_ = true;
            gate_.open();
            pci::holdPower(false);
            for (auto& t : held) {
                t.join();
            }
        };
        // Each system set-power request brings the device request the card asks for.
        if (!pci::waitPowerHeld(2 * systemRequests + deviceRequests, limit) ||
            !gate_.waitHeld(creates)) {
            letGo();
            ADD_FAILURE() << "the requests never reached the card's handlers";
            return;
        }

        NTSTATUS status = STATUS_PENDING;
        std::atomic<bool> done{false};
        std::thread acting([&] {
            status = action();
            done = true;
        });
        waitUntil([&] { return done || inside(); });
        // Every chance for the action to overtake the held requests (nothing waits on time).
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::vector<std::thread> beside;
        for (int t = 0; t < 2; ++t) {
            beside.emplace_back([pdo] {
                for (int i = 0; i < 20; ++i) {
                    EXPECT_EQ(
                        sendCreateClose(pdo, i % 2 == 0 ? IRP_MJ_CREATE : IRP_MJ_CLOSE, nullptr),
                        STATUS_INVALID_DEVICE_REQUEST);
                }
            });
        }
        for (auto& t : beside) {
            t.join();
        }

        letGo();
        acting.join();
        EXPECT_EQ(status, STATUS_SUCCESS);
    }

    static void waitUntil(const std::function<bool()>& ready) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!ready() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }

    Machine m;
    std::string card_;
    CreateGate gate_;
    std::atomic<bool> released_{true};
    std::atomic<int> early_{0};
    std::atomic<bool> interfaceDisabled_{false};
};

TEST_P(Races, StopWaitsForTheRequestsInsideTheCard) {
    std::mt19937 random(1234);
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i) {
        ASSERT_EQ(m.pnp.queryStop(card_), STATUS_SUCCESS);
        const std::size_t live = m.kernel.irps().liveIrps();
        // Inside once the stop request exists: it goes straight to the card.
        round(
            random, [&] { return m.pnp.stop(card_); },
            [&] { return m.kernel.irps().liveIrps() > live; });
        ASSERT_EQ(m.state(card_), "stopped");
        EXPECT_EQ(static_cast<PCARD_EXTENSION>(m.cardFdo()->DeviceExtension)->OutstandingIo, 1);
        ASSERT_EQ(m.pnp.startDevice(card_), STATUS_SUCCESS);
    }
    EXPECT_EQ(early_, 0);
    EXPECT_EQ(gate_.deletedInside(), 0);
    m.shutdownClean();
}

TEST_P(Races, RemovalDeletesNothingStillInUse) {
    std::mt19937 random(4321);
    for (int i = 0; i < 100 && !HasFatalFailure(); ++i) {
        ASSERT_EQ(m.pnp.queryRemove(card_), STATUS_SUCCESS);
        interfaceDisabled_ = false;
        round(
            random, [&] { return m.pnp.remove(card_); }, [&] { return interfaceDisabled_.load(); });
        ASSERT_EQ(m.state(card_), "removed");
        EXPECT_EQ(m.cardFdo(), nullptr);
        EXPECT_TRUE(m.ports().empty());
        // The PCI bus still reports the card: it comes back with its ports.
        ASSERT_EQ(m.pnp.reenumerate(pciBus), STATUS_SUCCESS);
        ASSERT_EQ(m.state(card_), "started");
        ASSERT_EQ(m.ports().size(), 4u);
    }
    EXPECT_EQ(early_, 0);
    EXPECT_EQ(gate_.deletedInside(), 0);
    m.shutdownClean();
}

INSTANTIATE_TEST_SUITE_P(PciCompletion, Races, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Later" : "AtOnce"; });

} // namespace

} // namespace winsim::pnp::test
