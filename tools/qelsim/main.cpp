// qelsim: boots a simulated Windows XP machine with PCI serial cards and tells what happens.

#include "cli.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
    // A reader that goes away early (`qelsim demo | head`) must not kill qelsim before it has
    // cleaned up: writes then just fail.
    std::signal(SIGPIPE, SIG_IGN);
    return qelsim::runCommandLine(argc, argv, std::cout, std::cerr);
}
