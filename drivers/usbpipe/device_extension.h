// qtxusb64's per-device state and the routines its dispatch files share.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "drivers/kernel/kernel.h"
#include "drivers/usb/urb.h"
#include "drivers/usbpipe/qtxusb.h"

namespace ys::usbpipe {

using namespace kernel;
using namespace usb;

// One pipe of the selected interface. Handles refer to it through their file object, so an
// entry lives as long as the device even when a stop frees the configuration it describes.
struct PipeContext {
    USBD_PIPE_INFORMATION* pipeInformation = nullptr;  // null while no configuration is selected
    bool open = false;
    ULONG segmentSize = 0;
};

// What a request needs of its pipe, copied under the lock when it starts.
struct PipeSnapshot {
    USBD_PIPE_INFORMATION info;
    ULONG segmentSize = 0;
};

enum : LONG { kDeviceNotStarted = 0, kDeviceWorking = 1, kDeviceRemoved = 2 };

class DEVICE_EXTENSION : public DeviceExtensionBase {
public:
    explicit DEVICE_EXTENSION(Dispatcher& dispatcher)
        : ioCount(dispatcher, lock), drainDone(dispatcher, NotificationEvent, true) {}

    DEVICE_OBJECT* self = nullptr;
    DEVICE_OBJECT* lowerDevice = nullptr;
    DEVICE_OBJECT* physicalDevice = nullptr;
    std::string interfaceName;

    // Settings.
    ULONG maxTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    LONG targetAlternateSetting = -1;
    LONG targetInterfaceClass = -1;
    LONG targetInterfaceSubClass = -1;
    LONG targetInterfaceProtocol = -1;

    // Configuration, guarded by `lock` once started.
    std::vector<UCHAR> deviceDescriptor;
    std::vector<UCHAR> configurationDescriptor;
    USBD_CONFIGURATION_HANDLE configurationHandle = 0;
    std::unique_ptr<USBD_INTERFACE_INFORMATION> interfaceInformation;
    std::vector<std::unique_ptr<PipeContext>> pipes;
    ULONG pipeCount = 0;  // entries of `pipes` in the selected interface
    LONG openCount = 0;
    bool remoteWakeup = false;
    DEVICE_CAPABILITIES capabilities;

    KSPIN_LOCK lock;
    IoCount ioCount;
    bool started = false;
    bool stopPending = false;
    bool removePending = false;
    bool surpriseRemoved = false;
    LONG deviceState = kDeviceNotStarted;
    // Powering down takes the base count away while it waits, and so does removal: the two
    // never overlap. Removal waits for `drainDone`; a drain does not start once it has begun.
    bool removeStarted = false;
    bool draining = false;
    KEVENT drainDone;

    // Power.
    std::atomic<DEVICE_POWER_STATE> devicePower{PowerDeviceD0};
    std::atomic<SYSTEM_POWER_STATE> systemPower{PowerSystemWorking};
    std::atomic<IRP*> waitWakeIrp{nullptr};
    std::atomic<LONG> waitWakeArmed{0};
    std::atomic<LONG> waitWakeCancelling{0};
    std::atomic<LONG> waitWakeCompleted{0};
};

inline DEVICE_EXTENSION* Extension(DEVICE_OBJECT* device) {
    return GetDeviceExtension<DEVICE_EXTENSION>(device);
}

// driver_entry.cpp
LONG QtxIoIncrement(DEVICE_EXTENSION* ext);
LONG QtxIoDecrement(DEVICE_EXTENSION* ext);
bool CanAcceptRequests(DEVICE_EXTENSION* ext);
LONG DeviceState(DEVICE_EXTENSION* ext);
void SetDeviceState(DEVICE_EXTENSION* ext, LONG state);
NTSTATUS CompleteRequest(IRP* irp, NTSTATUS status, ULONG_PTR information);

// pipes.cpp
NTSTATUS QtxDispatchCreate(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS QtxDispatchClose(DEVICE_OBJECT* device, IRP* irp);
PipeContext* PipeFromName(DEVICE_EXTENSION* ext, std::string_view name);
bool SnapshotPipe(DEVICE_EXTENSION* ext, const PipeContext* pipe, PipeSnapshot* out);

// usb_requests.cpp: synchronous requests to the bus (PASSIVE_LEVEL).
NTSTATUS CallUSBD(DEVICE_EXTENSION* ext, URB* urb);
NTSTATUS CallPortRequest(DEVICE_EXTENSION* ext, ULONG ioControlCode, void* argument);
NTSTATUS ResetPipe(DEVICE_EXTENSION* ext, USBD_PIPE_HANDLE pipeHandle);
NTSTATUS AbortPipe(DEVICE_EXTENSION* ext, USBD_PIPE_HANDLE pipeHandle);
// Aborts the open pipes (all pipes of the interface when `openOnly` is false).
void AbortPipes(DEVICE_EXTENSION* ext, bool openOnly);
NTSTATUS ForwardAndWait(DEVICE_EXTENSION* ext, IRP* irp);

// pnp.cpp
NTSTATUS QtxDispatchPnP(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS QueryCapabilities(DEVICE_EXTENSION* ext, DEVICE_CAPABILITIES* capabilities);

// transfer.cpp
enum class TransferOrigin { kReadWrite, kControlCode };
NTSTATUS QtxDispatchReadWrite(DEVICE_OBJECT* device, IRP* irp);
// Reads or writes `length` bytes of the request's buffer (an MDL, or the system buffer when
// `buffer` is given) in segments. Completes the request.
NTSTATUS SegmentedTransfer(DEVICE_EXTENSION* ext, IRP* irp, const PipeSnapshot& pipe, bool read,
                           TransferOrigin origin, UCHAR* buffer, MDL* mdl, ULONG length);
NTSTATUS ControlTransfer(DEVICE_EXTENSION* ext, IRP* irp);
NTSTATUS ControlTransferAsync(DEVICE_EXTENSION* ext, IRP* irp, bool in);

// device_control.cpp
NTSTATUS QtxDispatchDevCtrl(DEVICE_OBJECT* device, IRP* irp);

// power.cpp
NTSTATUS QtxDispatchPower(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS IssueWaitWake(DEVICE_EXTENSION* ext);
void CancelWaitWake(DEVICE_EXTENSION* ext);
// Asks for a device set-power request for `state` and waits until it has completed.
NTSTATUS RequestDevicePower(DEVICE_EXTENSION* ext, DEVICE_POWER_STATE state);

}  // namespace ys::usbpipe
