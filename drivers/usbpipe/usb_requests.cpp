// Synchronous requests to the bus driver below: USB request blocks, port requests, pipe reset and
// abort, and passing a request down to wait for it.
#include "drivers/usbpipe/device_extension.h"

namespace ys::usbpipe {

namespace {

NTSTATUS SignalEvent(DEVICE_OBJECT*, IRP*, void* context) {
    KeSetEvent(static_cast<KEVENT*>(context), IO_NO_INCREMENT, false);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS SendInternal(DEVICE_EXTENSION* ext, ULONG code, void* argument) {
    KEVENT event(ext->self->kernel().dispatcher(), NotificationEvent, false);
    IO_STATUS_BLOCK ioStatus;
    auto irp = IoBuildDeviceIoControlRequest(code, ext->lowerDevice, nullptr, 0, nullptr, 0, true,
                                             &event, &ioStatus);
    IoGetNextIrpStackLocation(irp.get())->Parameters.Others.Argument1 = argument;
    IoCallDriver(ext->lowerDevice, irp.get());
    // Waited for even when not pending: the request is freed on return.
    KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    return ioStatus.Status;
}

}  // namespace

NTSTATUS CallUSBD(DEVICE_EXTENSION* ext, URB* urb) {
    return SendInternal(ext, IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
}

NTSTATUS CallPortRequest(DEVICE_EXTENSION* ext, ULONG code, void* argument) {
    return SendInternal(ext, code, argument);
}

NTSTATUS ResetPipe(DEVICE_EXTENSION* ext, USBD_PIPE_HANDLE pipeHandle) {
    URB urb;
    UsbBuildPipeRequest(&urb, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, pipeHandle);
    return CallUSBD(ext, &urb);
}

NTSTATUS AbortPipe(DEVICE_EXTENSION* ext, USBD_PIPE_HANDLE pipeHandle) {
    URB urb;
    UsbBuildPipeRequest(&urb, URB_FUNCTION_ABORT_PIPE, pipeHandle);
    return CallUSBD(ext, &urb);
}

void AbortPipes(DEVICE_EXTENSION* ext, bool openOnly) {
    std::vector<USBD_PIPE_HANDLE> handles;
    {
        SpinLockGuard guard(ext->lock);
        for (ULONG i = 0; i < ext->pipeCount; ++i) {
            const PipeContext& pipe = *ext->pipes[i];
            if (pipe.pipeInformation != nullptr && (pipe.open || !openOnly)) {
                handles.push_back(pipe.pipeInformation->PipeHandle);
            }
        }
    }
    for (USBD_PIPE_HANDLE handle : handles) AbortPipe(ext, handle);
}

NTSTATUS ForwardAndWait(DEVICE_EXTENSION* ext, IRP* irp) {
    KEVENT event(ext->self->kernel().dispatcher(), NotificationEvent, false);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalEvent, &event, true, true, true);
    const NTSTATUS status = IoCallDriver(ext->lowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    }
    return irp->IoStatus.Status;
}

}  // namespace ys::usbpipe
