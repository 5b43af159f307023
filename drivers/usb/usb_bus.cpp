#include "drivers/usb/usb_bus.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "drivers/usb/descriptors.h"
#include "drivers/usb/urb.h"

namespace ys::usb {

using namespace kernel;

namespace {

struct PipeEntry {
    UCHAR endpoint = 0;
    USBD_PIPE_TYPE type = UsbdPipeTypeControl;
};

struct PendingTransfer {
    IRP* irp = nullptr;
    URB* urb = nullptr;
    UCHAR endpoint = 0;
    ULONG requested = 0;
    bool in = false;
    bool shortOk = true;
    bool submitted = false;
    bool cancelRequested = false;
};

class UsbPdoExtension final : public DeviceExtensionBase, public UsbBackendHost {
public:
    UsbPdoExtension(Kernel& k, std::shared_ptr<UsbDeviceBackend> b)
        : kernel(k), backend(std::move(b)), dpc(k.dispatcher(), CompletionDpc, this) {}
    ~UsbPdoExtension() override { backend->Connect(nullptr); }

    void TransferComplete(UsbTransferId id, UsbTransferResult result) override {
        {
            SpinLockGuard guard(lock);
            done.emplace_back(id, std::move(result));
        }
        KeInsertQueueDpc(&dpc, nullptr, nullptr);
    }
    void DeviceGone() override {
        if (!gone.exchange(true)) kernel.pnp().ReportDeviceGone(self);
    }
    void RemoteWakeup() override {
        {
            SpinLockGuard guard(lock);
            wakeSignalled = true;
        }
        KeInsertQueueDpc(&dpc, nullptr, nullptr);
    }

    static void CompletionDpc(KDPC*, void* context, void*, void*);

    Kernel& kernel;
    DEVICE_OBJECT* self = nullptr;
    std::shared_ptr<UsbDeviceBackend> backend;
    KSPIN_LOCK lock;
    std::map<USBD_PIPE_HANDLE, PipeEntry> pipes;
    std::map<UsbTransferId, PendingTransfer> pending;
    std::vector<std::pair<UsbTransferId, UsbTransferResult>> done;
    // Abort requests waiting for their pipe to drain: for the transfers already there when the
    // abort came (numbers up to `upTo`), not for any the function driver sends meanwhile.
    struct Abort {
        IRP* irp;
        UCHAR endpoint;
        UsbTransferId upTo;
    };
    std::vector<Abort> aborts;
    bool wakeSignalled = false;
    IRP* waitWake = nullptr;
    DEVICE_POWER_STATE power = PowerDeviceD0;
    std::atomic<bool> gone{false};
    UsbTransferId nextId = 0;
    std::uint64_t nextHandle = 0;
    KDPC dpc;
};

UsbPdoExtension* Ext(DEVICE_OBJECT* device) {
    return GetDeviceExtension<UsbPdoExtension>(device);
}

NTSTATUS Complete(IRP* irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS CompleteUrb(IRP* irp, URB* urb, USBD_STATUS status) {
    urb->UrbHeader.Status = status;
    return Complete(irp, UsbdStatusToNtStatus(status));
}

std::span<UCHAR> BufferOf(void* buffer, MDL* mdl, ULONG length, bool* ok) {
    *ok = true;
    if (mdl != nullptr) {
        if (length > mdl->ByteCount) *ok = false;
        return {mdl->StartVa, std::min(length, mdl->ByteCount)};
    }
    if (buffer != nullptr) return {static_cast<UCHAR*>(buffer), length};
    *ok = length == 0;
    return {};
}

// Takes a request back from a cancel routine that may be running: once the cancel spin lock has
// been held, the routine has finished with the request.
void ClearCancelRoutine(IRP* irp) {
    KIRQL irql = PASSIVE_LEVEL;
    IoAcquireCancelSpinLock(&irql);
    IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
}

void FinishTransfer(const PendingTransfer& t, UsbTransferResult& result) {
    ClearCancelRoutine(t.irp);
    URB* urb = t.urb;
    if (USBD_SUCCESS(result.status) && t.in && !t.shortOk && result.actualLength < t.requested) {
        result.status = USBD_STATUS_ERROR_SHORT_TRANSFER;
    }
    switch (urb->UrbHeader.Function) {
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
            urb->UrbBulkOrInterruptTransfer.TransferBufferLength = result.actualLength;
            break;
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            urb->UrbControlDescriptorRequest.TransferBufferLength = result.actualLength;
            break;
        case URB_FUNCTION_CONTROL_TRANSFER:
            urb->UrbControlTransfer.TransferBufferLength = result.actualLength;
            break;
        case URB_FUNCTION_ISOCH_TRANSFER: {
            auto& iso = urb->UrbIsochronousTransfer;
            iso.TransferBufferLength = result.actualLength;
            iso.ErrorCount = 0;
            for (std::size_t i = 0; i < result.packets.size() && i < iso.IsoPacket.size(); ++i) {
                iso.IsoPacket[i].Length = result.packets[i].Length;
                iso.IsoPacket[i].Status = result.packets[i].Status;
                if (USBD_ERROR(result.packets[i].Status)) ++iso.ErrorCount;
            }
            break;
        }
        default:
            urb->UrbControlVendorClassRequest.TransferBufferLength = result.actualLength;
            break;
    }
    CompleteUrb(t.irp, urb, result.status);
}

void CompleteWaitWake(UsbPdoExtension* ext, NTSTATUS status) {
    KIRQL irql = PASSIVE_LEVEL;
    IoAcquireCancelSpinLock(&irql);
    IRP* irp = nullptr;
    {
        SpinLockGuard guard(ext->lock);
        irp = ext->waitWake;
        ext->waitWake = nullptr;
    }
    if (irp != nullptr) IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    if (irp != nullptr) Complete(irp, status);
}

void UsbPdoExtension::CompletionDpc(KDPC*, void* context, void*, void*) {
    auto* ext = static_cast<UsbPdoExtension*>(context);
    std::vector<std::pair<UsbTransferId, UsbTransferResult>> batch;
    bool wake = false;
    {
        SpinLockGuard guard(ext->lock);
        batch.swap(ext->done);
        wake = std::exchange(ext->wakeSignalled, false);
    }
    for (auto& [id, result] : batch) {
        PendingTransfer t;
        {
            SpinLockGuard guard(ext->lock);
            auto it = ext->pending.find(id);
            if (it == ext->pending.end()) continue;
            t = it->second;
            ext->pending.erase(it);
        }
        FinishTransfer(t, result);
    }
    if (wake) CompleteWaitWake(ext, STATUS_SUCCESS);

    std::vector<IRP*> drained;
    {
        SpinLockGuard guard(ext->lock);
        for (auto it = ext->aborts.begin(); it != ext->aborts.end();) {
            const Abort& a = *it;
            const bool busy =
                std::any_of(ext->pending.begin(), ext->pending.end(), [&](const auto& p) {
                    return p.second.endpoint == a.endpoint && p.first <= a.upTo;
                });
            if (busy) {
                ++it;
            } else {
                drained.push_back(a.irp);
                it = ext->aborts.erase(it);
            }
        }
    }
    for (IRP* irp : drained) {
        URB* urb =
            static_cast<URB*>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
        CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
    }
}

void CancelTransfer(DEVICE_OBJECT* device, IRP* irp) {
    UsbPdoExtension* ext = Ext(device);
    const auto id = static_cast<UsbTransferId>(
        reinterpret_cast<std::uintptr_t>(irp->Tail.Overlay.DriverContext[0]));
    bool submitted = false;
    {
        SpinLockGuard guard(ext->lock);
        auto it = ext->pending.find(id);
        if (it != ext->pending.end()) {
            it->second.cancelRequested = true;
            submitted = it->second.submitted;
        }
    }
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (submitted) ext->backend->Cancel(id);
}

NTSTATUS SubmitAsync(UsbPdoExtension* ext, IRP* irp, URB* urb, const UsbTransfer& transfer) {
    UsbTransferId id = 0;
    {
        SpinLockGuard guard(ext->lock);
        id = ++ext->nextId;
        ext->pending[id] = PendingTransfer{irp,
                                           urb,
                                           transfer.endpointAddress,
                                           static_cast<ULONG>(transfer.buffer.size()),
                                           transfer.in,
                                           transfer.shortOk,
                                           false,
                                           false};
    }
    irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelTransfer);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        {
            SpinLockGuard guard(ext->lock);
            ext->pending.erase(id);
        }
        CompleteUrb(irp, urb, USBD_STATUS_CANCELED);
        return STATUS_PENDING;
    }
    bool cancelled = false;
    {
        SpinLockGuard guard(ext->lock);
        cancelled = ext->pending[id].cancelRequested;
    }
    if (cancelled) {
        ext->TransferComplete(id, UsbTransferResult{USBD_STATUS_CANCELED, 0, {}});
        return STATUS_PENDING;
    }
    ext->backend->Submit(id, transfer);
    // Marked submitted only now: a cancel that came while the backend took the transfer found
    // nothing to cancel there, so it is sent again (a transfer that completed meanwhile ignores
    // it).
    bool cancelAgain = false;
    {
        SpinLockGuard guard(ext->lock);
        auto it = ext->pending.find(id);
        if (it != ext->pending.end()) {
            it->second.submitted = true;
            cancelAgain = it->second.cancelRequested;
        }
    }
    if (cancelAgain) ext->backend->Cancel(id);
    return STATUS_PENDING;
}

// Asks the backend to end every transfer on `endpoint` (every endpoint when `all`). Returns
// whether any is still outstanding.
bool CancelEndpoint(UsbPdoExtension* ext, UCHAR endpoint, bool all) {
    std::vector<UsbTransferId> ids;
    bool outstanding = false;
    {
        SpinLockGuard guard(ext->lock);
        for (auto& [id, t] : ext->pending) {
            if (!all && t.endpoint != endpoint) continue;
            outstanding = true;
            t.cancelRequested = true;
            if (t.submitted) ids.push_back(id);
        }
    }
    for (UsbTransferId id : ids) ext->backend->Cancel(id);
    return outstanding;
}

bool FindPipe(UsbPdoExtension* ext, USBD_PIPE_HANDLE handle, PipeEntry* pipe) {
    SpinLockGuard guard(ext->lock);
    auto it = ext->pipes.find(handle);
    if (it == ext->pipes.end()) return false;
    *pipe = it->second;
    return true;
}

NTSTATUS SelectConfiguration(UsbPdoExtension* ext, IRP* irp, URB* urb) {
    auto& sc = urb->UrbSelectConfiguration;
    if (sc.ConfigurationDescriptor.empty()) {
        CancelEndpoint(ext, 0, true);
        {
            SpinLockGuard guard(ext->lock);
            ext->pipes.clear();
        }
        if (!ext->gone) ext->backend->SetConfiguration(0);
        sc.ConfigurationHandle = 0;
        return CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
    }
    const std::span<const UCHAR> desc = sc.ConfigurationDescriptor;
    auto config = ParseConfigurationDescriptor(desc);
    if (!config || sc.Interface.empty())
        return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PARAMETER);
    std::map<USBD_PIPE_HANDLE, PipeEntry> pipes;
    std::uint64_t handle = 0;
    {
        SpinLockGuard guard(ext->lock);
        handle = ext->nextHandle;
    }
    for (USBD_INTERFACE_INFORMATION& info : sc.Interface) {
        auto at = USBD_ParseConfigurationDescriptorEx(desc, 0, info.InterfaceNumber,
                                                      info.AlternateSetting, -1, -1, -1);
        if (!at) return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PARAMETER);
        auto d = ParseInterfaceDescriptor(desc.subspan(*at));
        info.Class = d->bInterfaceClass;
        info.SubClass = d->bInterfaceSubClass;
        info.Protocol = d->bInterfaceProtocol;
        info.InterfaceHandle = ++handle;
        const auto endpoints = InterfaceEndpoints(desc, *at);
        info.NumberOfPipes = static_cast<ULONG>(endpoints.size());
        info.Pipes.resize(endpoints.size());
        for (std::size_t i = 0; i < endpoints.size(); ++i) {
            USBD_PIPE_INFORMATION& p = info.Pipes[i];
            p.MaximumPacketSize = endpoints[i].wMaxPacketSize & 0x07FF;
            p.EndpointAddress = endpoints[i].bEndpointAddress;
            p.Interval = endpoints[i].bInterval;
            p.PipeType =
                static_cast<USBD_PIPE_TYPE>(endpoints[i].bmAttributes & USB_ENDPOINT_TYPE_MASK);
            p.PipeHandle = ++handle;
            pipes[p.PipeHandle] = PipeEntry{p.EndpointAddress, p.PipeType};
        }
    }
    USBD_STATUS status = ext->backend->SetConfiguration(config->bConfigurationValue);
    for (const USBD_INTERFACE_INFORMATION& info : sc.Interface) {
        if (USBD_SUCCESS(status) && info.AlternateSetting != 0) {
            status = ext->backend->SetInterface(info.InterfaceNumber, info.AlternateSetting);
        }
    }
    if (USBD_ERROR(status)) return CompleteUrb(irp, urb, status);
    {
        SpinLockGuard guard(ext->lock);
        ext->pipes = std::move(pipes);
        ext->nextHandle = handle + 1;
        sc.ConfigurationHandle = ext->nextHandle;
    }
    return CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
}

// The transfer an URB asks for. Each returns USBD_STATUS_SUCCESS when `t` is ready to go, or
// the status the URB completes with.
USBD_STATUS DescriptorTransfer(URB* urb, UsbTransfer& t) {
    auto& r = urb->UrbControlDescriptorRequest;
    bool ok = true;
    t.buffer = BufferOf(r.TransferBuffer, r.TransferBufferMDL, r.TransferBufferLength, &ok);
    t.setup = UsbSetupPacket{0x80, USB_REQUEST_GET_DESCRIPTOR,
                             static_cast<USHORT>((r.DescriptorType << 8) | r.Index), r.LanguageId,
                             static_cast<USHORT>(t.buffer.size())};
    t.in = true;
    return ok ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
}

// Class and vendor requests: the request type is made from the function.
USBD_STATUS VendorClassTransfer(URB* urb, UsbTransfer& t) {
    const USHORT function = urb->UrbHeader.Function;
    bool vendor = false;
    UCHAR recipient = 0;
    switch (function) {
        case URB_FUNCTION_VENDOR_DEVICE:
            vendor = true;
            break;
        case URB_FUNCTION_VENDOR_INTERFACE:
            vendor = true;
            recipient = 1;
            break;
        case URB_FUNCTION_VENDOR_ENDPOINT:
            vendor = true;
            recipient = 2;
            break;
        case URB_FUNCTION_VENDOR_OTHER:
            vendor = true;
            recipient = 3;
            break;
        case URB_FUNCTION_CLASS_INTERFACE:
            recipient = 1;
            break;
        case URB_FUNCTION_CLASS_ENDPOINT:
            recipient = 2;
            break;
        case URB_FUNCTION_CLASS_OTHER:
            recipient = 3;
            break;
        default:
            break;
    }
    auto& r = urb->UrbControlVendorClassRequest;
    bool ok = true;
    t.in = (r.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
    t.shortOk = (r.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
    t.buffer = BufferOf(r.TransferBuffer, r.TransferBufferMDL, r.TransferBufferLength, &ok);
    t.setup =
        UsbSetupPacket{static_cast<UCHAR>((t.in ? 0x80 : 0) | ((vendor ? 2 : 1) << 5) | recipient),
                       r.Request, r.Value, r.Index, static_cast<USHORT>(t.buffer.size())};
    return ok ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
}

USBD_STATUS ControlTransfer(UsbPdoExtension* ext, URB* urb, UsbTransfer& t) {
    auto& r = urb->UrbControlTransfer;
    PipeEntry pipe;
    if (r.PipeHandle != 0 &&
        (!FindPipe(ext, r.PipeHandle, &pipe) || pipe.type != UsbdPipeTypeControl)) {
        return USBD_STATUS_INVALID_PIPE_HANDLE;
    }
    bool ok = true;
    t.in = (r.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
    t.shortOk = (r.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
    t.buffer = BufferOf(r.TransferBuffer, r.TransferBufferMDL, r.TransferBufferLength, &ok);
    t.setup = UsbSetupPacket::FromBytes(std::span<const UCHAR, 8>(r.SetupPacket, 8));
    return ok ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
}

USBD_STATUS BulkOrInterruptTransfer(UsbPdoExtension* ext, URB* urb, UsbTransfer& t) {
    auto& r = urb->UrbBulkOrInterruptTransfer;
    PipeEntry pipe;
    if (!FindPipe(ext, r.PipeHandle, &pipe)) return USBD_STATUS_INVALID_PIPE_HANDLE;
    if (pipe.type != UsbdPipeTypeBulk && pipe.type != UsbdPipeTypeInterrupt) {
        return USBD_STATUS_INVALID_PARAMETER;
    }
    bool ok = true;
    t.type = pipe.type;
    t.endpointAddress = pipe.endpoint;
    t.in = USB_ENDPOINT_DIRECTION_IN(pipe.endpoint);
    t.shortOk = (r.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
    t.buffer = BufferOf(r.TransferBuffer, r.TransferBufferMDL, r.TransferBufferLength, &ok);
    return ok ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
}

USBD_STATUS IsochTransfer(UsbPdoExtension* ext, URB* urb, UsbTransfer& t) {
    auto& r = urb->UrbIsochronousTransfer;
    PipeEntry pipe;
    if (!FindPipe(ext, r.PipeHandle, &pipe)) return USBD_STATUS_INVALID_PIPE_HANDLE;
    if (pipe.type != UsbdPipeTypeIsochronous || r.NumberOfPackets == 0 || r.NumberOfPackets > 255 ||
        r.IsoPacket.size() < r.NumberOfPackets) {
        return USBD_STATUS_INVALID_PARAMETER;
    }
    bool ok = true;
    t.type = pipe.type;
    t.endpointAddress = pipe.endpoint;
    t.in = USB_ENDPOINT_DIRECTION_IN(pipe.endpoint);
    t.buffer = BufferOf(r.TransferBuffer, r.TransferBufferMDL, r.TransferBufferLength, &ok);
    t.packets.assign(r.IsoPacket.begin(), r.IsoPacket.begin() + r.NumberOfPackets);
    for (const USBD_ISO_PACKET_DESCRIPTOR& p : t.packets) {
        if (p.Offset > t.buffer.size()) ok = false;
    }
    t.startAsap = (r.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) != 0;
    t.startFrame = r.StartFrame;
    return ok ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
}

NTSTATUS AbortPipe(UsbPdoExtension* ext, IRP* irp, URB* urb) {
    PipeEntry pipe;
    if (!FindPipe(ext, urb->UrbPipeRequest.PipeHandle, &pipe)) {
        return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    // Pending before it is parked, and parked before the cancels go out: the completion that
    // drains the pipe may run at once.
    IoMarkIrpPending(irp);
    {
        SpinLockGuard guard(ext->lock);
        ext->aborts.push_back({irp, pipe.endpoint, ext->nextId});
    }
    CancelEndpoint(ext, pipe.endpoint, false);
    KeInsertQueueDpc(&ext->dpc, nullptr, nullptr);  // completes it if nothing was pending
    return STATUS_PENDING;
}

NTSTATUS ResetPipe(UsbPdoExtension* ext, IRP* irp, URB* urb) {
    PipeEntry pipe;
    if (!FindPipe(ext, urb->UrbPipeRequest.PipeHandle, &pipe)) {
        return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    return CompleteUrb(irp, urb, ext->backend->ClearHalt(pipe.endpoint));
}

// A transfer goes to the backend; anything else is answered here.
NTSTATUS HandleUrb(UsbPdoExtension* ext, IRP* irp, URB* urb) {
    if (urb == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER);
    urb->UrbHeader.Status = USBD_STATUS_SUCCESS;
    const USHORT function = urb->UrbHeader.Function;
    const bool cleanup = function == URB_FUNCTION_ABORT_PIPE ||
                         (function == URB_FUNCTION_SELECT_CONFIGURATION &&
                          urb->UrbSelectConfiguration.ConfigurationDescriptor.empty());
    if (ext->gone && !cleanup) return CompleteUrb(irp, urb, USBD_STATUS_DEVICE_GONE);

    UsbTransfer t;
    USBD_STATUS built = USBD_STATUS_SUCCESS;
    switch (function) {
        case URB_FUNCTION_SELECT_CONFIGURATION:
            return SelectConfiguration(ext, irp, urb);
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            built = DescriptorTransfer(urb, t);
            break;
        case URB_FUNCTION_VENDOR_DEVICE:
        case URB_FUNCTION_VENDOR_INTERFACE:
        case URB_FUNCTION_VENDOR_ENDPOINT:
        case URB_FUNCTION_VENDOR_OTHER:
        case URB_FUNCTION_CLASS_DEVICE:
        case URB_FUNCTION_CLASS_INTERFACE:
        case URB_FUNCTION_CLASS_ENDPOINT:
        case URB_FUNCTION_CLASS_OTHER:
            built = VendorClassTransfer(urb, t);
            break;
        case URB_FUNCTION_CONTROL_TRANSFER:
            built = ControlTransfer(ext, urb, t);
            break;
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
            built = BulkOrInterruptTransfer(ext, urb, t);
            break;
        case URB_FUNCTION_ISOCH_TRANSFER:
            built = IsochTransfer(ext, urb, t);
            break;
        case URB_FUNCTION_ABORT_PIPE:
            return AbortPipe(ext, irp, urb);
        case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
        case URB_FUNCTION_SYNC_RESET_PIPE:
        case URB_FUNCTION_SYNC_CLEAR_STALL:
            return ResetPipe(ext, irp, urb);
        case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
            urb->UrbGetCurrentFrameNumber.FrameNumber = ext->backend->CurrentFrameNumber();
            return CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
        default:
            return CompleteUrb(irp, urb, USBD_STATUS_INVALID_URB_FUNCTION);
    }
    if (USBD_ERROR(built)) return CompleteUrb(irp, urb, built);
    return SubmitAsync(ext, irp, urb, t);
}

NTSTATUS DispatchInternalDeviceControl(DEVICE_OBJECT* device, IRP* irp) {
    UsbPdoExtension* ext = Ext(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_INTERNAL_USB_SUBMIT_URB:
            return HandleUrb(ext, irp, static_cast<URB*>(stack->Parameters.Others.Argument1));
        case IOCTL_INTERNAL_USB_GET_PORT_STATUS: {
            auto* status = static_cast<ULONG*>(stack->Parameters.Others.Argument1);
            if (status == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER);
            *status = ext->gone ? 0 : ext->backend->PortStatus();
            return Complete(irp, STATUS_SUCCESS);
        }
        case IOCTL_INTERNAL_USB_ENABLE_PORT:
            return Complete(irp, ext->gone ? STATUS_NO_SUCH_DEVICE : ext->backend->EnablePort());
        case IOCTL_INTERNAL_USB_RESET_PORT:
            return Complete(irp, ext->gone ? STATUS_NO_SUCH_DEVICE : ext->backend->ResetPort());
        case IOCTL_INTERNAL_USB_CYCLE_PORT:
            return Complete(irp, ext->gone ? STATUS_NO_SUCH_DEVICE : ext->backend->CyclePort());
        default:
            return Complete(irp, STATUS_NOT_SUPPORTED);
    }
}

void FillCapabilities(UsbPdoExtension* ext, DEVICE_CAPABILITIES* caps) {
    const bool wake = ext->backend->SupportsRemoteWakeup();
    caps->DeviceD1 = false;
    caps->DeviceD2 = true;
    caps->Removable = true;
    caps->WakeFromD2 = wake;
    caps->DeviceState[PowerSystemUnspecified] = PowerDeviceUnspecified;
    caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
    caps->DeviceState[PowerSystemSleeping1] = PowerDeviceD2;
    caps->DeviceState[PowerSystemSleeping2] = PowerDeviceD2;
    caps->DeviceState[PowerSystemSleeping3] = PowerDeviceD2;
    caps->DeviceState[PowerSystemHibernate] = PowerDeviceD3;
    caps->DeviceState[PowerSystemShutdown] = PowerDeviceD3;
    caps->SystemWake = wake ? PowerSystemSleeping3 : PowerSystemUnspecified;
    caps->DeviceWake = wake ? PowerDeviceD2 : PowerDeviceUnspecified;
}

NTSTATUS DispatchPnp(DEVICE_OBJECT* device, IRP* irp) {
    UsbPdoExtension* ext = Ext(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE:
            CancelEndpoint(ext, 0, true);
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_QUERY_CAPABILITIES:
            if (stack->Parameters.DeviceCapabilities.Capabilities == nullptr) {
                status = STATUS_INVALID_PARAMETER;
            } else {
                FillCapabilities(ext, stack->Parameters.DeviceCapabilities.Capabilities);
                status = STATUS_SUCCESS;
            }
            break;
        default:
            break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void CancelWaitWake(DEVICE_OBJECT* device, IRP* irp) {
    UsbPdoExtension* ext = Ext(device);
    bool mine = false;
    {
        SpinLockGuard guard(ext->lock);
        mine = ext->waitWake == irp;
        if (mine) ext->waitWake = nullptr;
    }
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (mine) Complete(irp, STATUS_CANCELLED);
}

NTSTATUS DispatchPower(DEVICE_OBJECT* device, IRP* irp) {
    UsbPdoExtension* ext = Ext(device);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    PoStartNextPowerIrp(irp);
    switch (stack->MinorFunction) {
        case IRP_MN_SET_POWER:
            if (stack->Parameters.Power.Type == DevicePowerState) {
                const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
                {
                    SpinLockGuard guard(ext->lock);
                    ext->power = state;
                }
                ext->backend->SetDevicePower(state);
            }
            return Complete(irp, STATUS_SUCCESS);
        case IRP_MN_QUERY_POWER:
            return Complete(irp, STATUS_SUCCESS);
        case IRP_MN_WAIT_WAKE: {
            if (!ext->backend->SupportsRemoteWakeup()) return Complete(irp, STATUS_NOT_SUPPORTED);
            IoMarkIrpPending(irp);  // a wake-up may complete it as soon as it is stored
            bool busy = false;
            {
                SpinLockGuard guard(ext->lock);
                busy = ext->waitWake != nullptr;
                if (!busy) ext->waitWake = irp;
            }
            if (busy) {
                Complete(irp, STATUS_DEVICE_BUSY);
                return STATUS_PENDING;
            }
            IoSetCancelRoutine(irp, CancelWaitWake);
            if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
                {
                    SpinLockGuard guard(ext->lock);
                    ext->waitWake = nullptr;
                }
                Complete(irp, STATUS_CANCELLED);
            }
            return STATUS_PENDING;
        }
        default:
            return Complete(irp, irp->IoStatus.Status);
    }
}

NTSTATUS DispatchSystemControl(DEVICE_OBJECT*, IRP* irp) {
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS BusDriverEntry(DRIVER_OBJECT* driver, const std::string&) {
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
    return STATUS_SUCCESS;
}

}  // namespace

UsbBus::UsbBus(Kernel& kernel)
    : kernel_(kernel), driver_(kernel.LoadDriver("usbhub", BusDriverEntry)) {}

DEVICE_OBJECT* UsbBus::Attach(std::shared_ptr<UsbDeviceBackend> backend, std::string instanceId) {
    auto ext = std::make_unique<UsbPdoExtension>(kernel_, backend);
    UsbPdoExtension* raw = ext.get();
    const std::string name = "\\Device\\USBPDO-" + std::to_string(next_++);
    DEVICE_OBJECT* pdo = nullptr;
    if (!NT_SUCCESS(
            IoCreateDevice(driver_, std::move(ext), &name, FILE_DEVICE_USB, 0, false, &pdo))) {
        return nullptr;
    }
    raw->self = pdo;
    pdo->Flags |= DO_POWER_PAGABLE;
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    kernel_.SetInstanceId(pdo, std::move(instanceId));
    backend->Connect(raw);
    return pdo;
}

bool UsbBus::WaitWakePending(DEVICE_OBJECT* pdo) {
    UsbPdoExtension* ext = Ext(pdo);
    SpinLockGuard guard(ext->lock);
    return ext->waitWake != nullptr;
}

std::size_t UsbBus::PendingTransfers(DEVICE_OBJECT* pdo) {
    UsbPdoExtension* ext = Ext(pdo);
    SpinLockGuard guard(ext->lock);
    return ext->pending.size();
}

DEVICE_POWER_STATE UsbBus::DevicePower(DEVICE_OBJECT* pdo) {
    UsbPdoExtension* ext = Ext(pdo);
    SpinLockGuard guard(ext->lock);
    return ext->power;
}

}  // namespace ys::usb
