// The kernel's routines of <wdm.h>: events, waits, IRQL and bug checks.
#include "kernel/kernel.h"

#include <cstdio>
#include <string>

using winsim::kernel::Check;
using winsim::kernel::Kernel;

extern "C" {

VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    Kernel::current().dispatcher().initEvent(Event, Type, State != FALSE);
}

LONG NTAPI KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
    (void)Increment;
    (void)Wait;
    return Kernel::current().dispatcher().setEvent(Event);
}

VOID NTAPI KeClearEvent(PRKEVENT Event) {
    Kernel::current().dispatcher().resetEvent(Event);
}

LONG NTAPI KeResetEvent(PRKEVENT Event) {
    return Kernel::current().dispatcher().resetEvent(Event);
}

LONG NTAPI KeReadStateEvent(PRKEVENT Event) {
    return Kernel::current().dispatcher().readEvent(Event);
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                     KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                     PLARGE_INTEGER Timeout) {
    (void)WaitReason;
    (void)WaitMode;
    (void)Alertable;
    return Kernel::current().dispatcher().wait(static_cast<PKEVENT>(Object), Timeout);
}

KIRQL NTAPI KeGetCurrentIrql(VOID) {
    return PASSIVE_LEVEL;
}

VOID NTAPI KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3,
                        ULONG_PTR P4) {
    char text[160];
    std::snprintf(text, sizeof text, "KeBugCheckEx(0x%08X, 0x%zX, 0x%zX, 0x%zX, 0x%zX)",
                  static_cast<unsigned>(BugCheckCode), static_cast<size_t>(P1),
                  static_cast<size_t>(P2), static_cast<size_t>(P3), static_cast<size_t>(P4));
    Kernel::current().verifier().fatal(Check::BugCheck, text);
}

VOID NTAPI WinsimAssertPageable(const char* Function) {
    if (KeGetCurrentIrql() > APC_LEVEL) {
        Kernel::current().verifier().report(
            Check::WrongIrql, std::string("pageable routine ") + Function + " ran above APC_LEVEL");
    }
}

} // extern "C"
