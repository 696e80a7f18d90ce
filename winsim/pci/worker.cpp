// Requests that the driver finishes later run on the kernel's worker threads.
#include "pci/pci_internal.h"

#include "kernel/kernel.h"

namespace winsim::pci {

void runOnWorker(std::function<void()> work) {
    kernel::Kernel::current().work().post(std::move(work));
}

} // namespace winsim::pci
