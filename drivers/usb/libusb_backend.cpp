#include "drivers/usb/libusb_backend.h"

#include <libusb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace ys::usb {
namespace {

std::int64_t MonotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The backend: request blocks to libusb transfers and back.

LibusbBackend::LibusbBackend(std::unique_ptr<LibusbApi> api)
    : api_(std::move(api)), startNs_(MonotonicNs()) {}

LibusbBackend::~LibusbBackend() {
    Connect(nullptr);
    std::vector<UsbTransferId> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, t] : outstanding_) ids.push_back(id);
        outstanding_.clear();
    }
    // libusb still owns these transfers; their completions find nothing and are dropped.
    for (UsbTransferId id : ids) api_->CancelTransfer(id);
    ReleaseClaimed();
}

USBD_STATUS LibusbBackend::MapTransferStatus(LibusbTransferStatus status) {
    switch (status) {
        case LibusbTransferStatus::kCompleted:
            return USBD_STATUS_SUCCESS;
        case LibusbTransferStatus::kStall:
            return USBD_STATUS_STALL_PID;
        case LibusbTransferStatus::kCancelled:
            return USBD_STATUS_CANCELED;
        case LibusbTransferStatus::kNoDevice:
            return USBD_STATUS_DEVICE_GONE;
        case LibusbTransferStatus::kTimedOut:
            return USBD_STATUS_DEV_NOT_RESPONDING;
        case LibusbTransferStatus::kOverflow:
        case LibusbTransferStatus::kError:
            break;
    }
    return USBD_STATUS_XACT_ERROR;
}

USBD_STATUS LibusbBackend::MapError(int libusbError) {
    switch (libusbError) {
        case kLibusbSuccess:
            return USBD_STATUS_SUCCESS;
        case kLibusbErrorPipe:
            return USBD_STATUS_STALL_PID;
        case kLibusbErrorNoDevice:
            return USBD_STATUS_DEVICE_GONE;
        case kLibusbErrorBusy:
            return USBD_STATUS_ERROR_BUSY;
        case kLibusbErrorInvalidParam:
        case kLibusbErrorNotFound:
            return USBD_STATUS_INVALID_PARAMETER;
        default:
            return USBD_STATUS_XACT_ERROR;
    }
}

void LibusbBackend::Connect(UsbBackendHost* host) {
    std::lock_guard lock(hostMutex_);
    host_ = host;
}

std::size_t LibusbBackend::outstanding() const {
    std::lock_guard lock(mutex_);
    return outstanding_.size();
}

void LibusbBackend::Report(UsbTransferId id, UsbTransferResult result) {
    std::lock_guard lock(hostMutex_);
    if (host_ != nullptr) host_->TransferComplete(id, std::move(result));
}

void LibusbBackend::Submit(UsbTransferId id, const UsbTransfer& transfer) {
    if (transfer.type == UsbdPipeTypeIsochronous) {
        // The monitor unit has no isochronous endpoint; this host does not carry them.
        Report(id, {USBD_STATUS_NOT_SUPPORTED, 0, {}});
        return;
    }
    if (gone_) {
        Report(id, {USBD_STATUS_DEVICE_GONE, 0, {}});
        return;
    }
    LibusbSubmission s;
    s.type = transfer.type;
    s.in = transfer.in;
    s.length = static_cast<std::uint32_t>(transfer.buffer.size());
    if (transfer.type == UsbdPipeTypeControl) {
        s.endpoint = 0;
        UsbSetupPacket setup = transfer.setup;
        setup.wLength = static_cast<USHORT>(transfer.buffer.size());
        setup.ToBytes(s.setup);
        s.timeoutMs = kControlTimeoutMs;
    } else {
        s.endpoint = transfer.endpointAddress;
    }
    if (!transfer.in) s.out.assign(transfer.buffer.begin(), transfer.buffer.end());
    {
        // Recorded before submitting: the completion may come before SubmitTransfer returns.
        std::lock_guard lock(mutex_);
        outstanding_[id] = {transfer.buffer, transfer.in, transfer.shortOk};
    }
    const int rc = api_->SubmitTransfer(
        id, std::move(s), [this, id](LibusbTransferStatus status, std::span<const UCHAR> data) {
            OnDone(id, status, data);
        });
    if (rc != kLibusbSuccess) {
        bool mine = false;
        {
            std::lock_guard lock(mutex_);
            mine = outstanding_.erase(id) != 0;
        }
        if (mine) Report(id, {MapError(rc), 0, {}});
        if (rc == kLibusbErrorNoDevice) Disconnected();
    }
}

void LibusbBackend::OnDone(UsbTransferId id, LibusbTransferStatus status,
                           std::span<const UCHAR> inData) {
    UsbTransferResult result;
    {
        std::lock_guard lock(mutex_);
        auto it = outstanding_.find(id);
        if (it == outstanding_.end()) return;  // already ended (device gone, or backend closing)
        const Outstanding& t = it->second;
        ULONG actual = 0;
        if (t.in) {
            actual = static_cast<ULONG>(std::min(inData.size(), t.buffer.size()));
            std::copy_n(inData.begin(), actual, t.buffer.begin());
        } else if (status == LibusbTransferStatus::kCompleted) {
            actual = static_cast<ULONG>(t.buffer.size());
        } else {
            // libusb reports what went out before a stall or time-out through the IN bytes' size.
            actual = static_cast<ULONG>(std::min(inData.size(), t.buffer.size()));
        }
        result.status = MapTransferStatus(status);
        result.actualLength = actual;
        if (status == LibusbTransferStatus::kCompleted && t.in && !t.shortOk &&
            actual < t.buffer.size()) {
            result.status = USBD_STATUS_ERROR_SHORT_TRANSFER;
        }
        outstanding_.erase(it);
    }
    Report(id, std::move(result));
    if (status == LibusbTransferStatus::kNoDevice) Disconnected();
}

void LibusbBackend::Disconnected() {
    gone_ = true;
    std::map<UsbTransferId, Outstanding> ended;
    {
        std::lock_guard lock(mutex_);
        ended.swap(outstanding_);
    }
    for (const auto& [id, t] : ended) {
        api_->CancelTransfer(id);  // libusb frees it; its completion finds nothing
        Report(id, {USBD_STATUS_DEVICE_GONE, 0, {}});
    }
    if (!goneReported_.exchange(true)) {
        std::lock_guard lock(hostMutex_);
        if (host_ != nullptr) host_->DeviceGone();
    }
}

void LibusbBackend::Cancel(UsbTransferId id) {
    {
        std::lock_guard lock(mutex_);
        if (outstanding_.count(id) == 0) return;
    }
    const int rc = api_->CancelTransfer(id);
    if (rc == kLibusbErrorNoDevice) Disconnected();
    // kLibusbErrorNotFound: it is completing already and reports its own result.
}

USBD_STATUS LibusbBackend::Checked(int libusbResult) {
    if (libusbResult == kLibusbErrorNoDevice) Disconnected();
    return MapError(libusbResult);
}

void LibusbBackend::ReleaseClaimed() {
    std::vector<int> claimed;
    {
        std::lock_guard lock(mutex_);
        claimed.swap(claimed_);
    }
    if (gone_) return;
    for (int n : claimed) api_->ReleaseInterface(n);
}

USBD_STATUS LibusbBackend::SetConfiguration(UCHAR configurationValue) {
    if (gone_) return USBD_STATUS_DEVICE_GONE;
    ReleaseClaimed();
    if (configurationValue == 0) return USBD_STATUS_SUCCESS;  // deconfigured: nothing claimed
    if (USBD_STATUS s = Checked(api_->SetConfiguration(configurationValue)); USBD_ERROR(s)) {
        return s;
    }
    const int count = api_->InterfaceCount(configurationValue);
    if (count < 0) return Checked(count);
    for (int n = 0; n < count; ++n) {
        if (USBD_STATUS s = Checked(api_->ClaimInterface(n)); USBD_ERROR(s)) {
            ReleaseClaimed();
            return s;
        }
        std::lock_guard lock(mutex_);
        claimed_.push_back(n);
    }
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS LibusbBackend::SetInterface(UCHAR interfaceNumber, UCHAR alternateSetting) {
    if (gone_) return USBD_STATUS_DEVICE_GONE;
    return Checked(api_->SetInterfaceAltSetting(interfaceNumber, alternateSetting));
}

USBD_STATUS LibusbBackend::ClearHalt(UCHAR endpointAddress) {
    if (gone_) return USBD_STATUS_DEVICE_GONE;
    return Checked(api_->ClearHalt(endpointAddress));
}

ULONG LibusbBackend::PortStatus() {
    return gone_ ? 0 : (USBD_PORT_CONNECTED | USBD_PORT_ENABLED);
}

NTSTATUS LibusbBackend::EnablePort() {
    return gone_ ? kernel::STATUS_NO_SUCH_DEVICE : kernel::STATUS_SUCCESS;
}

NTSTATUS LibusbBackend::ResetPort() {
    if (gone_) return kernel::STATUS_NO_SUCH_DEVICE;
    const int rc = api_->ResetDevice();
    if (rc == kLibusbSuccess) return kernel::STATUS_SUCCESS;
    // A device that re-enumerates differently after the reset is lost to this handle.
    if (rc == kLibusbErrorNotFound || rc == kLibusbErrorNoDevice) {
        Disconnected();
        return kernel::STATUS_NO_SUCH_DEVICE;
    }
    return kernel::STATUS_UNSUCCESSFUL;
}

NTSTATUS LibusbBackend::CyclePort() {
    return ResetPort();
}

ULONG LibusbBackend::CurrentFrameNumber() {
    // libusb does not expose the bus's frame counter; full-speed frames are 1 ms apart.
    return static_cast<ULONG>((MonotonicNs() - startNs_) / 1'000'000);
}

void LibusbBackend::SetDevicePower(kernel::DEVICE_POWER_STATE) {
    // Selective suspend is the kernel's (autosuspend); a user-space host cannot order it.
}

// ---------------------------------------------------------------------------------------------
// The real libusb calls.

namespace {

LibusbTransferStatus FromLibusb(libusb_transfer_status s) {
    switch (s) {
        case LIBUSB_TRANSFER_COMPLETED:
            return LibusbTransferStatus::kCompleted;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return LibusbTransferStatus::kTimedOut;
        case LIBUSB_TRANSFER_CANCELLED:
            return LibusbTransferStatus::kCancelled;
        case LIBUSB_TRANSFER_STALL:
            return LibusbTransferStatus::kStall;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LibusbTransferStatus::kNoDevice;
        case LIBUSB_TRANSFER_OVERFLOW:
            return LibusbTransferStatus::kOverflow;
        case LIBUSB_TRANSFER_ERROR:
            break;
    }
    return LibusbTransferStatus::kError;
}

class RealDevice final : public LibusbApi {
public:
    explicit RealDevice(libusb_device_handle* handle) : handle_(handle) {}
    ~RealDevice() override {
        // Cancelled transfers still have to come back through the event thread before the handle
        // may close; wait for them.
        {
            std::unique_lock lock(mutex_);
            for (auto& [token, t] : transfers_) libusb_cancel_transfer(t->transfer);
            drained_.wait(lock, [this] { return transfers_.empty(); });
        }
        libusb_close(handle_);
    }

    int SubmitTransfer(std::uint64_t token, LibusbSubmission s, LibusbCompletion done) override {
        auto t = std::make_unique<Transfer>();
        t->owner = this;
        t->token = token;
        t->done = std::move(done);
        t->transfer = libusb_alloc_transfer(0);
        if (t->transfer == nullptr) return LIBUSB_ERROR_NO_MEM;
        libusb_transfer* x = t->transfer;
        if (s.type == UsbdPipeTypeControl) {
            t->buffer.assign(LIBUSB_CONTROL_SETUP_SIZE + s.length, 0);
            std::copy(s.setup.begin(), s.setup.end(), t->buffer.begin());
            if (!s.in) std::copy(s.out.begin(), s.out.end(), t->buffer.begin() + 8);
            libusb_fill_control_transfer(x, handle_, t->buffer.data(), &Callback, t.get(),
                                         s.timeoutMs);
        } else {
            t->buffer = s.in ? std::vector<UCHAR>(s.length) : std::move(s.out);
            const int length = static_cast<int>(t->buffer.size());
            if (s.type == UsbdPipeTypeInterrupt) {
                libusb_fill_interrupt_transfer(x, handle_, s.endpoint, t->buffer.data(), length,
                                               &Callback, t.get(), s.timeoutMs);
            } else {
                libusb_fill_bulk_transfer(x, handle_, s.endpoint, t->buffer.data(), length,
                                          &Callback, t.get(), s.timeoutMs);
            }
        }
        t->control = s.type == UsbdPipeTypeControl;
        std::lock_guard lock(mutex_);
        const int rc = libusb_submit_transfer(x);
        if (rc != 0) {
            libusb_free_transfer(x);
            return rc;
        }
        transfers_[token] = std::move(t);
        return 0;
    }

    int CancelTransfer(std::uint64_t token) override {
        std::lock_guard lock(mutex_);
        auto it = transfers_.find(token);
        if (it == transfers_.end()) return LIBUSB_ERROR_NOT_FOUND;
        return libusb_cancel_transfer(it->second->transfer);
    }
    int SetConfiguration(int value) override { return libusb_set_configuration(handle_, value); }
    int InterfaceCount(int value) override {
        libusb_config_descriptor* config = nullptr;
        const int rc = libusb_get_config_descriptor_by_value(libusb_get_device(handle_),
                                                             static_cast<uint8_t>(value), &config);
        if (rc != 0) return rc;
        const int n = config->bNumInterfaces;
        libusb_free_config_descriptor(config);
        return n;
    }
    int ClaimInterface(int number) override { return libusb_claim_interface(handle_, number); }
    int ReleaseInterface(int number) override { return libusb_release_interface(handle_, number); }
    int SetInterfaceAltSetting(int number, int alternate) override {
        return libusb_set_interface_alt_setting(handle_, number, alternate);
    }
    int ClearHalt(UCHAR endpoint) override { return libusb_clear_halt(handle_, endpoint); }
    int ResetDevice() override { return libusb_reset_device(handle_); }

private:
    struct Transfer {
        RealDevice* owner = nullptr;
        std::uint64_t token = 0;
        LibusbCompletion done;
        libusb_transfer* transfer = nullptr;
        std::vector<UCHAR> buffer;
        bool control = false;
    };

    static void LIBUSB_CALL Callback(libusb_transfer* x) {
        auto* t = static_cast<Transfer*>(x->user_data);
        RealDevice* self = t->owner;
        std::unique_ptr<Transfer> owned;
        {
            std::lock_guard lock(self->mutex_);
            auto it = self->transfers_.find(t->token);
            if (it != self->transfers_.end() && it->second.get() == t) {
                owned = std::move(it->second);
                self->transfers_.erase(it);
            }
        }
        const std::size_t offset = t->control ? LIBUSB_CONTROL_SETUP_SIZE : 0;
        const std::size_t actual = static_cast<std::size_t>(std::max(0, x->actual_length));
        const std::span<const UCHAR> data(t->buffer.data() + offset,
                                          std::min(actual, t->buffer.size() - offset));
        if (t->done) t->done(FromLibusb(x->status), data);
        libusb_free_transfer(x);
        owned.reset();
        std::lock_guard lock(self->mutex_);
        if (self->transfers_.empty()) self->drained_.notify_all();
    }

    libusb_device_handle* handle_;
    std::mutex mutex_;
    std::condition_variable drained_;
    std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers_;
};

}  // namespace

struct LibusbContext::Impl {
    libusb_context* ctx = nullptr;
    libusb_hotplug_callback_handle hotplug = 0;
    bool hotplugRegistered = false;
    int eventFd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::mutex mutex;
    std::vector<HotplugEvent> events;

    void Post(HotplugEvent e) {
        {
            std::lock_guard lock(mutex);
            events.push_back(e);
        }
        const std::uint64_t one = 1;
        (void)!::write(eventFd, &one, sizeof one);
    }

    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->Post({event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                    {libusb_get_bus_number(device), libusb_get_device_address(device)}});
        return 0;
    }

    ~Impl() {
        stop = true;
        if (hotplugRegistered) libusb_hotplug_deregister_callback(ctx, hotplug);  // wakes the loop
        if (ctx != nullptr) libusb_interrupt_event_handler(ctx);
        if (thread.joinable()) thread.join();
        if (ctx != nullptr) libusb_exit(ctx);
        if (eventFd >= 0) ::close(eventFd);
    }
};

LibusbContext::LibusbContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
LibusbContext::~LibusbContext() = default;

Result<std::unique_ptr<LibusbContext>> LibusbContext::Create(std::uint16_t vendorId,
                                                             std::uint16_t productId) {
    auto impl = std::make_unique<Impl>();
    impl->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl->eventFd < 0) return Error{std::string("eventfd: ") + std::strerror(errno)};
    if (int rc = libusb_init(&impl->ctx); rc != 0) {
        impl->ctx = nullptr;
        return Error{std::string("libusb: ") + libusb_strerror(rc)};
    }
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        return Error{"libusb: this system offers no hot-plug notification"};
    }
    const int rc = libusb_hotplug_register_callback(
        impl->ctx,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_ENUMERATE, vendorId, productId, LIBUSB_HOTPLUG_MATCH_ANY, &Impl::OnHotplug,
        impl.get(), &impl->hotplug);
    if (rc != 0) return Error{std::string("libusb hot-plug: ") + libusb_strerror(rc)};
    impl->hotplugRegistered = true;
    Impl* raw = impl.get();
    impl->thread = std::thread([raw] {
        while (!raw->stop) {
            timeval tv{0, 200'000};
            libusb_handle_events_timeout_completed(raw->ctx, &tv, nullptr);
        }
    });
    return std::unique_ptr<LibusbContext>(new LibusbContext(std::move(impl)));
}

int LibusbContext::eventFd() const {
    return impl_->eventFd;
}

std::vector<LibusbContext::HotplugEvent> LibusbContext::TakeEvents() {
    std::uint64_t n = 0;
    (void)!::read(impl_->eventFd, &n, sizeof n);
    std::lock_guard lock(impl_->mutex);
    std::vector<HotplugEvent> events;
    events.swap(impl_->events);
    return events;
}

Result<std::unique_ptr<LibusbApi>> LibusbContext::Open(const LibusbDeviceKey& key) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(impl_->ctx, &list);
    if (n < 0) return Error{std::string("libusb: ") + libusb_strerror(static_cast<int>(n))};
    libusb_device_handle* handle = nullptr;
    int rc = LIBUSB_ERROR_NOT_FOUND;
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_bus_number(list[i]) == key.bus &&
            libusb_get_device_address(list[i]) == key.address) {
            rc = libusb_open(list[i], &handle);
            break;
        }
    }
    libusb_free_device_list(list, 1);
    if (rc != 0) {
        return Error{"USB device " + std::to_string(key.bus) + ":" + std::to_string(key.address) +
                     ": " + libusb_strerror(rc)};
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    return std::unique_ptr<LibusbApi>(std::make_unique<RealDevice>(handle));
}

}  // namespace ys::usb
