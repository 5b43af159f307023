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

// Suspend and resume: the request's own count is released while it waits, because powering
// down waits for every outstanding request.
NTSTATUS PowerCode(DEVICE_EXTENSION* ext, IRP* irp, bool suspend) {
    const DEVICE_POWER_STATE state = suspend ? ext->capabilities.DeviceWake : PowerDeviceD0;
    if (state == PowerDeviceUnspecified) {
        return CompleteRequest(irp, STATUS_INVALID_DEVICE_STATE, 0);
    }
    QtxIoDecrement(ext);
    const NTSTATUS status = RequestDevicePower(ext, state);
    QtxIoIncrement(ext);
    return CompleteRequest(irp, NT_SUCCESS(status) ? STATUS_SUCCESS : status, 0);
}

}  // namespace

NTSTATUS QtxDispatchDevCtrl(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    QtxIoIncrement(ext);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    auto* system = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    auto* pipeContext = stack->FileObject != nullptr
                            ? static_cast<PipeContext*>(stack->FileObject->FsContext)
                            : nullptr;
    PipeSnapshot pipe;
    const bool hasPipe = SnapshotPipe(ext, pipeContext, &pipe);
    const bool dataPipe = hasPipe && (pipe.info.PipeType == UsbdPipeTypeBulk ||
                                      pipe.info.PipeType == UsbdPipeTypeInterrupt);

    NTSTATUS status = STATUS_SUCCESS;
    if (!CanAcceptRequests(ext)) {
        status = CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
        QtxIoDecrement(ext);
        return status;
    }
    switch (code) {
        case IOCTL_QTXUSB_GET_CONFIG_DESCRIPTOR: {
            std::vector<UCHAR> config;
            {
                SpinLockGuard guard(ext->lock);
                config = ext->configurationDescriptor;
            }
            if (outLength < config.size()) {
                status = CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            } else {
                if (!config.empty()) std::memcpy(system, config.data(), config.size());
                status = CompleteRequest(irp, STATUS_SUCCESS, config.size());
            }
            break;
        }
        case IOCTL_QTXUSB_ENABLE_PORT:
            status = CompleteRequest(irp, ReenablePort(ext), 0);
            break;
        case IOCTL_QTXUSB_RESET_PIPE:
            status = hasPipe ? CompleteRequest(irp, ResetPipe(ext, pipe.info.PipeHandle), 0)
                             : CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
            break;
        case IOCTL_QTXUSB_GET_PIPE_INFO:
            if (!hasPipe) {
                status = CompleteRequest(irp, STATUS_INVALID_HANDLE, 0);
            } else if (outLength < kPipeInformationSize) {
                status = CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            } else {
                WritePipeInformation(pipe.info, std::span<UCHAR, kPipeInformationSize>(
                                                    system, kPipeInformationSize));
                status = CompleteRequest(irp, STATUS_SUCCESS, kPipeInformationSize);
            }
            break;
        case IOCTL_QTXUSB_VENDOR_REQUEST:
            status = VendorRequest(ext, irp);
            break;
        case IOCTL_QTXUSB_ABORT_PIPE:
            status = hasPipe ? CompleteRequest(irp, AbortPipe(ext, pipe.info.PipeHandle), 0)
                             : CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
            break;
        case IOCTL_QTXUSB_CONTROL_TRANSFER:
            status = ControlTransfer(ext, irp);
            break;
        case IOCTL_QTXUSB_GET_MAX_PACKET_SIZE:
            if (!hasPipe || outLength < sizeof(ULONG)) {
                status = CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
            } else {
                const ULONG size = pipe.info.MaximumPacketSize;
                std::memcpy(system, &size, sizeof size);
                status = CompleteRequest(irp, STATUS_SUCCESS, sizeof size);
            }
            break;
        case IOCTL_QTXUSB_RESET_PORT:
            status = CompleteRequest(
                irp, CallPortRequest(ext, IOCTL_INTERNAL_USB_RESET_PORT, nullptr), 0);
            break;
        case IOCTL_QTXUSB_CYCLE_PORT:
            status = CompleteRequest(
                irp, CallPortRequest(ext, IOCTL_INTERNAL_USB_CYCLE_PORT, nullptr), 0);
            break;
        case IOCTL_QTXUSB_SUSPEND:
        case IOCTL_QTXUSB_RESUME:
            status = PowerCode(ext, irp, code == IOCTL_QTXUSB_SUSPEND);
            break;
        case IOCTL_QTXUSB_READ:
        case IOCTL_QTXUSB_WRITE:
        case IOCTL_QTXUSB_READ_DIRECT:
        case IOCTL_QTXUSB_WRITE_DIRECT: {
            if (!dataPipe) {
                status = CompleteRequest(irp, STATUS_INVALID_HANDLE, 0);
                break;
            }
            const bool read = code == IOCTL_QTXUSB_READ || code == IOCTL_QTXUSB_READ_DIRECT;
            if (code == IOCTL_QTXUSB_READ) {
                status = SegmentedTransfer(ext, irp, pipe, true, TransferOrigin::kControlCode,
                                           system, nullptr, outLength);
            } else if (code == IOCTL_QTXUSB_WRITE) {
                status = SegmentedTransfer(ext, irp, pipe, false, TransferOrigin::kControlCode,
                                           system, nullptr, inLength);
            } else {
                status = SegmentedTransfer(ext, irp, pipe, read, TransferOrigin::kControlCode,
                                           nullptr, irp->MdlAddress, outLength);
            }
            break;
        }
        case IOCTL_QTXUSB_CONTROL_OUT_DIRECT:
            status = ControlTransferAsync(ext, irp, false);
            break;
        case IOCTL_QTXUSB_CONTROL_IN_DIRECT:
            status = ControlTransferAsync(ext, irp, true);
            break;
        default:
            status = CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
            break;
    }
    QtxIoDecrement(ext);
    return status;
}

}  // namespace ys::usbpipe
