// The symbolic-link routines of <wdm.h>: names in the DOS device directory for device objects,
// as a serial driver gives its port a COM name.
#include "kernel/kernel.h"
#include "kernel/wide.h"

using winsim::kernel::Check;
using winsim::kernel::Kernel;
using winsim::kernel::SymbolicLinks;

extern "C" {

NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
    Kernel& k = Kernel::current();
    if (SymbolicLinkName == nullptr || SymbolicLinkName->Buffer == nullptr ||
        DeviceName == nullptr || DeviceName->Buffer == nullptr) {
        k.verifier().report(Check::InvalidCall, "IoCreateSymbolicLink without a name or target");
        return STATUS_INVALID_PARAMETER;
    }
    const auto name = SymbolicLinks::dosName(winsim::kernel::narrow(*SymbolicLinkName));
    if (!name) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    return k.symbolicLinks().create(*name, winsim::kernel::narrow(*DeviceName))
               ? STATUS_SUCCESS
               : STATUS_OBJECT_NAME_COLLISION;
}

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    Kernel& k = Kernel::current();
    if (SymbolicLinkName == nullptr || SymbolicLinkName->Buffer == nullptr) {
        k.verifier().report(Check::InvalidCall, "IoDeleteSymbolicLink without a name");
        return STATUS_INVALID_PARAMETER;
    }
    const auto name = SymbolicLinks::dosName(winsim::kernel::narrow(*SymbolicLinkName));
    if (!name || !k.symbolicLinks().removeAll(*name)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return STATUS_SUCCESS;
}

} // extern "C"
