#include "drivers/kernel/irp.h"

#include <algorithm>
#include <cstring>

#include "drivers/kernel/device.h"

namespace ys::kernel {

namespace {

KSPIN_LOCK g_cancelLock;

// The I/O manager's end of a request: results to the requester, then the event last, because
// the requester may free the request as soon as the event is signalled.
void FinishRequest(IRP* irp) {
    if (irp->owner.finished.exchange(true)) KeBugCheck("request completed twice");
    const NTSTATUS status = irp->IoStatus.Status;
    if (!irp->owner.copyBackTo.empty() && NT_SUCCESS(status)) {
        const std::size_t n =
            std::min<std::size_t>(irp->IoStatus.Information, irp->owner.copyBackTo.size());
        if (n > 0) {
            std::memcpy(irp->owner.copyBackTo.data(), irp->owner.systemBuffer.data(), n);
        }
    }
    if (irp->UserIosb != nullptr) *irp->UserIosb = irp->IoStatus;
    KEVENT* const event = irp->UserEvent;
    if (irp->owner.onFinished) irp->owner.onFinished(*irp);
    if (event != nullptr) KeSetEvent(event, IO_NO_INCREMENT, false);
}

void SetBuffers(IRP* irp, DEVICE_OBJECT* device, void* buffer, ULONG length, bool output) {
    if (device->Flags & DO_BUFFERED_IO) {
        irp->owner.systemBuffer.assign(length, 0);
        if (!output && length > 0) std::memcpy(irp->owner.systemBuffer.data(), buffer, length);
        irp->AssociatedIrp.SystemBuffer = irp->owner.systemBuffer.data();
        if (output) irp->owner.copyBackTo = {static_cast<UCHAR*>(buffer), length};
    } else if (device->Flags & DO_DIRECT_IO) {
        if (length > 0) {
            irp->owner.mdl = IoAllocateMdl(buffer, length);
            irp->MdlAddress = irp->owner.mdl.get();
        }
    } else {
        irp->UserBuffer = buffer;
    }
}

}  // namespace

std::unique_ptr<MDL> IoAllocateMdl(void* virtualAddress, ULONG length) {
    auto mdl = std::make_unique<MDL>();
    mdl->StartVa = static_cast<UCHAR*>(virtualAddress);
    mdl->ByteCount = length;
    return mdl;
}

void IoBuildPartialMdl(MDL* source, MDL* target, void* virtualAddress, ULONG length) {
    UCHAR* const va = static_cast<UCHAR*>(virtualAddress);
    if (va < source->StartVa || va + length > source->StartVa + source->ByteCount) {
        KeBugCheck("partial MDL outside its source");
    }
    target->StartVa = va;
    target->ByteCount = length;
}

IRP::IRP(CCHAR stackSize)
    : StackCount(stackSize),
      CurrentLocation(static_cast<CCHAR>(stackSize + 1)),
      stack_(static_cast<std::size_t>(std::max<int>(stackSize, 0))) {}

IO_STACK_LOCATION& IRP::Location(int n) {
    if (n < 1 || n > StackCount) KeBugCheck("stack location out of range");
    return stack_[static_cast<std::size_t>(n - 1)];
}

std::unique_ptr<IRP> IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
    return std::make_unique<IRP>(stackSize);
}

void IoReuseIrp(IRP* irp, NTSTATUS status) {
    for (int n = 1; n <= irp->StackCount; ++n) irp->Location(n) = IO_STACK_LOCATION{};
    irp->CurrentLocation = static_cast<CCHAR>(irp->StackCount + 1);
    irp->IoStatus = IO_STATUS_BLOCK{status, 0};
    irp->PendingReturned = false;
    irp->Cancel = false;
    irp->CancelRoutine = nullptr;
    irp->owner.finished = false;
}

IO_STACK_LOCATION* IoGetCurrentIrpStackLocation(IRP* irp) {
    return &irp->Location(irp->CurrentLocation);
}

IO_STACK_LOCATION* IoGetNextIrpStackLocation(IRP* irp) {
    return &irp->Location(irp->CurrentLocation - 1);
}

void IoSkipCurrentIrpStackLocation(IRP* irp) {
    ++irp->CurrentLocation;
}

void IoSetNextIrpStackLocation(IRP* irp) {
    --irp->CurrentLocation;
}

void IoCopyCurrentIrpStackLocationToNext(IRP* irp) {
    IO_STACK_LOCATION* cur = IoGetCurrentIrpStackLocation(irp);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    *next = *cur;
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
    next->Control = 0;
}

void IoMarkIrpPending(IRP* irp) {
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}

void IoSetCompletionRoutine(IRP* irp, PIO_COMPLETION_ROUTINE routine, void* context,
                            BOOLEAN onSuccess, BOOLEAN onError, BOOLEAN onCancel) {
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (onSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (onError) next->Control |= SL_INVOKE_ON_ERROR;
    if (onCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

NTSTATUS IoCallDriver(DEVICE_OBJECT* device, IRP* irp) {
    if (irp->CurrentLocation <= 1) KeBugCheck("no more stack locations");
    --irp->CurrentLocation;
    IO_STACK_LOCATION* loc = IoGetCurrentIrpStackLocation(irp);
    loc->DeviceObject = device;
    if (device->DeviceExtension == nullptr && device->deleted()) {
        KeBugCheck("request sent to a deleted device");
    }
    return device->DriverObject->MajorFunction[loc->MajorFunction](device, irp);
}

void IoCompleteRequest(IRP* irp, CCHAR) {
    if (irp->IoStatus.Status == STATUS_PENDING) KeBugCheck("request completed with STATUS_PENDING");
    if (irp->CurrentLocation > irp->StackCount + 1) KeBugCheck("request completed twice");
    while (irp->CurrentLocation <= irp->StackCount) {
        IO_STACK_LOCATION* loc = IoGetCurrentIrpStackLocation(irp);
        const PIO_COMPLETION_ROUTINE routine = loc->CompletionRoutine;
        void* const context = loc->Context;
        const UCHAR control = loc->Control;
        irp->PendingReturned = (control & SL_PENDING_RETURNED) != 0;
        loc->CompletionRoutine = nullptr;
        loc->Context = nullptr;
        loc->Control = 0;
        ++irp->CurrentLocation;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke =
            routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                   (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                   (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        const bool atTop = irp->CurrentLocation > irp->StackCount;
        if (invoke) {
            DEVICE_OBJECT* upper =
                atTop ? nullptr : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
            if (routine(upper, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (irp->PendingReturned && !atTop) {
            IoMarkIrpPending(irp);
        }
    }
    FinishRequest(irp);
}

PDRIVER_CANCEL IoSetCancelRoutine(IRP* irp, PDRIVER_CANCEL routine) {
    return irp->CancelRoutine.exchange(routine);
}

void IoAcquireCancelSpinLock(KIRQL* irql) {
    KeAcquireSpinLock(&g_cancelLock, irql);
}
void IoReleaseCancelSpinLock(KIRQL irql) {
    KeReleaseSpinLock(&g_cancelLock, irql);
}

BOOLEAN IoCancelIrp(IRP* irp) {
    KIRQL irql = PASSIVE_LEVEL;
    IoAcquireCancelSpinLock(&irql);
    irp->Cancel = true;
    const PDRIVER_CANCEL routine = irp->CancelRoutine.exchange(nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return false;
    }
    irp->CancelIrql = irql;
    DEVICE_OBJECT* device = irp->CurrentLocation <= irp->StackCount
                                ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                : nullptr;
    routine(device, irp);
    return true;
}

std::unique_ptr<IRP> IoBuildDeviceIoControlRequest(ULONG code, DEVICE_OBJECT* device,
                                                   const void* in, ULONG inLength, void* out,
                                                   ULONG outLength, BOOLEAN internal, KEVENT* event,
                                                   IO_STATUS_BLOCK* ioStatus) {
    auto irp = IoAllocateIrp(device->StackSize, false);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outLength;
    switch (METHOD_FROM_CTL_CODE(code)) {
        case METHOD_BUFFERED:
            irp->owner.systemBuffer.assign(std::max(inLength, outLength), 0);
            if (inLength > 0) std::memcpy(irp->owner.systemBuffer.data(), in, inLength);
            if (!irp->owner.systemBuffer.empty()) {
                irp->AssociatedIrp.SystemBuffer = irp->owner.systemBuffer.data();
            }
            if (outLength > 0) irp->owner.copyBackTo = {static_cast<UCHAR*>(out), outLength};
            break;
        case METHOD_IN_DIRECT:
        case METHOD_OUT_DIRECT:
            irp->owner.systemBuffer.assign(inLength, 0);
            if (inLength > 0) {
                std::memcpy(irp->owner.systemBuffer.data(), in, inLength);
                irp->AssociatedIrp.SystemBuffer = irp->owner.systemBuffer.data();
            }
            if (outLength > 0) {
                irp->owner.mdl = IoAllocateMdl(out, outLength);
                irp->MdlAddress = irp->owner.mdl.get();
            }
            break;
        default:
            next->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(in);
            irp->UserBuffer = out;
            break;
    }
    irp->UserEvent = event;
    irp->UserIosb = ioStatus;
    return irp;
}

std::unique_ptr<IRP> IoBuildAsynchronousFsdRequest(ULONG major, DEVICE_OBJECT* device, void* buffer,
                                                   ULONG length, const LARGE_INTEGER* offset,
                                                   IO_STATUS_BLOCK* ioStatus) {
    auto irp = IoAllocateIrp(device->StackSize, false);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = static_cast<UCHAR>(major);
    if (major == IRP_MJ_READ || major == IRP_MJ_WRITE) {
        SetBuffers(irp.get(), device, buffer, length, major == IRP_MJ_READ);
        auto& p = major == IRP_MJ_READ ? next->Parameters.Read : next->Parameters.Write;
        p.Length = length;
        if (offset != nullptr) p.ByteOffset = *offset;
    }
    irp->UserIosb = ioStatus;
    return irp;
}

std::unique_ptr<IRP> IoBuildSynchronousFsdRequest(ULONG major, DEVICE_OBJECT* device, void* buffer,
                                                  ULONG length, const LARGE_INTEGER* offset,
                                                  KEVENT* event, IO_STATUS_BLOCK* ioStatus) {
    auto irp = IoBuildAsynchronousFsdRequest(major, device, buffer, length, offset, ioStatus);
    irp->UserEvent = event;
    return irp;
}

}  // namespace ys::kernel
