// A real USB device under the bus driver, through libusb-1.0. The libusb calls the backend needs
// sit behind `LibusbApi`, so that the mapping of request blocks to libusb transfers (and of
// libusb's results back to USBD status codes) runs in tests against a scripted fake of them.
// `LibusbContext` is the real thing: one libusb context with its event thread and hot-plug.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "drivers/usb/usb_backend.h"
#include "platform/result.h"

namespace ys::usb {

// libusb's transfer results, mirrored so that the backend and its tests need no libusb header.
enum class LibusbTransferStatus {
    kCompleted,
    kError,
    kTimedOut,
    kCancelled,
    kStall,
    kNoDevice,
    kOverflow
};

// libusb's error codes that the backend tells apart (the rest count as I/O errors).
inline constexpr int kLibusbSuccess = 0;
inline constexpr int kLibusbErrorIo = -1;
inline constexpr int kLibusbErrorInvalidParam = -2;
inline constexpr int kLibusbErrorNoDevice = -4;
inline constexpr int kLibusbErrorNotFound = -5;
inline constexpr int kLibusbErrorBusy = -6;
inline constexpr int kLibusbErrorPipe = -9;

// One transfer as libusb is asked to run it: libusb_fill_{control,bulk,interrupt}_transfer.
struct LibusbSubmission {
    USBD_PIPE_TYPE type = UsbdPipeTypeBulk;
    UCHAR endpoint = 0;            // with bit 7 for IN; 0 for control
    std::array<UCHAR, 8> setup{};  // control transfers
    bool in = false;
    std::uint32_t length = 0;  // bytes to move (the data stage for control transfers)
    std::vector<UCHAR> out;    // OUT data
    unsigned timeoutMs = 0;    // 0: none
};

// The end of a libusb transfer: its status, and for IN transfers the bytes that came.
using LibusbCompletion =
    std::function<void(LibusbTransferStatus status, std::span<const UCHAR> inData)>;

// The libusb-1.0 calls made on one opened device. Results are libusb error codes (0 = success).
class LibusbApi {
public:
    virtual ~LibusbApi() = default;
    // libusb_alloc_transfer + libusb_fill_*_transfer + libusb_submit_transfer. When it returns 0,
    // `done` runs exactly once later (from the thread handling libusb's events); else never.
    virtual int SubmitTransfer(std::uint64_t token, LibusbSubmission submission,
                               LibusbCompletion done) = 0;
    // libusb_cancel_transfer: the transfer ends soon through its completion (kCancelled, or its
    // own result if that came first).
    virtual int CancelTransfer(std::uint64_t token) = 0;
    virtual int SetConfiguration(int value) = 0;  // libusb_set_configuration
    // The number of interfaces of configuration `value` (libusb_get_config_descriptor_by_value).
    virtual int InterfaceCount(int value) = 0;
    virtual int ClaimInterface(int number) = 0;    // libusb_claim_interface
    virtual int ReleaseInterface(int number) = 0;  // libusb_release_interface
    virtual int SetInterfaceAltSetting(int number, int alternate) = 0;
    virtual int ClearHalt(UCHAR endpoint) = 0;  // libusb_clear_halt
    virtual int ResetDevice() = 0;              // libusb_reset_device
};

// Control transfers end after this long instead of hanging the requester (a request block has no
// time-out of its own); bulk and interrupt transfers wait as long as the requester does.
inline constexpr unsigned kControlTimeoutMs = 5000;

class LibusbBackend final : public UsbDeviceBackend {
public:
    explicit LibusbBackend(std::unique_ptr<LibusbApi> api);
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    // The device has left (hot-plug): outstanding transfers end with USBD_STATUS_DEVICE_GONE and
    // the host hears DeviceGone() (once, however the loss was noticed).
    void Disconnected();
    bool gone() const { return gone_; }
    std::size_t outstanding() const;

    void Connect(UsbBackendHost* host) override;
    void Submit(UsbTransferId id, const UsbTransfer& transfer) override;
    void Cancel(UsbTransferId id) override;
    USBD_STATUS SetConfiguration(UCHAR configurationValue) override;
    USBD_STATUS SetInterface(UCHAR interfaceNumber, UCHAR alternateSetting) override;
    USBD_STATUS ClearHalt(UCHAR endpointAddress) override;
    ULONG PortStatus() override;
    NTSTATUS EnablePort() override;
    NTSTATUS ResetPort() override;
    NTSTATUS CyclePort() override;
    ULONG CurrentFrameNumber() override;
    void SetDevicePower(kernel::DEVICE_POWER_STATE state) override;
    bool SupportsRemoteWakeup() const override { return false; }

    // The USBD status of a finished libusb transfer.
    static USBD_STATUS MapTransferStatus(LibusbTransferStatus status);
    // The USBD status of a failed libusb call.
    static USBD_STATUS MapError(int libusbError);

private:
    struct Outstanding {
        std::span<UCHAR> buffer;
        bool in = false;
        bool shortOk = true;
    };

    void OnDone(UsbTransferId id, LibusbTransferStatus status, std::span<const UCHAR> inData);
    void Report(UsbTransferId id, UsbTransferResult result);
    USBD_STATUS Checked(int libusbResult);
    void ReleaseClaimed();

    std::unique_ptr<LibusbApi> api_;
    mutable std::mutex mutex_;
    std::map<UsbTransferId, Outstanding> outstanding_;
    std::vector<int> claimed_;
    std::atomic<bool> gone_{false};
    std::atomic<bool> goneReported_{false};
    // Held while calling the host, so that Connect(nullptr) returns only after the last call.
    std::recursive_mutex hostMutex_;
    UsbBackendHost* host_ = nullptr;
    std::int64_t startNs_ = 0;
};

// The identity of a device libusb found: bus number and address.
struct LibusbDeviceKey {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    friend bool operator==(const LibusbDeviceKey&, const LibusbDeviceKey&) = default;
};

// One libusb context with an event thread and hot-plug for one vendor and product ID. Arrivals and
// departures are queued; `eventFd()` becomes readable when there are some to take.
class LibusbContext {
public:
    struct HotplugEvent {
        bool arrived = false;
        LibusbDeviceKey key;
    };

    static Result<std::unique_ptr<LibusbContext>> Create(std::uint16_t vendorId,
                                                         std::uint16_t productId);
    ~LibusbContext();
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    int eventFd() const;
    std::vector<HotplugEvent> TakeEvents();
    // Opens the device (detaching a kernel driver from its interfaces when claimed).
    Result<std::unique_ptr<LibusbApi>> Open(const LibusbDeviceKey& key);

    struct Impl;

private:
    explicit LibusbContext(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ys::usb
