// `power sleep` and `power wake`: a sleep and wake cycle of a four-port card in a script, a
// transition from the command line, and a state that does not exist.

#include "qelsim_process.h"

#include <gtest/gtest.h>

namespace qelsim_test {
namespace {

const std::string port0 = "QEL_CARD\\SERIAL\\020D0000";

std::string machineWithCard(const Scratch& scratch) {
    const std::string machine = scratch / "m";
    EXPECT_EQ(qelsim({"--machine", machine, "init"}).exitCode, 0);
    EXPECT_EQ(qelsim({"--machine", machine, "card", "add", "--ports", "4"}).exitCode, 0);
    return machine;
}

void expectLines(const std::string& out, std::initializer_list<const char*> lines) {
    for (const char* line : lines) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
}

TEST(Power, SleepAndWakeOfAFourPortCard) {
    Scratch scratch;
    const std::string machine = machineWithCard(scratch);
    writeFile(scratch / "cycle.txt", "power sleep S3\n"
                                     "power wake\n"
                                     "devices --json\n");
    const Result run = qelsim({"--machine", machine, "run", scratch / "cycle.txt"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::size_t wake = run.out.find("power wake: STATUS_SUCCESS; the machine is working");
    ASSERT_NE(wake, std::string::npos) << run.out;
    const std::string sleep = run.out.substr(0, wake);
    expectLines(sleep, {"power sleep S3: STATUS_SUCCESS; the machine is in PowerSystemSleeping3",
                        "QEL_CARD\\SERIAL\\020D0000: system PowerSystemSleeping3, device "
                        "PowerDeviceD3",
                        "IRP_MN_QUERY_POWER PowerSystemSleeping3   STATUS_SUCCESS",
                        "IRP_MN_SET_POWER   PowerDeviceD3          STATUS_SUCCESS  (asked for by "
                        "a driver)"});
    expectLines(run.out.substr(wake),
                {"QEL_CARD\\SERIAL\\020D0003: system PowerSystemWorking, device PowerDeviceD0",
                 "IRP_MN_SET_POWER   PowerSystemWorking     STATUS_SUCCESS"});

    const auto ports = portDevices(jsonIn(run.out));
    ASSERT_EQ(ports.size(), 4u);
    for (const auto& [instance, port] : ports) {
        EXPECT_EQ(port["power"]["system"], "PowerSystemWorking") << instance;
        EXPECT_EQ(port["power"]["device"], "PowerDeviceD0") << instance;
    }
}

TEST(Power, HibernateFromTheCommandLine) {
    Scratch scratch;
    const std::string machine = machineWithCard(scratch);
    const Result run = qelsim({"--machine", machine, "power", "sleep", "hibernate"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    expectLines(run.out, {"Going to PowerSystemHibernate: query-power to every device",
                          "power sleep hibernate: STATUS_SUCCESS; the machine is in "
                          "PowerSystemHibernate",
                          "system PowerSystemHibernate, device PowerDeviceD3"});
}

TEST(Power, UnknownStateIsBadInput) {
    Scratch scratch;
    const std::string machine = machineWithCard(scratch);
    const Result run = qelsim({"--machine", machine, "power", "sleep", "S4"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("\"S4\" is no sleep state"), std::string::npos) << run.err;
}

} // namespace
} // namespace qelsim_test
