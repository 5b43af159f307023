// Requests to qtxusb64 below: opening and closing its pipes, its control codes, the vendor
// request that carries the port commands, and passing requests down.
#include <cstring>

#include "drivers/usbpipe/qtxusb.h"
#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

NTSTATUS SignalEvent(DEVICE_OBJECT*, IRP*, void* context) {
    KeSetEvent(static_cast<KEVENT*>(context), IO_NO_INCREMENT, false);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS SendCreateClose(VCOM_EXTENSION* ext, LowerPipe& pipe, UCHAR major) {
    KEVENT event(ext->dispatcher, NotificationEvent, false);
    auto irp = IoAllocateIrp(ext->lowerDevice->StackSize, false);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = major;
    next->FileObject = &pipe.file;
    pipe.file.DeviceObject = ext->lowerDevice;
    IoSetCompletionRoutine(irp.get(), SignalEvent, &event, true, true, true);
    IoCallDriver(ext->lowerDevice, irp.get());
    KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    return irp->IoStatus.Status;
}

}  // namespace

NTSTATUS OpenLowerPipe(VCOM_EXTENSION* ext, LowerPipe& pipe) {
    const NTSTATUS status = SendCreateClose(ext, pipe, IRP_MJ_CREATE);
    pipe.open = NT_SUCCESS(status);
    return status;
}

void CloseLowerPipe(VCOM_EXTENSION* ext, LowerPipe& pipe) {
    if (!pipe.open) return;
    SendCreateClose(ext, pipe, IRP_MJ_CLOSE);
    pipe.open = false;
}

NTSTATUS LowerIoctl(VCOM_EXTENSION* ext, LowerPipe* pipe, ULONG code, const void* in,
                    ULONG inLength, void* out, ULONG outLength, ULONG_PTR* returned) {
    KEVENT event(ext->dispatcher, NotificationEvent, false);
    IO_STATUS_BLOCK iosb;
    auto irp = IoBuildDeviceIoControlRequest(code, ext->lowerDevice, in, inLength, out, outLength,
                                             false, &event, &iosb);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp.get())->FileObject = pipe != nullptr ? &pipe->file : nullptr;
    IoCallDriver(ext->lowerDevice, irp.get());
    // Waited for even when not pending: the request is freed on return.
    KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    if (returned != nullptr) *returned = iosb.Information;
    return iosb.Status;
}

NTSTATUS SendVendorCommand(VCOM_EXTENSION* ext, usb::VendorCommand command,
                           std::initializer_list<UCHAR> arguments) {
    std::vector<UCHAR> packet = {usb::kVendorRequestType,
                                 usb::kVendorRequestNumber,
                                 0,
                                 0,
                                 0,
                                 0,
                                 static_cast<UCHAR>(arguments.size() + 1),
                                 0};
    packet.push_back(static_cast<UCHAR>(command));
    packet.insert(packet.end(), arguments.begin(), arguments.end());
    return LowerIoctl(ext, nullptr, usbpipe::IOCTL_QTXUSB_CONTROL_TRANSFER, packet.data(),
                      static_cast<ULONG>(packet.size()), nullptr, 0);
}

NTSTATUS ForwardAndWait(VCOM_EXTENSION* ext, IRP* irp) {
    KEVENT event(ext->dispatcher, NotificationEvent, false);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalEvent, &event, true, true, true);
    if (IoCallDriver(ext->lowerDevice, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    }
    return irp->IoStatus.Status;
}

NTSTATUS PassDown(VCOM_EXTENSION* ext, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lowerDevice, irp);
}

std::unique_ptr<IRP> BuildLowerRead(VCOM_EXTENSION* ext, LowerPipe& pipe, UCHAR* buffer,
                                    ULONG length, IO_STATUS_BLOCK* iosb) {
    auto irp =
        IoBuildAsynchronousFsdRequest(IRP_MJ_READ, ext->lowerDevice, buffer, length, nullptr, iosb);
    if (irp) IoGetNextIrpStackLocation(irp.get())->FileObject = &pipe.file;
    return irp;
}

std::unique_ptr<IRP> BuildLowerWrite(VCOM_EXTENSION* ext, const UCHAR* data, ULONG length,
                                     IO_STATUS_BLOCK* iosb) {
    auto irp = IoBuildDeviceIoControlRequest(usbpipe::IOCTL_QTXUSB_WRITE, ext->lowerDevice, data,
                                             length, nullptr, 0, false, nullptr, iosb);
    if (irp) IoGetNextIrpStackLocation(irp.get())->FileObject = &ext->txPipe.file;
    return irp;
}

void CompleteAll(Completions& list) {
    for (const Completion& c : list) CompleteRequest(c.irp, c.status, c.information);
    list.clear();
}

NTSTATUS CompleteRequest(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    if (status == STATUS_CANCELLED) {
        // A cancel routine this path took the request from may still be reading it under the
        // cancel lock: the request is completed (and may be freed) only once it has let go.
        KIRQL irql = PASSIVE_LEVEL;
        IoAcquireCancelSpinLock(&irql);
        IoReleaseCancelSpinLock(irql);
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
    return status;
}

bool ClaimFromCancel(IRP* irp) {
    return IoSetCancelRoutine(irp, nullptr) != nullptr;
}

}  // namespace ys::vcom
