// The executive's routines of <wdm.h>: pool and fast mutexes.
#include "kernel/call_frames.h"
#include "kernel/kernel.h"

using winsim::kernel::Kernel;

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    Kernel& k = Kernel::current();
    if (k.faults().shouldFail(winsim::kernel::fault_call::ExAllocatePoolWithTag, Tag)) {
        return nullptr;
    }
    return k.pool().allocate(PoolType, NumberOfBytes, Tag, winsim::kernel::currentDriver());
}

PVOID NTAPI ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes) {
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, winsim::kernel::tagNone);
}

VOID NTAPI ExFreePool(PVOID P) {
    Kernel::current().pool().free(P, std::nullopt);
}

VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag) {
    Kernel::current().pool().free(P, Tag);
}

VOID NTAPI ExInitializeFastMutex(PFAST_MUTEX FastMutex) {
    Kernel::current().dispatcher().initMutex(FastMutex);
}

VOID FASTCALL ExAcquireFastMutex(PFAST_MUTEX FastMutex) {
    Kernel::current().dispatcher().acquire(FastMutex);
}

VOID FASTCALL ExReleaseFastMutex(PFAST_MUTEX FastMutex) {
    Kernel::current().dispatcher().release(FastMutex);
}

} // extern "C"
