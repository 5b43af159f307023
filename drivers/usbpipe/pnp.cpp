// Plug and Play: starting the device (descriptors, interface choice, configuration, pipe table,
// segment sizes), stop, removal and their queries, surprise removal and capabilities.
#include <algorithm>
#include <cstdio>

#include "drivers/usb/descriptors.h"
#include "drivers/usbpipe/device_extension.h"

namespace ys::usbpipe {

namespace {

constexpr ULONG kFirstConfigurationRead = 521;

NTSTATUS ReadDescriptor(DEVICE_EXTENSION* ext, UCHAR type, std::vector<UCHAR>* out, ULONG length) {
    out->assign(length, 0);
    URB urb;
    UsbBuildGetDescriptorRequest(&urb, type, 0, 0, out->data(), nullptr, length);
    const NTSTATUS status = CallUSBD(ext, &urb);
    if (NT_SUCCESS(status)) out->resize(urb.UrbControlDescriptorRequest.TransferBufferLength);
    return status;
}

// Segment size of a bulk or interrupt pipe: the setting raised to whole packets, at most the
// pipe's maximum transfer size.
ULONG SegmentSizeFor(RegistryKey* key, const USBD_PIPE_INFORMATION& pipe) {
    const ULONG packet = pipe.MaximumPacketSize;
    char name[32];
    std::snprintf(name, sizeof name, "EP%u_SegmentSize", pipe.EndpointAddress & 0x7Fu);
    ULONG setting =
        USB_ENDPOINT_DIRECTION_IN(pipe.EndpointAddress) ? packet : pipe.MaximumTransferSize;
    if (key != nullptr) key->QueryDword(name, &setting);
    std::uint64_t size = packet;
    if (setting != 0) {
        size = packet != 0
                   ? std::uint64_t{packet} * ((std::uint64_t{setting} + packet - 1) / packet)
                   : setting;
    }
    size = std::min<std::uint64_t>(size, pipe.MaximumTransferSize);
    // A segment of 0 bytes would never move the transfer on.
    if (size == 0) size = std::max<ULONG>(packet, 1);
    return static_cast<ULONG>(size);
}

NTSTATUS SelectInterfaces(DEVICE_EXTENSION* ext) {
    const std::span<const UCHAR> config = ext->configurationDescriptor;
    auto header = ParseConfigurationDescriptor(config);
    if (!header) return STATUS_UNSUCCESSFUL;
    std::vector<USBD_INTERFACE_LIST_ENTRY> list;
    for (LONG number = 0; number <= 255 && list.size() < header->bNumInterfaces; ++number) {
        auto at = USBD_ParseConfigurationDescriptorEx(
            config, 0, number, ext->targetAlternateSetting, ext->targetInterfaceClass,
            ext->targetInterfaceSubClass, ext->targetInterfaceProtocol);
        if (at) list.push_back(USBD_INTERFACE_LIST_ENTRY{*at, nullptr});
    }
    if (list.empty()) return STATUS_UNSUCCESSFUL;

    std::unique_ptr<URB> urb = USBD_CreateConfigurationRequestEx(config, list);
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    for (USBD_INTERFACE_LIST_ENTRY& entry : list) {
        for (USBD_PIPE_INFORMATION& pipe : entry.Interface->Pipes) {
            pipe.MaximumTransferSize = ext->maxTransferSize;
            pipe.PipeFlags = 0;
        }
    }
    const NTSTATUS status = CallUSBD(ext, urb.get());
    if (!NT_SUCCESS(status)) return status;

    auto info = std::make_unique<USBD_INTERFACE_INFORMATION>(*list.front().Interface);
    RegistryKey* key = nullptr;
    IoOpenDeviceRegistryKey(ext->physicalDevice, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    std::vector<ULONG> segmentSizes(info->Pipes.size(), 0);
    for (std::size_t i = 0; i < info->Pipes.size(); ++i) {
        const USBD_PIPE_INFORMATION& p = info->Pipes[i];
        if (p.PipeType == UsbdPipeTypeBulk || p.PipeType == UsbdPipeTypeInterrupt) {
            segmentSizes[i] = SegmentSizeFor(key, p);
        }
    }
    SpinLockGuard guard(ext->lock);
    ext->configurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
    ext->interfaceInformation = std::move(info);
    ext->pipeCount = static_cast<ULONG>(ext->interfaceInformation->Pipes.size());
    while (ext->pipes.size() < ext->pipeCount)
        ext->pipes.push_back(std::make_unique<PipeContext>());
    for (ULONG i = 0; i < ext->pipeCount; ++i) {
        ext->pipes[i]->pipeInformation = &ext->interfaceInformation->Pipes[i];
        ext->pipes[i]->segmentSize = segmentSizes[i];
    }
    return STATUS_SUCCESS;
}

NTSTATUS ReadandSelectDescriptors(DEVICE_EXTENSION* ext) {
    std::vector<UCHAR> device;
    NTSTATUS status = ReadDescriptor(ext, USB_DEVICE_DESCRIPTOR_TYPE, &device, 18);
    if (!NT_SUCCESS(status)) return status;
    if (!ParseDeviceDescriptor(device)) return STATUS_UNSUCCESSFUL;

    std::vector<UCHAR> config;
    status =
        ReadDescriptor(ext, USB_CONFIGURATION_DESCRIPTOR_TYPE, &config, kFirstConfigurationRead);
    if (!NT_SUCCESS(status)) return status;
    auto header = ParseConfigurationDescriptor(config);
    if (!header) return STATUS_UNSUCCESSFUL;
    if (header->wTotalLength > kFirstConfigurationRead) {
        status =
            ReadDescriptor(ext, USB_CONFIGURATION_DESCRIPTOR_TYPE, &config, header->wTotalLength);
        if (!NT_SUCCESS(status)) return status;
    }
    if (config.size() > header->wTotalLength) config.resize(header->wTotalLength);
    {
        SpinLockGuard guard(ext->lock);
        ext->deviceDescriptor = std::move(device);
        ext->configurationDescriptor = std::move(config);
        ext->remoteWakeup = (header->bmAttributes & USB_CONFIG_REMOTE_WAKEUP) != 0;
    }
    return SelectInterfaces(ext);
}

void FreeConfiguration(DEVICE_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    for (auto& pipe : ext->pipes) pipe->pipeInformation = nullptr;
    ext->pipeCount = 0;
    ext->interfaceInformation.reset();
    ext->configurationDescriptor.clear();
    ext->configurationHandle = 0;
}

NTSTATUS DeconfigureDevice(DEVICE_EXTENSION* ext) {
    URB urb;
    UsbBuildSelectConfigurationRequest(&urb, {});
    return CallUSBD(ext, &urb);
}

NTSTATUS PassDown(DEVICE_EXTENSION* ext, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lowerDevice, irp);
}

bool Started(DEVICE_EXTENSION* ext) {
    SpinLockGuard guard(ext->lock);
    return ext->started;
}

NTSTATUS HandleStartDevice(DEVICE_EXTENSION* ext, IRP* irp) {
    NTSTATUS status = ForwardAndWait(ext, irp);
    if (NT_SUCCESS(status)) status = ReadandSelectDescriptors(ext);
    bool wake = false;
    if (NT_SUCCESS(status)) {
        {
            SpinLockGuard guard(ext->lock);
            ext->started = true;
            // A restart after a stop: the stop is no longer pending.
            ext->stopPending = false;
            ext->deviceState = kDeviceWorking;
            wake = ext->remoteWakeup;
        }
        ext->devicePower = PowerDeviceD0;
        PoSetPowerState(ext->self, DevicePowerState, POWER_STATE{{}, PowerDeviceD0});
    }
    CompleteRequest(irp, status, 0);
    if (wake) IssueWaitWake(ext);
    return status;
}

NTSTATUS HandleQueryStop(DEVICE_EXTENSION* ext, IRP* irp) {
    {
        SpinLockGuard guard(ext->lock);
        if (ext->started) ext->stopPending = true;
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(ext, irp);
}

NTSTATUS HandleCancelStop(DEVICE_EXTENSION* ext, IRP* irp) {
    if (!Started(ext)) return PassDown(ext, irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    ForwardAndWait(ext, irp);
    {
        SpinLockGuard guard(ext->lock);
        ext->stopPending = false;
        ext->deviceState = kDeviceWorking;
    }
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS HandleStopDevice(DEVICE_EXTENSION* ext, IRP* irp) {
    CancelWaitWake(ext);
    DeconfigureDevice(ext);
    FreeConfiguration(ext);
    {
        SpinLockGuard guard(ext->lock);
        ext->started = false;
        ext->stopPending = false;  // refused by `started` from here on
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(ext, irp);
}

NTSTATUS HandleQueryRemove(DEVICE_EXTENSION* ext, IRP* irp, IoCountHolder& count) {
    if (Started(ext)) {
        {
            SpinLockGuard guard(ext->lock);
            ext->removePending = true;
        }
        count.Release();  // this request's own count
        KeWaitForSingleObject(&ext->ioCount.noIoEvent(), Executive, KernelMode, false, nullptr);
        count.Reacquire();
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(ext, irp);
}

NTSTATUS HandleCancelRemove(DEVICE_EXTENSION* ext, IRP* irp) {
    {
        SpinLockGuard guard(ext->lock);
        if (ext->started) ext->removePending = false;
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(ext, irp);
}

NTSTATUS HandleSurpriseRemoval(DEVICE_EXTENSION* ext, IRP* irp) {
    CancelWaitWake(ext);
    {
        SpinLockGuard guard(ext->lock);
        ext->removePending = true;
        ext->surpriseRemoved = true;
    }
    IoSetDeviceInterfaceState(ext->self->kernel(), ext->interfaceName, false);
    AbortPipes(ext, true);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(ext, irp);
}

// Deletes the device: the extension may be gone when this returns.
NTSTATUS HandleRemoveDevice(DEVICE_EXTENSION* ext, IRP* irp, IoCountHolder& count) {
    bool surprise = false;
    {
        SpinLockGuard guard(ext->lock);
        surprise = ext->surpriseRemoved;
        if (!surprise) ext->deviceState = kDeviceRemoved;
    }
    if (!surprise) {
        CancelWaitWake(ext);
        IoSetDeviceInterfaceState(ext->self->kernel(), ext->interfaceName, false);
    }
    {
        SpinLockGuard guard(ext->lock);
        ext->removePending = true;
    }
    AbortPipes(ext, true);
    count.Release();      // this request's count
    QtxIoDecrement(ext);  // the base count
    KeWaitForSingleObject(&ext->ioCount.removeEvent(), Executive, KernelMode, false, nullptr);
    FreeConfiguration(ext);

    irp->IoStatus.Status = STATUS_SUCCESS;
    DEVICE_OBJECT* self = ext->self;
    DEVICE_OBJECT* lower = ext->lowerDevice;
    const NTSTATUS status = PassDown(ext, irp);
    IoDetachDevice(lower);
    IoDeleteDevice(self);
    return status;
}

NTSTATUS HandleQueryCapabilities(DEVICE_EXTENSION* ext, IRP* irp) {
    DEVICE_CAPABILITIES* caps =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
    const NTSTATUS status = ForwardAndWait(ext, irp);
    if (NT_SUCCESS(status) && caps != nullptr) {
        caps->SurpriseRemovalOK = true;
        ext->capabilities = *caps;
    }
    return CompleteRequest(irp, status, irp->IoStatus.Information);
}

NTSTATUS CapabilitiesDone(DEVICE_OBJECT*, IRP*, void* context) {
    KeSetEvent(static_cast<KEVENT*>(context), IO_NO_INCREMENT, false);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS QueryCapabilities(DEVICE_EXTENSION* ext, DEVICE_CAPABILITIES* capabilities) {
    *capabilities = DEVICE_CAPABILITIES{};
    KEVENT event(ext->self->kernel().dispatcher(), NotificationEvent, false);
    auto irp = IoAllocateIrp(ext->lowerDevice->StackSize, false);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
    next->Parameters.DeviceCapabilities.Capabilities = capabilities;
    IoSetCompletionRoutine(irp.get(), CapabilitiesDone, &event, true, true, true);
    IoCallDriver(ext->lowerDevice, irp.get());
    KeWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS QtxDispatchPnP(DEVICE_OBJECT* device, IRP* irp) {
    DEVICE_EXTENSION* ext = Extension(device);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_REMOVE_DEVICE) {
        // A drain in progress has taken the base count away: it gives it back first.
        {
            SpinLockGuard guard(ext->lock);
            ext->removeStarted = true;
        }
        KeWaitForSingleObject(&ext->drainDone, Executive, KernelMode, false, nullptr);
    }
    IoCountHolder count(ext->ioCount);
    switch (minor) {
        case IRP_MN_START_DEVICE:
            return HandleStartDevice(ext, irp);
        case IRP_MN_QUERY_STOP_DEVICE:
            return HandleQueryStop(ext, irp);
        case IRP_MN_CANCEL_STOP_DEVICE:
            return HandleCancelStop(ext, irp);
        case IRP_MN_STOP_DEVICE:
            return HandleStopDevice(ext, irp);
        case IRP_MN_QUERY_REMOVE_DEVICE:
            return HandleQueryRemove(ext, irp, count);
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            return HandleCancelRemove(ext, irp);
        case IRP_MN_SURPRISE_REMOVAL:
            return HandleSurpriseRemoval(ext, irp);
        case IRP_MN_REMOVE_DEVICE:
            return HandleRemoveDevice(ext, irp, count);  // the device is gone when it returns
        case IRP_MN_QUERY_CAPABILITIES:
            return HandleQueryCapabilities(ext, irp);
        default:
            return PassDown(ext, irp);
    }
}

}  // namespace ys::usbpipe
