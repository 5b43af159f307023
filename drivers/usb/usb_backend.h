// The seam between the bus driver and whatever moves the bytes: a simulated device model in
// tests, a user-space USB library in the driver host. The bus turns USB request blocks into these
// calls; a backend answers transfers asynchronously, from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drivers/kernel/kernel_types.h"
#include "drivers/usb/usb_types.h"

namespace ys::usb {

using UsbTransferId = std::uint64_t;

// One transfer handed to a backend. The buffer stays valid until the transfer is completed.
struct UsbTransfer {
    USBD_PIPE_TYPE type = UsbdPipeTypeControl;
    UCHAR endpointAddress = 0;  // 0 for the default control pipe
    UsbSetupPacket setup;       // control transfers
    std::span<UCHAR> buffer;
    bool in = false;
    bool shortOk = true;
    // Isochronous transfers: the packets (offset and length each) and when to start.
    std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets;
    bool startAsap = true;
    ULONG startFrame = 0;
};

struct UsbTransferResult {
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    ULONG actualLength = 0;
    std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets;  // isochronous: per-packet results
};

// What the bus offers a backend. Each may be called from any thread.
class UsbBackendHost {
public:
    // Exactly once for every submitted transfer, cancelled ones included.
    virtual void TransferComplete(UsbTransferId id, UsbTransferResult result) = 0;
    // The device has been unplugged.
    virtual void DeviceGone() = 0;
    // The device signals remote wake-up.
    virtual void RemoteWakeup() = 0;

protected:
    ~UsbBackendHost() = default;
};

class UsbDeviceBackend {
public:
    virtual ~UsbDeviceBackend() = default;

    // Null disconnects; no completion is reported after that.
    virtual void Connect(UsbBackendHost* host) = 0;
    virtual void Submit(UsbTransferId id, const UsbTransfer& transfer) = 0;
    // The transfer ends soon with USBD_STATUS_CANCELED (or its own result if that came first).
    virtual void Cancel(UsbTransferId id) = 0;

    // These may block; the bus calls them at PASSIVE_LEVEL.
    virtual USBD_STATUS SetConfiguration(UCHAR configurationValue) = 0;
    virtual USBD_STATUS SetInterface(UCHAR interfaceNumber, UCHAR alternateSetting) = 0;
    virtual USBD_STATUS ClearHalt(UCHAR endpointAddress) = 0;
    virtual ULONG PortStatus() = 0;  // USBD_PORT_CONNECTED | USBD_PORT_ENABLED
    virtual NTSTATUS EnablePort() = 0;
    virtual NTSTATUS ResetPort() = 0;
    virtual NTSTATUS CyclePort() = 0;
    virtual ULONG CurrentFrameNumber() = 0;
    virtual void SetDevicePower(kernel::DEVICE_POWER_STATE state) = 0;
    virtual bool SupportsRemoteWakeup() const = 0;
};

}  // namespace ys::usb
