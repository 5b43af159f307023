// The device-control codes.
#include <cstring>

#include "drivers/usbpipe/device_extension.h"

namespace ys::usbpipe {

namespace {

// Re-enables the port of a device that is connected but whose port has been disabled.
NTSTATUS ReenablePort(DEVICE_EXTENSION* ext) {
    ULONG portStatus = 0;
    NTSTATUS status = CallPortRequest(ext, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &portStatus);
    if (NT_SUCCESS(status) && (portStatus & USBD_PORT_CONNECTED) &&
        !(portStatus & USBD_PORT_ENABLED)) {
        status = CallPortRequest(ext, IOCTL_INTERNAL_USB_ENABLE_PORT, nullptr);
        if (!NT_SUCCESS(status))
            status = CallPortRequest(ext, IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
    }
    return status;
}

NTSTATUS VendorRequest(DEVICE_EXTENSION* ext, IRP* irp) {
    const ULONG length =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength;
    URB urb;
    UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_DEVICE, USBD_TRANSFER_DIRECTION_OUT, 0,
                          kVendorRequest, 0, 0,
                          length > 0 ? irp->AssociatedIrp.SystemBuffer : nullptr, nullptr, length);
    return CompleteRequest(irp, CallUSBD(ext, &urb), 0);
}

// One device-control request as the codes see it.
struct ControlRequest {
    DEVICE_EXTENSION* ext;
    IRP* irp;
    ULONG code;
    ULONG inLength;
    ULONG outLength;
    UCHAR* system;  // the buffered input and output
    PipeSnapshot pipe;
    bool hasPipe;
    bool dataPipe;  // a bulk or interrupt pipe
    IoCountHolder* count;
};

// Suspend and resume: the request's own count is released while it waits, because powering
// down waits for every outstanding request.
NTSTATUS PowerCode(const ControlRequest& r) {
    const bool suspend = r.code == IOCTL_QTXUSB_SUSPEND;
    const DEVICE_POWER_STATE state = suspend ? r.ext->capabilities.DeviceWake : PowerDeviceD0;
    if (state == PowerDeviceUnspecified) {
        return CompleteRequest(r.irp, STATUS_INVALID_DEVICE_STATE, 0);
    }
    r.count->Release();
    const NTSTATUS status = RequestDevicePower(r.ext, state);
    r.count->Reacquire();
    return CompleteRequest(r.irp, NT_SUCCESS(status) ? STATUS_SUCCESS : status, 0);
}

NTSTATUS GetConfigDescriptor(const ControlRequest& r) {
    std::vector<UCHAR> config;
    {
        SpinLockGuard guard(r.ext->lock);
        config = r.ext->configurationDescriptor;
    }
    if (r.outLength < config.size()) return CompleteRequest(r.irp, STATUS_BUFFER_TOO_SMALL, 0);
    if (!config.empty()) std::memcpy(r.system, config.data(), config.size());
    return CompleteRequest(r.irp, STATUS_SUCCESS, config.size());
}

NTSTATUS GetPipeInfo(const ControlRequest& r) {
    if (!r.hasPipe) return CompleteRequest(r.irp, STATUS_INVALID_HANDLE, 0);
    if (r.outLength < kPipeInformationSize) {
        return CompleteRequest(r.irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    WritePipeInformation(r.pipe.info,
                         std::span<UCHAR, kPipeInformationSize>(r.system, kPipeInformationSize));
    return CompleteRequest(r.irp, STATUS_SUCCESS, kPipeInformationSize);
}

NTSTATUS GetMaxPacketSize(const ControlRequest& r) {
    if (!r.hasPipe || r.outLength < sizeof(ULONG)) {
        return CompleteRequest(r.irp, STATUS_INVALID_PARAMETER, 0);
    }
    const ULONG size = r.pipe.info.MaximumPacketSize;
    std::memcpy(r.system, &size, sizeof size);
    return CompleteRequest(r.irp, STATUS_SUCCESS, sizeof size);
}

// Reset or abort of the handle's pipe.
NTSTATUS OnPipe(const ControlRequest& r, NTSTATUS (*action)(DEVICE_EXTENSION*, USBD_PIPE_HANDLE)) {
    if (!r.hasPipe) return CompleteRequest(r.irp, STATUS_INVALID_PARAMETER, 0);
    return CompleteRequest(r.irp, action(r.ext, r.pipe.info.PipeHandle), 0);
}

NTSTATUS PortRequest(const ControlRequest& r, ULONG internalCode) {
    return CompleteRequest(r.irp, CallPortRequest(r.ext, internalCode, nullptr), 0);
}

NTSTATUS PipeTransfer(const ControlRequest& r) {
    if (!r.dataPipe) return CompleteRequest(r.irp, STATUS_INVALID_HANDLE, 0);
    switch (r.code) {
        case IOCTL_QTXUSB_READ:
            return SegmentedTransfer(r.ext, r.irp, r.pipe, true, TransferOrigin::kControlCode,
                                     r.system, nullptr, r.outLength);
        case IOCTL_QTXUSB_WRITE:
            return SegmentedTransfer(r.ext, r.irp, r.pipe, false, TransferOrigin::kControlCode,
                                     r.system, nullptr, r.inLength);
        default:
            return SegmentedTransfer(r.ext, r.irp, r.pipe, r.code == IOCTL_QTXUSB_READ_DIRECT,
                                     TransferOrigin::kControlCode, nullptr, r.irp->MdlAddress,
                                     r.outLength);
    }
}

NTSTATUS Dispatch(const ControlRequest& r) {
    switch (r.code) {
        case IOCTL_QTXUSB_GET_CONFIG_DESCRIPTOR:
            return GetConfigDescriptor(r);
        case IOCTL_QTXUSB_ENABLE_PORT:
            return CompleteRequest(r.irp, ReenablePort(r.ext), 0);
        case IOCTL_QTXUSB_RESET_PIPE:
            return OnPipe(r, ResetPipe);
        case IOCTL_QTXUSB_GET_PIPE_INFO:
            return GetPipeInfo(r);
        case IOCTL_QTXUSB_VENDOR_REQUEST:
            return VendorRequest(r.ext, r.irp);
        case IOCTL_QTXUSB_ABORT_PIPE:
            return OnPipe(r, AbortPipe);
        case IOCTL_QTXUSB_CONTROL_TRANSFER:
            return ControlTransfer(r.ext, r.irp);
        case IOCTL_QTXUSB_GET_MAX_PACKET_SIZE:
            return GetMaxPacketSize(r);
        case IOCTL_QTXUSB_RESET_PORT:
            return PortRequest(r, IOCTL_INTERNAL_USB_RESET_PORT);
        case IOCTL_QTXUSB_CYCLE_PORT:
            return PortRequest(r, IOCTL_INTERNAL_USB_CYCLE_PORT);
        case IOCTL_QTXUSB_SUSPEND:
        case IOCTL_QTXUSB_RESUME:
            return PowerCode(r);
        case IOCTL_QTXUSB_READ:
        case IOCTL_QTXUSB_WRITE:
        case IOCTL_QTXUSB_READ_DIRECT:
        case IOCTL_QTXUSB_WRITE_DIRECT:
            return PipeTransfer(r);
        case IOCTL_QTXUSB_CONTROL_OUT_DIRECT:
            return ControlTransferAsync(r.ext, r.irp, false);
        case IOCTL_QTXUSB_CONTROL_IN_DIRECT:
            return ControlTransferAsync(r.ext, r.irp, true);
        default:
            return CompleteRequest(r.irp, STATUS_INVALID_PARAMETER, 0);
    }
}

}  // namespace

NTSTATUS QtxDispatchDevCtrl(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    IoCountHolder count(ext->ioCount);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    auto* pipeContext = stack->FileObject != nullptr
                            ? static_cast<PipeContext*>(stack->FileObject->FsContext)
                            : nullptr;
    ControlRequest r{ext,
                     irp,
                     stack->Parameters.DeviceIoControl.IoControlCode,
                     stack->Parameters.DeviceIoControl.InputBufferLength,
                     stack->Parameters.DeviceIoControl.OutputBufferLength,
                     static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer),
                     {},
                     false,
                     false,
                     &count};
    r.hasPipe = SnapshotPipe(ext, pipeContext, &r.pipe);
    r.dataPipe = r.hasPipe && (r.pipe.info.PipeType == UsbdPipeTypeBulk ||
                               r.pipe.info.PipeType == UsbdPipeTypeInterrupt);
    if (!CanAcceptRequests(ext)) return CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    return Dispatch(r);
}

}  // namespace ys::usbpipe
