// `qelsim demo`: the story a newcomer reads first.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

TEST(Demo, TellsTheCardsLifeFromDriverLoadToBalancedRemoval) {
    const Result demo = qelsim({"demo"});
    ASSERT_EQ(demo.exitCode, 0) << demo.out << demo.err;
    EXPECT_EQ(demo.err, "");
    const std::vector<std::string> told{
        "PCI bus 2, device 13, function 0",
        "I/O range from 0x0300, IRQ 5",
        "\"PORTS\" = 4 (REG_DWORD)",
        "QEL_CARD\\SERIAL\\020D0000",
        "QEL_CARD\\SERIAL\\020D0003",
        // port 2: its block of 8 registers, the card's shared register and interrupt
        "registers 0x0310-0x0317, shared register 0x0304, interrupt level 5 vector 5",
        "The card is removed",
        "Everything the driver took was given back",
    };
    for (const std::string& text : told) {
        EXPECT_NE(demo.out.find(text), std::string::npos) << "missing: " << text << "\n"
                                                          << demo.out;
    }
    EXPECT_EQ(demo.out.find("QEL_CARD\\SERIAL\\020D0004"), std::string::npos);
}

TEST(Demo, TwoPortCardHasNoSharedRegister) {
    const Result demo = qelsim({"demo", "--ports", "2"});
    ASSERT_EQ(demo.exitCode, 0) << demo.out << demo.err;
    EXPECT_NE(demo.out.find("\"PORTS\" = 2"), std::string::npos) << demo.out;
    EXPECT_NE(demo.out.find("registers 0x0308-0x030F, shared register none"), std::string::npos)
        << demo.out;
    EXPECT_EQ(demo.out.find("QEL_CARD\\SERIAL\\020D0002"), std::string::npos);
}

} // namespace
} // namespace qelsim_test
