#include "kernel/kernel.h"

#include "registry/registry.h"

#include <cstdio>
#include <cstdlib>

namespace winsim::kernel {

std::atomic<Kernel*> Kernel::current_{nullptr};

Kernel::Kernel(KernelOptions options)
    : options_(options), pool_(verifier_), dispatcher_(verifier_, options.deadlockLimit),
      objects_(verifier_), irps_(verifier_, objects_, dispatcher_),
      ownRegistry_(options.registry == nullptr ? std::make_unique<reg::Registry>() : nullptr),
      registry_(options.registry != nullptr ? options.registry : ownRegistry_.get()),
      interfaces_(std::make_unique<DeviceInterfaces>(*registry_)), handles_(verifier_),
      work_(options.maxWorkerThreads), power_(objects_, irps_, work_) {
    verifier_.setPrint(options.printViolations);
    Kernel* expected = nullptr;
    if (!current_.compare_exchange_strong(expected, this)) {
        std::fprintf(stderr, "winsim: a second Kernel was created while one exists\n");
        std::abort();
    }
}

Kernel::~Kernel() {
    shutdown();
    current_.store(nullptr);
}

Kernel& Kernel::current() {
    Kernel* k = current_.load();
    if (k == nullptr) {
        std::fprintf(stderr, "winsim: a kernel routine was called while no Kernel exists\n");
        std::abort();
    }
    return *k;
}

Kernel* Kernel::currentOrNull() {
    return current_.load();
}

void Kernel::shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    work_.shutdown();
    if (options_.reportLeaksAtShutdown) {
        const std::string context = "at shutdown";
        objects_.reportLeaks(nullptr, context);
        irps_.reportLeaks(context);
        pool_.reportLeaks(nullptr, true, context);
        handles_.reportLeaks(nullptr, true, context);
    }
}

} // namespace winsim::kernel
