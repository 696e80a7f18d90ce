// The I/O manager's routines of <wdm.h>: device objects, device stacks, IRPs and stack
// locations; and the object manager's reference counts.
#include "kernel/call_frames.h"
#include "kernel/kernel.h"
#include "kernel/wide.h"

using winsim::kernel::Check;
using winsim::kernel::Kernel;
namespace fault_call = winsim::kernel::fault_call;

extern "C" {

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                              PUNICODE_STRING DeviceName, ULONG DeviceType,
                              ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                              PDEVICE_OBJECT* DeviceObject) {
    Kernel& k = Kernel::current();
    *DeviceObject = nullptr;
    if (const auto failure = k.faults().shouldFail(fault_call::IoCreateDevice)) {
        return *failure;
    }
    winsim::kernel::DriverRecord* driver = k.objects().driverRecord(DriverObject);
    if (driver == nullptr) {
        k.verifier().report(Check::UnknownObject, "IoCreateDevice with an unknown driver object");
        return STATUS_INVALID_PARAMETER;
    }
    std::optional<std::string> name;
    if (DeviceName != nullptr && DeviceName->Buffer != nullptr) {
        name = winsim::kernel::narrow(*DeviceName);
    }
    return k.objects().createDevice(driver, DeviceExtensionSize, name, DeviceType,
                                    DeviceCharacteristics, Exclusive != FALSE, DeviceObject);
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    Kernel& k = Kernel::current();
    const auto before = k.objects().device(DeviceObject);
    k.objects().deleteDevice(DeviceObject);
    if (before && !before->deleted) {
        if (auto* bridge = k.pnpBridge()) {
            bridge->deviceDeleted(DeviceObject);
        }
    }
}

PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                                 PDEVICE_OBJECT TargetDevice) {
    Kernel& k = Kernel::current();
    if (k.faults().shouldFail(fault_call::IoAttachDeviceToDeviceStack)) {
        return nullptr;
    }
    return k.objects().attach(SourceDevice, TargetDevice);
}

VOID NTAPI IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
    Kernel::current().objects().detach(TargetDevice);
}

PDEVICE_OBJECT NTAPI IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject) {
    return Kernel::current().objects().attachedReference(DeviceObject);
}

VOID FASTCALL ObfReferenceObject(PVOID Object) {
    Kernel::current().objects().reference(Object);
}

VOID FASTCALL ObfDereferenceObject(PVOID Object) {
    Kernel::current().objects().dereference(Object);
}

PIRP NTAPI IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota) {
    (void)ChargeQuota;
    Kernel& k = Kernel::current();
    if (k.faults().shouldFail(fault_call::IoAllocateIrp)) {
        return nullptr;
    }
    return k.irps().allocate(StackSize);
}

VOID NTAPI IoFreeIrp(PIRP Irp) {
    Kernel::current().irps().free(Irp);
}

PIRP NTAPI IoBuildSynchronousFsdRequest(ULONG MajorFunction, PDEVICE_OBJECT DeviceObject,
                                        PVOID Buffer, ULONG Length, PLARGE_INTEGER StartingOffset,
                                        PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
    Kernel& k = Kernel::current();
    if (k.faults().shouldFail(fault_call::IoBuildSynchronousFsdRequest)) {
        return nullptr;
    }
    if (!k.objects().isLive(DeviceObject)) {
        k.verifier().report(Check::UnknownObject,
                            "IoBuildSynchronousFsdRequest for an unknown device object");
        return nullptr;
    }
    PIRP irp = k.irps().allocate(DeviceObject->StackSize);
    if (irp == nullptr) {
        return nullptr;
    }
    PIO_STACK_LOCATION next = k.irps().next(irp);
    next->MajorFunction = static_cast<UCHAR>(MajorFunction);
    if (MajorFunction == IRP_MJ_READ || MajorFunction == IRP_MJ_WRITE) {
        next->Parameters.Read.Length = Length;
        next->Parameters.Read.ByteOffset.QuadPart =
            StartingOffset != nullptr ? StartingOffset->QuadPart : 0;
        irp->UserBuffer = Buffer;
        irp->AssociatedIrp.SystemBuffer = Buffer;
    }
    irp->UserEvent = Event;
    irp->UserIosb = IoStatusBlock;
    irp->RequestorMode = KernelMode;
    k.irps().setIoManagerOwned(irp);
    return irp;
}

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    return Kernel::current().irps().call(DeviceObject, Irp);
}

VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
    (void)PriorityBoost;
    Kernel::current().irps().complete(Irp);
}

PIO_STACK_LOCATION NTAPI IoGetCurrentIrpStackLocation(PIRP Irp) {
    return Irp->Tail.Overlay.CurrentStackLocation;
}

PIO_STACK_LOCATION NTAPI IoGetNextIrpStackLocation(PIRP Irp) {
    return Kernel::current().irps().next(Irp);
}

VOID NTAPI IoSkipCurrentIrpStackLocation(PIRP Irp) {
    Kernel::current().irps().skip(Irp);
}

VOID NTAPI IoCopyCurrentIrpStackLocationToNext(PIRP Irp) {
    Kernel::current().irps().copyToNext(Irp);
}

VOID NTAPI IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                                  BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError,
                                  BOOLEAN InvokeOnCancel) {
    Kernel::current().irps().setCompletion(Irp, CompletionRoutine, Context,
                                           InvokeOnSuccess != FALSE, InvokeOnError != FALSE,
                                           InvokeOnCancel != FALSE);
}

VOID NTAPI IoMarkIrpPending(PIRP Irp) {
    Kernel::current().irps().markPending(Irp);
}

} // extern "C"
