// A simulated USB device: a backend built from descriptors that answers the standard requests,
// queues data for IN endpoints, takes data from OUT endpoints, polls interrupt endpoints at
// their interval on the dispatcher's clock, records every transfer and class or vendor request,
// and lets tests inject faults (a stalled pipe, a short or failed transfer, unplugging in the
// middle of a transfer). Device models derive from it and override the hooks.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drivers/kernel/dispatcher.h"
#include "drivers/usb/usb_backend.h"

namespace ys::usb {

class SimUsbDevice : public UsbDeviceBackend {
public:
    SimUsbDevice(kernel::Dispatcher& dispatcher, std::vector<UCHAR> deviceDescriptor,
                 std::vector<UCHAR> configurationDescriptor);
    ~SimUsbDevice() override;

    struct TransferRecord {
        UCHAR endpoint = 0;
        USBD_PIPE_TYPE type = UsbdPipeTypeControl;
        bool in = false;
        bool shortOk = false;
        ULONG requested = 0;
        ULONG actual = 0;
        USBD_STATUS status = USBD_STATUS_SUCCESS;
        std::size_t packets = 0;  // isochronous
        bool startAsap = false;
        ULONG startFrame = 0;
    };
    struct ControlRecord {
        UsbSetupPacket setup;
        std::vector<UCHAR> data;  // OUT data, or the IN data returned
        USBD_STATUS status = USBD_STATUS_SUCCESS;
    };

    // Test side. No bytes on a bulk endpoint queue a zero-length packet: the IN transfer that
    // reaches it ends there, short, as a device ends a transfer of whole packets.
    void QueueInData(UCHAR endpoint, std::span<const UCHAR> data);
    std::size_t QueuedInBytes(UCHAR endpoint) const;
    // The records below keep the recent past only (a device a driver host runs for months
    // must not grow with every transfer): the last kKeptOutBytes of each OUT endpoint and the
    // last kKeptTransfers transfers.
    static constexpr std::size_t kKeptOutBytes = 1 << 20;
    static constexpr std::size_t kKeptTransfers = 4096;
    std::vector<UCHAR> OutData(UCHAR endpoint) const;  // bytes taken on an OUT endpoint
    std::vector<TransferRecord> Transfers() const;     // completed transfers, in order
    std::vector<TransferRecord> Transfers(UCHAR endpoint) const;
    std::vector<ControlRecord> ControlRequests() const;  // class and vendor requests
    // What happened to the device in order: "cancel 82", "clear-halt 82", "power D2",
    // "configuration 1" (endpoints in hexadecimal).
    std::vector<std::string> Events() const;
    std::size_t PendingTransfers(UCHAR endpoint) const;
    int ClearHaltCount(UCHAR endpoint) const;
    UCHAR configuration() const;
    kernel::DEVICE_POWER_STATE power() const;
    int portResets() const;
    int portCycles() const;
    int portEnables() const;
    void SetPortEnabled(bool enabled);
    // The device leaves the bus: its transfers stay unanswered and the bus reports it gone.
    void Unplug();
    bool unplugged() const;
    void SignalRemoteWakeup();

    // Faults. `index` counts transfers on the endpoint from now on, 0 being the next one.
    void StallEndpoint(UCHAR endpoint);
    bool IsStalled(UCHAR endpoint) const;
    void FailTransfer(UCHAR endpoint, int index, USBD_STATUS status);
    void ShortTransfer(UCHAR endpoint, int index, ULONG bytes);
    void UnplugOnTransfer(UCHAR endpoint, int index);

    // UsbDeviceBackend
    void Connect(UsbBackendHost* host) override;
    void Submit(UsbTransferId id, const UsbTransfer& transfer) override;
    void Cancel(UsbTransferId id) override;
    USBD_STATUS SetConfiguration(UCHAR value) override;
    USBD_STATUS SetInterface(UCHAR interfaceNumber, UCHAR alternateSetting) override;
    USBD_STATUS ClearHalt(UCHAR endpoint) override;
    ULONG PortStatus() override;
    NTSTATUS EnablePort() override;
    NTSTATUS ResetPort() override;
    NTSTATUS CyclePort() override;
    ULONG CurrentFrameNumber() override;
    void SetDevicePower(kernel::DEVICE_POWER_STATE state) override;
    bool SupportsRemoteWakeup() const override;

protected:
    // Data the host wrote to an OUT endpoint (called without the device's lock held).
    virtual void OnOutData(UCHAR endpoint, std::span<const UCHAR> data);
    // A class or vendor request. IN: fill `data` and set `*actual`. The default stalls.
    virtual USBD_STATUS OnControlRequest(const UsbSetupPacket& setup, std::span<UCHAR> data,
                                         ULONG* actual);
    // What one poll of an interrupt IN endpoint returns; nothing leaves the poll unanswered. The
    // default takes up to one packet of the data queued for the endpoint.
    virtual std::optional<std::vector<UCHAR>> OnInterruptIn(UCHAR endpoint);

    kernel::Dispatcher& dispatcher() const { return dispatcher_; }

private:
    struct Pending {
        UsbTransferId id;
        UsbTransfer transfer;
        ULONG shortLimit;  // 0: none
    };
    struct Endpoint {
        USBD_PIPE_TYPE type = UsbdPipeTypeBulk;
        USHORT maxPacketSize = 64;
        UCHAR interval = 1;
        std::deque<UCHAR> inQueue;
        std::deque<std::size_t> zeroPackets;  // bulk: each after this many bytes of inQueue
        std::vector<UCHAR> outData;
        std::deque<Pending> pending;
        bool stalled = false;
        int nextIndex = 0;
        std::map<int, USBD_STATUS> failures;
        std::map<int, ULONG> shorts;
        std::optional<int> unplugAt;
        int clearHalts = 0;
    };
    using Completion = std::pair<UsbTransferId, UsbTransferResult>;

    void Report(std::vector<Completion>& done);
    static void KeepOutData(Endpoint& ep, std::span<const UCHAR> bytes);
    void CompleteLocked(const UsbTransferId id, const UsbTransfer& t, USBD_STATUS status,
                        ULONG actual, std::vector<Completion>& done,
                        std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets = {});
    void ServeBulkInLocked(Endpoint& ep, std::vector<Completion>& done);
    void HandleControl(UsbTransferId id, const UsbTransfer& t);
    static void PollDpc(kernel::KDPC*, void* context, void*, void*);
    void Poll();

    kernel::Dispatcher& dispatcher_;
    const std::vector<UCHAR> deviceDescriptor_;
    const std::vector<UCHAR> configurationDescriptor_;
    mutable std::mutex mutex_;
    std::mutex hostMutex_;  // held while reporting, so Connect(nullptr) waits for reports to end
    UsbBackendHost* host_ = nullptr;
    std::map<UCHAR, Endpoint> endpoints_;
    std::deque<TransferRecord> transfers_;
    std::vector<ControlRecord> controls_;
    std::vector<std::string> events_;
    UCHAR configuration_ = 0;
    kernel::DEVICE_POWER_STATE power_ = kernel::PowerDeviceD0;
    bool unplugged_ = false;
    bool portEnabled_ = true;
    int portResets_ = 0;
    int portCycles_ = 0;
    int portEnables_ = 0;
    bool polling_ = false;
    bool closing_ = false;
    UCHAR pollInterval_ = 1;
    kernel::KTIMER pollTimer_;
    kernel::KDPC pollDpc_;
};

}  // namespace ys::usb
