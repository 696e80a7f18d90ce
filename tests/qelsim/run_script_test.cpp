// `run`: one boot, then the script's commands and Plug and Play actions on the running machine.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

TEST(RunScript, PnpActionsChangeTheRunningMachine) {
    Scratch scratch;
    const std::string machine = scratch / "m";
    ASSERT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0);
    ASSERT_EQ(qelsim({"--machine", machine, "card", "add"}).exitCode, 0);
    writeFile(scratch / "script.txt",
              "# rebalance port 1, then pull port 3 out\n"
              "\n"
              "pnp query-stop QEL_CARD\\SERIAL\\020D0001\n"
              "pnp stop qel_card\\serial\\020d0001   # instance paths match in any case\n"
              "pnp start QEL_CARD\\SERIAL\\020D0001\n"
              "  pnp surprise-remove QEL_CARD\\SERIAL\\020D0003\n"
              "reg export \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter\"\n"
              "devices --json\n");
    const Result run = qelsim({"--machine", machine, "run", scratch / "script.txt"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const char* text : {"pnp query-stop QEL_CARD\\SERIAL\\020D0001: STATUS_SUCCESS",
                             "pnp stop QEL_CARD\\SERIAL\\020D0001: STATUS_SUCCESS",
                             "pnp start QEL_CARD\\SERIAL\\020D0001: STATUS_SUCCESS",
                             "pnp surprise-remove QEL_CARD\\SERIAL\\020D0003: STATUS_SUCCESS",
                             "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\COM Name "
                             "Arbiter]"}) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
    const auto ports = portDevices(jsonIn(run.out));
    EXPECT_EQ(ports.at("QEL_CARD\\SERIAL\\020D0001")["state"], "started");
    EXPECT_EQ(ports.at("QEL_CARD\\SERIAL\\020D0000")["state"], "started");
    EXPECT_EQ(ports.count("QEL_CARD\\SERIAL\\020D0003") == 0 ||
                  ports.at("QEL_CARD\\SERIAL\\020D0003")["state"] != "started",
              true);
}

} // namespace
} // namespace qelsim_test
