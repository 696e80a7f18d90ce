// What a session does at shutdown when the machine misbehaved: the problem is told, the exit is
// a failure, and the machine folder keeps its state from before the boot.

#include "qelsim_process.h"
#include "session.h"

#include "cli.h"
#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qelsim_test {
namespace {

TEST(Shutdown, LeakIsToldAndNothingIsSaved) {
    Scratch scratch;
    const std::string machine = scratch / "m";
    ASSERT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0);
    ASSERT_EQ(qelsim({"--machine", machine, "card", "add"}).exitCode, 0);
    const auto before = snapshot(scratch.path());

    std::ostringstream out;
    std::ostringstream err;
    qelsim::Narrator narrator(out);
    narrator.setSilent(true);
    qelsim::Session session(winsim::machine::Machine::open(machine), narrator, out, err);
    // A block nobody frees, as a leaking driver would leave it.
    ASSERT_NE(ExAllocatePoolWithTag(PagedPool, 24, winsim::kernel::makeTag("Leak")), nullptr);

    EXPECT_EQ(session.finish(true), qelsim::exit_failed);
    EXPECT_NE(err.str().find("PoolLeak"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("'Leak'"), std::string::npos) << err.str();
    EXPECT_NE(out.str().find("1 still allocated"), std::string::npos) << out.str();
    EXPECT_EQ(snapshot(scratch.path()), before);
}

// Two cards whose instance IDs come out equal (the ID keeps only the low 8 bits of the bus
// number) make Plug and Play see a duplicate device: Windows stops with a bug check.
TEST(Shutdown, CrashIsToldWithItsStopTextAndNothingIsSaved) {
    Scratch scratch;
    const std::string machine = scratch / "m";
    ASSERT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0);
    ASSERT_EQ(qelsim({"--machine", machine, "card", "add", "--ports", "1"}).exitCode, 0);
    ASSERT_EQ(qelsim({"--machine", machine, "card", "add", "--ports", "1", "--location",
                      "PCI bus 258, device 13, function 0"})
                  .exitCode,
              0);
    const auto before = snapshot(scratch.path());

    for (const char* command : {"boot", "devices"}) {
        const Result result = qelsim({"--machine", machine, command});
        EXPECT_EQ(result.exitCode, 3) << command;
        EXPECT_NE(result.err.find("STOP 0x000000CA"), std::string::npos) << result.err;
        EXPECT_EQ(snapshot(scratch.path()), before) << command;
    }
}

} // namespace
} // namespace qelsim_test
