// The monitor unit as a simulated USB device: one vendor-specific interface with a bulk OUT
// endpoint (transmit, the first pipe), a bulk IN endpoint (receive) and an interrupt IN endpoint
// (line state), 64-byte packets and remote wake-up. Bytes written to the bulk OUT endpoint go
// through the monitor unit's frame-protocol model and its answers come back on the bulk IN
// endpoint; the vendor request 0x0B carries the port commands, which are recorded.
#pragma once

#include <mutex>
#include <span>
#include <vector>

#include "devices/monitor_unit/unit_model.h"
#include "drivers/usb/sim_usb_device.h"

namespace ys::usb {

class MonitorUnitDevice : public SimUsbDevice {
public:
    static constexpr UCHAR kTransmitEndpoint = 0x01;  // bulk OUT
    static constexpr UCHAR kReceiveEndpoint = 0x82;   // bulk IN
    static constexpr UCHAR kStatusEndpoint = 0x83;    // interrupt IN
    static constexpr USHORT kPacketSize = 64;
    static constexpr UCHAR kVendorRequest = 0x0B;
    static constexpr USHORT kVendorId = 0xFFFE;  // identifiers of the simulated unit
    static constexpr USHORT kProductId = 0x5201;

    // Line-state bits on the status endpoint.
    static constexpr UCHAR kCts = 0x01;
    static constexpr UCHAR kDsr = 0x02;
    static constexpr UCHAR kDcd = 0x04;
    static constexpr UCHAR kRi = 0x08;

    struct Options {
        bool remoteWakeup = true;
        bool statusEndpoint = true;  // without it the interface has the two bulk pipes only
        UCHAR statusInterval = 10;   // ms between polls of the status endpoint
        monitor_unit::FaultConfig protocolFault;
    };

    MonitorUnitDevice(kernel::Dispatcher& dispatcher, std::span<const UCHAR> image);
    MonitorUnitDevice(kernel::Dispatcher& dispatcher, std::span<const UCHAR> image,
                      Options options);

    static std::vector<UCHAR> ConfigurationDescriptor(const Options& options);

    // Each vendor request's data as received: the command byte first.
    std::vector<std::vector<UCHAR>> VendorCommands() const;
    void SetLineState(UCHAR bits);
    UCHAR lineState() const;
    bool portOpen() const;                        // command 3
    UCHAR modemControl() const;                   // command 1: bit 0 RTS, bit 1 DTR, bit 2 break
    std::vector<UCHAR> lineCoding() const;        // command 0's data after the command byte
    std::vector<UCHAR> flowCharacters() const;    // command 2: XON, XOFF
    std::vector<UCHAR> errorReplacement() const;  // command 4: flag, character
    // The protocol model's counters, read under the device's lock.
    int requestsReceived() const;
    int acksReceived() const;
    int naksReceived() const;
    int blocksSent() const;

protected:
    void OnOutData(UCHAR endpoint, std::span<const UCHAR> data) override;
    USBD_STATUS OnControlRequest(const UsbSetupPacket& setup, std::span<UCHAR> data,
                                 ULONG* actual) override;
    std::optional<std::vector<UCHAR>> OnInterruptIn(UCHAR endpoint) override;

private:
    mutable std::mutex mutex_;
    monitor_unit::MonitorUnitModel model_;
    std::vector<std::vector<UCHAR>> vendorCommands_;
    UCHAR lineState_ = kCts | kDsr | kDcd;
    bool portOpen_ = false;
    UCHAR modemControl_ = 0;
    std::vector<UCHAR> lineCoding_;
    std::vector<UCHAR> flowCharacters_;
    std::vector<UCHAR> errorReplacement_;
};

}  // namespace ys::usb
