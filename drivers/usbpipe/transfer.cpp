// Moving data: segmented bulk and interrupt transfers, isochronous transfers and class or vendor
// control transfers.
#include <algorithm>
#include <cstring>

#include "drivers/usbpipe/device_extension.h"

namespace ys::usbpipe {

namespace {

struct SegmentedContext {
    DEVICE_EXTENSION* ext = nullptr;
    IRP* irp = nullptr;
    URB urb;
    USBD_PIPE_HANDLE pipeHandle = 0;
    ULONG transferFlags = 0;
    ULONG segmentSize = 0;
    UCHAR* buffer = nullptr;  // system buffer, or
    MDL* mdl = nullptr;       // the caller's buffer mapped directly
    MDL partialMdl;
    ULONG offset = 0;
    ULONG remaining = 0;
    ULONG segmentLength = 0;
    ULONG total = 0;
    IO_WORKITEM* workItem = nullptr;
};

NTSTATUS SegmentComplete(DEVICE_OBJECT*, IRP* irp, void* context);

void SendSegment(SegmentedContext* c) {
    c->segmentLength = std::min(c->segmentSize, c->remaining);
    if (c->mdl != nullptr && c->segmentLength > 0) {
        auto* va = static_cast<UCHAR*>(MmGetMdlVirtualAddress(c->mdl)) + c->offset;
        IoBuildPartialMdl(c->mdl, &c->partialMdl, va, c->segmentLength);
        UsbBuildInterruptOrBulkTransferRequest(&c->urb, c->pipeHandle, nullptr, &c->partialMdl,
                                               c->segmentLength, c->transferFlags);
    } else {
        UCHAR* at = c->buffer != nullptr && c->segmentLength > 0 ? c->buffer + c->offset : nullptr;
        UsbBuildInterruptOrBulkTransferRequest(&c->urb, c->pipeHandle, at, nullptr,
                                               c->segmentLength, c->transferFlags);
    }
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(c->irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = &c->urb;
    IoSetCompletionRoutine(c->irp, SegmentComplete, c, true, true, true);
    IoCallDriver(c->ext->lowerDevice, c->irp);
}

// A failed segment: the pipe is reset before the request completes, which must wait.
void ResetPipeAndComplete(DEVICE_OBJECT*, void* context) {
    std::unique_ptr<SegmentedContext> c(static_cast<SegmentedContext*>(context));
    DEVICE_EXTENSION* ext = c->ext;
    ResetPipe(ext, c->pipeHandle);
    IoFreeWorkItem(c->workItem);
    c->irp->IoStatus.Information = c->total;
    IoCompleteRequest(c->irp, IO_NO_INCREMENT);
    c.reset();
    QtxIoDecrement(ext);
}

NTSTATUS SegmentComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* c = static_cast<SegmentedContext*>(context);
    const NTSTATUS status = irp->IoStatus.Status;
    const ULONG moved =
        std::min(c->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, c->segmentLength);
    c->total += moved;
    c->offset += moved;
    c->remaining -= moved;
    if (!NT_SUCCESS(status) && status != STATUS_CANCELLED) {
        c->workItem = IoAllocateWorkItem(c->ext->self);
        IoQueueWorkItem(c->workItem, ResetPipeAndComplete, DelayedWorkQueue, c);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    if (NT_SUCCESS(status) && c->remaining > 0 && moved == c->segmentSize) {
        SendSegment(c);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    irp->IoStatus.Information = c->total;
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    DEVICE_EXTENSION* ext = c->ext;
    delete c;
    QtxIoDecrement(ext);
    return STATUS_SUCCESS;
}

struct UrbContext {
    DEVICE_EXTENSION* ext = nullptr;
    URB urb;
    bool controlTransfer = false;
};

NTSTATUS IsochComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    std::unique_ptr<UrbContext> c(static_cast<UrbContext*>(context));
    irp->IoStatus.Information = c->urb.UrbIsochronousTransfer.TransferBufferLength;
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    DEVICE_EXTENSION* ext = c->ext;
    c.reset();
    QtxIoDecrement(ext);
    return STATUS_SUCCESS;
}

NTSTATUS ControlComplete(DEVICE_OBJECT*, IRP* irp, void* context) {
    std::unique_ptr<UrbContext> c(static_cast<UrbContext*>(context));
    irp->IoStatus.Information = NT_SUCCESS(irp->IoStatus.Status)
                                    ? c->urb.UrbControlVendorClassRequest.TransferBufferLength
                                    : 0;
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    DEVICE_EXTENSION* ext = c->ext;
    c.reset();
    QtxIoDecrement(ext);
    return STATUS_SUCCESS;
}

void SendUrb(DEVICE_EXTENSION* ext, IRP* irp, URB* urb, PIO_COMPLETION_ROUTINE routine,
             void* context) {
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, routine, context, true, true, true);
    IoCallDriver(ext->lowerDevice, irp);
}

NTSTATUS IsochronousTransfer(DEVICE_EXTENSION* ext, IRP* irp, const PipeSnapshot& pipe, bool read) {
    if (DeviceState(ext) == kDeviceNotStarted) {
        return CompleteRequest(irp, STATUS_POWER_STATE_INVALID, 0);
    }
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const auto& params = read ? stack->Parameters.Read : stack->Parameters.Write;
    const ULONG length = params.Length;
    const ULONG packet = pipe.info.MaximumPacketSize;
    if (packet == 0 || (length > 0 && irp->MdlAddress == nullptr)) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    }
    ResetPipe(ext, pipe.info.PipeHandle);

    auto c = std::make_unique<UrbContext>();
    c->ext = ext;
    auto& iso = c->urb.UrbIsochronousTransfer;
    c->urb.UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
    iso.PipeHandle = pipe.info.PipeHandle;
    iso.TransferFlags = read ? USBD_TRANSFER_DIRECTION_IN : USBD_TRANSFER_DIRECTION_OUT;
    iso.TransferBufferMDL = irp->MdlAddress;
    iso.TransferBufferLength = length;
    iso.NumberOfPackets = (length + packet - 1) / packet;
    iso.IsoPacket.resize(iso.NumberOfPackets);
    for (ULONG i = 0; i < iso.NumberOfPackets; ++i) iso.IsoPacket[i].Offset = i * packet;
    const auto offset = static_cast<std::uint64_t>(params.ByteOffset.QuadPart);
    if ((offset >> 32) == 0) {
        iso.TransferFlags |= USBD_START_ISO_TRANSFER_ASAP;
    } else {
        URB frame;
        frame.UrbHeader.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
        const NTSTATUS status = CallUSBD(ext, &frame);
        if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);
        iso.StartFrame =
            frame.UrbGetCurrentFrameNumber.FrameNumber + static_cast<ULONG>(offset & 0xFFFFFFFFu);
    }
    QtxIoIncrement(ext);  // released by the completion routine
    IoMarkIrpPending(irp);
    UrbContext* raw = c.release();
    SendUrb(ext, irp, &raw->urb, IsochComplete, raw);
    return STATUS_PENDING;
}

// The URB function of a class or vendor request to `recipient`; 0 for anything else.
USHORT ControlFunction(UCHAR requestType) {
    static constexpr USHORT kClass[] = {URB_FUNCTION_CLASS_DEVICE, URB_FUNCTION_CLASS_INTERFACE,
                                        URB_FUNCTION_CLASS_ENDPOINT, URB_FUNCTION_CLASS_OTHER};
    static constexpr USHORT kVendor[] = {URB_FUNCTION_VENDOR_DEVICE, URB_FUNCTION_VENDOR_INTERFACE,
                                         URB_FUNCTION_VENDOR_ENDPOINT, URB_FUNCTION_VENDOR_OTHER};
    const UCHAR type = (requestType >> 5) & 0x03;
    const UCHAR recipient = requestType & 0x1F;
    if (recipient > 3) return 0;
    if (type == 1) return kClass[recipient];
    if (type == 2) return kVendor[recipient];
    return 0;
}

}  // namespace

NTSTATUS SegmentedTransfer(DEVICE_EXTENSION* ext, IRP* irp, const PipeSnapshot& pipe, bool read,
                           TransferOrigin origin, UCHAR* buffer, MDL* mdl, ULONG length) {
    if (DeviceState(ext) == kDeviceNotStarted) {
        return CompleteRequest(irp, STATUS_POWER_STATE_INVALID, 0);
    }
    if (read && length == 0) {
        return origin == TransferOrigin::kReadWrite
                   ? CompleteRequest(irp, STATUS_SUCCESS, 0)
                   : CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (length > 0 && buffer == nullptr && (mdl == nullptr || MmGetMdlByteCount(mdl) < length)) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    }
    auto c = std::make_unique<SegmentedContext>();
    c->ext = ext;
    c->irp = irp;
    c->pipeHandle = pipe.info.PipeHandle;
    c->segmentSize = pipe.segmentSize;
    c->buffer = buffer;
    c->mdl = buffer == nullptr ? mdl : nullptr;
    c->remaining = length;
    if (read) {
        c->transferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    } else {
        c->transferFlags = USBD_TRANSFER_DIRECTION_OUT;
        if (origin == TransferOrigin::kReadWrite) c->transferFlags |= USBD_SHORT_TRANSFER_OK;
    }
    QtxIoIncrement(ext);  // released when the last segment has completed
    IoMarkIrpPending(irp);
    SendSegment(c.release());
    return STATUS_PENDING;
}

NTSTATUS QtxDispatchReadWrite(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    QtxIoIncrement(ext);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const bool read = stack->MajorFunction == IRP_MJ_READ;
    NTSTATUS status = STATUS_SUCCESS;
    PipeSnapshot pipe;
    if (!CanAcceptRequests(ext)) {
        status = CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    } else if (stack->FileObject == nullptr ||
               !SnapshotPipe(ext, static_cast<PipeContext*>(stack->FileObject->FsContext), &pipe)) {
        status = CompleteRequest(irp, STATUS_INVALID_HANDLE, 0);
    } else if (pipe.info.PipeType == UsbdPipeTypeControl) {
        status = CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    } else if (pipe.info.PipeType == UsbdPipeTypeIsochronous) {
        status = IsochronousTransfer(ext, irp, pipe, read);
    } else {
        const ULONG length = read ? stack->Parameters.Read.Length : stack->Parameters.Write.Length;
        status = SegmentedTransfer(ext, irp, pipe, read, TransferOrigin::kReadWrite, nullptr,
                                   irp->MdlAddress, length);
    }
    QtxIoDecrement(ext);
    return status;
}

NTSTATUS ControlTransfer(DEVICE_EXTENSION* ext, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    auto* system = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    if (inLength < 8 || system == nullptr) return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    // Read the packet first: the data of a device-to-host request lands in the same buffer.
    const UsbSetupPacket setup = UsbSetupPacket::FromBytes(std::span<const UCHAR, 8>(system, 8));
    const USHORT function = ControlFunction(setup.bmRequestType);
    if (function == 0) return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    UCHAR* data = nullptr;
    ULONG flags = 0;
    if (setup.in()) {
        if (outLength < setup.wLength) return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
        data = system;
        flags = USBD_TRANSFER_DIRECTION_IN;
    } else {
        if (inLength < 8u + setup.wLength) return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
        data = system + 8;
        flags = USBD_TRANSFER_DIRECTION_OUT;
    }
    URB urb;
    UsbBuildVendorRequest(&urb, function, flags, 0, setup.bRequest, setup.wValue, setup.wIndex,
                          setup.wLength > 0 ? data : nullptr, nullptr, setup.wLength);
    const NTSTATUS status = CallUSBD(ext, &urb);
    return CompleteRequest(irp, status, NT_SUCCESS(status) ? setup.wLength : 0);
}

NTSTATUS ControlTransferAsync(DEVICE_EXTENSION* ext, IRP* irp, bool in) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    auto* system = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    if (inLength < 8 || system == nullptr) return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    const UsbSetupPacket setup = UsbSetupPacket::FromBytes(std::span<const UCHAR, 8>(system, 8));
    const USHORT function = ControlFunction(setup.bmRequestType);
    if (function == 0 || outLength < setup.wLength ||
        (setup.wLength > 0 && irp->MdlAddress == nullptr)) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    }
    auto c = std::make_unique<UrbContext>();
    c->ext = ext;
    const ULONG flags =
        in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : USBD_TRANSFER_DIRECTION_OUT;
    void* data = setup.wLength > 0
                     ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority)
                     : nullptr;
    UsbBuildVendorRequest(&c->urb, function, flags, 0, setup.bRequest, setup.wValue, setup.wIndex,
                          data, nullptr, setup.wLength);
    QtxIoIncrement(ext);  // released by the completion routine
    IoMarkIrpPending(irp);
    UrbContext* raw = c.release();
    SendUrb(ext, irp, &raw->urb, ControlComplete, raw);
    return STATUS_PENDING;
}

}  // namespace ys::usbpipe
