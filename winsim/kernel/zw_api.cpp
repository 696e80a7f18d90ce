// The registry routines of <wdm.h>. Callers are kernel-mode, so, as on Windows, a handle's
// granted access is not checked against the operation.
#include "kernel/kernel.h"
#include "kernel/wide.h"
#include "registry/key.h"

using winsim::kernel::Check;
using winsim::kernel::Kernel;
namespace fault_call = winsim::kernel::fault_call;

extern "C" {

NTSTATUS NTAPI ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex,
                             ULONG Type, PVOID Data, ULONG DataSize) {
    (void)TitleIndex;
    Kernel& k = Kernel::current();
    if (const auto failure = k.faults().shouldFail(fault_call::ZwSetValueKey)) {
        return *failure;
    }
    const auto key = k.handles().key(KeyHandle, "ZwSetValueKey");
    if (!key) {
        return STATUS_INVALID_HANDLE;
    }
    if (ValueName == nullptr || (DataSize > 0 && Data == nullptr)) {
        k.verifier().report(Check::InvalidCall, "ZwSetValueKey without a name or data");
        return STATUS_INVALID_PARAMETER;
    }
    if (!winsim::kernel::isLatin1(*ValueName)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(Data);
    const auto status = key->set_value(winsim::kernel::narrow(*ValueName), Type,
                                       std::span<const std::uint8_t>(bytes, DataSize));
    return static_cast<NTSTATUS>(winsim::reg::to_ntstatus(status));
}

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    return Kernel::current().handles().close(Handle);
}

} // extern "C"
