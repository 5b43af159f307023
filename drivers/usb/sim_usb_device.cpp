#include "drivers/usb/sim_usb_device.h"

#include <algorithm>
#include <cstdio>

#include "drivers/usb/descriptors.h"

namespace ys::usb {

using namespace kernel;

namespace {

std::string EndpointEvent(const char* what, UCHAR endpoint) {
    char s[32];
    std::snprintf(s, sizeof s, "%s %02x", what, endpoint);
    return s;
}

}  // namespace

SimUsbDevice::SimUsbDevice(Dispatcher& dispatcher, std::vector<UCHAR> deviceDescriptor,
                           std::vector<UCHAR> configurationDescriptor)
    : dispatcher_(dispatcher),
      deviceDescriptor_(std::move(deviceDescriptor)),
      configurationDescriptor_(std::move(configurationDescriptor)),
      pollTimer_(dispatcher),
      pollDpc_(dispatcher, PollDpc, this) {
    UCHAR interval = 0;
    for (std::size_t at : DescriptorOffsets(configurationDescriptor_)) {
        auto e = ParseEndpointDescriptor(std::span(configurationDescriptor_).subspan(at));
        if (!e) continue;
        Endpoint& ep = endpoints_[e->bEndpointAddress];
        ep.type = static_cast<USBD_PIPE_TYPE>(e->bmAttributes & USB_ENDPOINT_TYPE_MASK);
        ep.maxPacketSize = e->wMaxPacketSize & 0x07FF;
        ep.interval = std::max<UCHAR>(e->bInterval, 1);
        if (ep.type == UsbdPipeTypeInterrupt) {
            interval = interval == 0 ? ep.interval : std::min(interval, ep.interval);
        }
    }
    pollInterval_ = std::max<UCHAR>(interval, 1);
}

SimUsbDevice::~SimUsbDevice() {
    {
        std::lock_guard lock(mutex_);
        polling_ = true;  // keeps a poll in progress from setting the timer again
        closing_ = true;
    }
    KeCancelTimer(&pollTimer_);
}

// ---- test side

void SimUsbDevice::QueueInData(UCHAR endpoint, std::span<const UCHAR> data) {
    std::vector<Completion> done;
    {
        std::lock_guard lock(mutex_);
        Endpoint& ep = endpoints_[endpoint];
        if (data.empty() && ep.type == UsbdPipeTypeBulk)
            ep.zeroPackets.push_back(ep.inQueue.size());
        ep.inQueue.insert(ep.inQueue.end(), data.begin(), data.end());
        if (ep.type != UsbdPipeTypeInterrupt) ServeBulkInLocked(ep, done);
    }
    Report(done);
}

std::size_t SimUsbDevice::QueuedInBytes(UCHAR endpoint) const {
    std::lock_guard lock(mutex_);
    auto it = endpoints_.find(endpoint);
    return it == endpoints_.end() ? 0 : it->second.inQueue.size();
}

std::vector<UCHAR> SimUsbDevice::OutData(UCHAR endpoint) const {
    std::lock_guard lock(mutex_);
    auto it = endpoints_.find(endpoint);
    return it == endpoints_.end() ? std::vector<UCHAR>() : it->second.outData;
}

std::vector<SimUsbDevice::TransferRecord> SimUsbDevice::Transfers() const {
    std::lock_guard lock(mutex_);
    return {transfers_.begin(), transfers_.end()};
}

std::vector<SimUsbDevice::TransferRecord> SimUsbDevice::Transfers(UCHAR endpoint) const {
    std::lock_guard lock(mutex_);
    std::vector<TransferRecord> out;
    std::copy_if(transfers_.begin(), transfers_.end(), std::back_inserter(out),
                 [&](const TransferRecord& r) { return r.endpoint == endpoint; });
    return out;
}

std::vector<SimUsbDevice::ControlRecord> SimUsbDevice::ControlRequests() const {
    std::lock_guard lock(mutex_);
    return controls_;
}

std::vector<std::string> SimUsbDevice::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::size_t SimUsbDevice::PendingTransfers(UCHAR endpoint) const {
    std::lock_guard lock(mutex_);
    auto it = endpoints_.find(endpoint);
    return it == endpoints_.end() ? 0 : it->second.pending.size();
}

int SimUsbDevice::ClearHaltCount(UCHAR endpoint) const {
    std::lock_guard lock(mutex_);
    auto it = endpoints_.find(endpoint);
    return it == endpoints_.end() ? 0 : it->second.clearHalts;
}

UCHAR SimUsbDevice::configuration() const {
    std::lock_guard lock(mutex_);
    return configuration_;
}

DEVICE_POWER_STATE SimUsbDevice::power() const {
    std::lock_guard lock(mutex_);
    return power_;
}

int SimUsbDevice::portResets() const {
    std::lock_guard lock(mutex_);
    return portResets_;
}

int SimUsbDevice::portCycles() const {
    std::lock_guard lock(mutex_);
    return portCycles_;
}

int SimUsbDevice::portEnables() const {
    std::lock_guard lock(mutex_);
    return portEnables_;
}

void SimUsbDevice::SetPortEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    portEnabled_ = enabled;
}

void SimUsbDevice::Unplug() {
    {
        std::lock_guard lock(mutex_);
        if (unplugged_) return;
        unplugged_ = true;
    }
    std::lock_guard host(hostMutex_);
    if (host_ != nullptr) host_->DeviceGone();
}

bool SimUsbDevice::unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

void SimUsbDevice::SignalRemoteWakeup() {
    std::lock_guard host(hostMutex_);
    if (host_ != nullptr) host_->RemoteWakeup();
}

void SimUsbDevice::StallEndpoint(UCHAR endpoint) {
    std::lock_guard lock(mutex_);
    endpoints_[endpoint].stalled = true;
}

bool SimUsbDevice::IsStalled(UCHAR endpoint) const {
    std::lock_guard lock(mutex_);
    auto it = endpoints_.find(endpoint);
    return it != endpoints_.end() && it->second.stalled;
}

void SimUsbDevice::FailTransfer(UCHAR endpoint, int index, USBD_STATUS status) {
    std::lock_guard lock(mutex_);
    Endpoint& ep = endpoints_[endpoint];
    ep.failures[ep.nextIndex + index] = status;
}

void SimUsbDevice::ShortTransfer(UCHAR endpoint, int index, ULONG bytes) {
    std::lock_guard lock(mutex_);
    Endpoint& ep = endpoints_[endpoint];
    ep.shorts[ep.nextIndex + index] = bytes;
}

void SimUsbDevice::UnplugOnTransfer(UCHAR endpoint, int index) {
    std::lock_guard lock(mutex_);
    Endpoint& ep = endpoints_[endpoint];
    ep.unplugAt = ep.nextIndex + index;
}

// ---- backend

void SimUsbDevice::Connect(UsbBackendHost* host) {
    std::lock_guard lock(hostMutex_);
    host_ = host;
}

void SimUsbDevice::KeepOutData(Endpoint& ep, std::span<const UCHAR> bytes) {
    ep.outData.insert(ep.outData.end(), bytes.begin(), bytes.end());
    // Trimmed in large steps, so that a long stream is not moved byte by byte.
    if (ep.outData.size() >= 2 * kKeptOutBytes) {
        ep.outData.erase(ep.outData.begin(),
                         ep.outData.end() - static_cast<std::ptrdiff_t>(kKeptOutBytes));
    }
}

void SimUsbDevice::Report(std::vector<Completion>& done) {
    if (done.empty()) return;
    std::lock_guard lock(hostMutex_);
    if (host_ == nullptr) return;
    for (Completion& c : done) host_->TransferComplete(c.first, std::move(c.second));
}

void SimUsbDevice::CompleteLocked(const UsbTransferId id, const UsbTransfer& t, USBD_STATUS status,
                                  ULONG actual, std::vector<Completion>& done,
                                  std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets) {
    TransferRecord r;
    r.endpoint = t.endpointAddress;
    r.type = t.type;
    r.in = t.in;
    r.shortOk = t.shortOk;
    r.requested = static_cast<ULONG>(t.buffer.size());
    r.actual = actual;
    r.status = status;
    r.packets = t.packets.size();
    r.startAsap = t.startAsap;
    r.startFrame = t.startFrame;
    transfers_.push_back(r);
    if (transfers_.size() > kKeptTransfers) transfers_.pop_front();
    done.emplace_back(id, UsbTransferResult{status, actual, std::move(packets)});
}

void SimUsbDevice::ServeBulkInLocked(Endpoint& ep, std::vector<Completion>& done) {
    if (unplugged_) return;  // a device that has gone sends nothing
    for (;;) {
        const bool zeroPacketDue = !ep.zeroPackets.empty() && ep.zeroPackets.front() == 0;
        if (ep.pending.empty() ||
            (ep.inQueue.empty() && !zeroPacketDue && !ep.pending.front().transfer.buffer.empty())) {
            return;
        }
        Pending p = std::move(ep.pending.front());
        ep.pending.pop_front();
        std::size_t n = std::min(p.transfer.buffer.size(), ep.inQueue.size());
        if (!ep.zeroPackets.empty()) n = std::min(n, ep.zeroPackets.front());  // ends before it
        if (p.shortLimit != 0) n = std::min<std::size_t>(n, p.shortLimit);
        if (n == 0 && zeroPacketDue) ep.zeroPackets.pop_front();
        std::copy_n(ep.inQueue.begin(), n, p.transfer.buffer.begin());
        ep.inQueue.erase(ep.inQueue.begin(), ep.inQueue.begin() + static_cast<std::ptrdiff_t>(n));
        for (std::size_t& before : ep.zeroPackets) before -= n;
        CompleteLocked(p.id, p.transfer, USBD_STATUS_SUCCESS, static_cast<ULONG>(n), done);
    }
}

void SimUsbDevice::Submit(UsbTransferId id, const UsbTransfer& t) {
    if (t.type == UsbdPipeTypeControl) {
        HandleControl(id, t);
        return;
    }
    std::vector<Completion> done;
    std::optional<std::vector<UCHAR>> written;
    bool gone = false;
    bool arm = false;
    {
        std::lock_guard lock(mutex_);
        auto it = endpoints_.find(t.endpointAddress);
        if (it == endpoints_.end()) {
            CompleteLocked(id, t, USBD_STATUS_INVALID_PIPE_HANDLE, 0, done);
        } else if (unplugged_) {
            it->second.pending.push_back(Pending{id, t, 0});  // nobody answers any more
        } else {
            Endpoint& ep = it->second;
            const int index = ep.nextIndex++;
            ULONG shortLimit = 0;
            if (auto s = ep.shorts.find(index); s != ep.shorts.end()) {
                shortLimit = s->second;
                ep.shorts.erase(s);
            }
            if (ep.unplugAt && *ep.unplugAt == index) {
                ep.unplugAt.reset();
                unplugged_ = true;
                gone = true;
                ep.pending.push_back(Pending{id, t, 0});
            } else if (auto f = ep.failures.find(index); f != ep.failures.end()) {
                const USBD_STATUS status = f->second;
                ep.failures.erase(f);
                CompleteLocked(id, t, status, 0, done);
            } else if (ep.stalled) {
                CompleteLocked(id, t, USBD_STATUS_STALL_PID, 0, done);
            } else if (t.type == UsbdPipeTypeIsochronous) {
                std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets = t.packets;
                ULONG total = 0;
                for (std::size_t i = 0; i < packets.size(); ++i) {
                    const std::size_t end =
                        i + 1 < packets.size() ? packets[i + 1].Offset : t.buffer.size();
                    std::size_t n = end > packets[i].Offset ? end - packets[i].Offset : 0;
                    if (t.in) {
                        n = std::min(n, ep.inQueue.size());
                        std::copy_n(ep.inQueue.begin(), n, t.buffer.begin() + packets[i].Offset);
                        ep.inQueue.erase(ep.inQueue.begin(),
                                         ep.inQueue.begin() + static_cast<std::ptrdiff_t>(n));
                    } else {
                        KeepOutData(ep, t.buffer.subspan(packets[i].Offset, n));
                    }
                    packets[i].Length = static_cast<ULONG>(n);
                    packets[i].Status = USBD_STATUS_SUCCESS;
                    total += static_cast<ULONG>(n);
                }
                CompleteLocked(id, t, USBD_STATUS_SUCCESS, total, done, std::move(packets));
            } else if (!t.in) {
                std::size_t n = t.buffer.size();
                if (shortLimit != 0) n = std::min<std::size_t>(n, shortLimit);
                written.emplace(t.buffer.begin(),
                                t.buffer.begin() + static_cast<std::ptrdiff_t>(n));
                KeepOutData(ep, *written);
                CompleteLocked(id, t, USBD_STATUS_SUCCESS, static_cast<ULONG>(n), done);
            } else {
                ep.pending.push_back(Pending{id, t, shortLimit});
                if (ep.type == UsbdPipeTypeInterrupt) {
                    arm = !polling_;
                    polling_ = true;
                } else {
                    ServeBulkInLocked(ep, done);
                }
            }
        }
    }
    // The model sees the data before the host learns the write is done, so its answer is
    // already queued when the host reads.
    if (written) OnOutData(t.endpointAddress, *written);
    Report(done);
    if (arm) KeSetTimer(&pollTimer_, RelativeMs(pollInterval_), &pollDpc_);
    if (gone) {
        std::lock_guard host(hostMutex_);
        if (host_ != nullptr) host_->DeviceGone();
    }
}

void SimUsbDevice::Cancel(UsbTransferId id) {
    std::vector<Completion> done;
    {
        std::lock_guard lock(mutex_);
        for (auto& [address, ep] : endpoints_) {
            auto it = std::find_if(ep.pending.begin(), ep.pending.end(),
                                   [&](const Pending& p) { return p.id == id; });
            if (it == ep.pending.end()) continue;
            const UsbTransfer t = it->transfer;
            ep.pending.erase(it);
            events_.push_back(EndpointEvent("cancel", address));
            CompleteLocked(id, t, USBD_STATUS_CANCELED, 0, done);
            break;
        }
    }
    Report(done);
}

void SimUsbDevice::HandleControl(UsbTransferId id, const UsbTransfer& t) {
    std::vector<Completion> done;
    const UsbSetupPacket& s = t.setup;
    USBD_STATUS status = USBD_STATUS_STALL_PID;
    ULONG actual = 0;
    bool unplugged = false;
    {
        std::lock_guard lock(mutex_);
        unplugged = unplugged_;
    }
    if (unplugged) {
        status = USBD_STATUS_DEV_NOT_RESPONDING;
    } else if (s.type() == 0) {
        std::lock_guard lock(mutex_);
        const UCHAR descriptorType = static_cast<UCHAR>(s.wValue >> 8);
        if (s.bRequest == USB_REQUEST_GET_DESCRIPTOR && s.in()) {
            const std::vector<UCHAR>* d =
                descriptorType == USB_DEVICE_DESCRIPTOR_TYPE          ? &deviceDescriptor_
                : descriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE ? &configurationDescriptor_
                                                                      : nullptr;
            if (d != nullptr) {
                actual = static_cast<ULONG>(std::min(t.buffer.size(), d->size()));
                std::copy_n(d->begin(), actual, t.buffer.begin());
                status = USBD_STATUS_SUCCESS;
            }
        } else if (s.bRequest == USB_REQUEST_GET_STATUS && s.in()) {
            actual = static_cast<ULONG>(std::min<std::size_t>(t.buffer.size(), 2));
            std::fill_n(t.buffer.begin(), actual, UCHAR{0});
            status = USBD_STATUS_SUCCESS;
        } else if (s.bRequest == USB_REQUEST_SET_FEATURE ||
                   s.bRequest == USB_REQUEST_CLEAR_FEATURE) {
            status = USBD_STATUS_SUCCESS;
        } else if (s.bRequest == USB_REQUEST_SET_CONFIGURATION) {
            configuration_ = static_cast<UCHAR>(s.wValue);
            status = USBD_STATUS_SUCCESS;
        }
    } else {
        std::vector<UCHAR> out;
        if (!s.in()) out.assign(t.buffer.begin(), t.buffer.end());
        status = OnControlRequest(s, t.buffer, &actual);
        if (!s.in()) actual = USBD_SUCCESS(status) ? static_cast<ULONG>(t.buffer.size()) : 0;
        std::lock_guard lock(mutex_);
        ControlRecord rec{s,
                          s.in() ? std::vector<UCHAR>(t.buffer.begin(), t.buffer.begin() + actual)
                                 : std::move(out),
                          status};
        controls_.push_back(std::move(rec));
    }
    {
        std::lock_guard lock(mutex_);
        CompleteLocked(id, t, status, USBD_SUCCESS(status) ? actual : 0, done);
    }
    Report(done);
}

void SimUsbDevice::PollDpc(KDPC*, void* context, void*, void*) {
    static_cast<SimUsbDevice*>(context)->Poll();
}

void SimUsbDevice::Poll() {
    std::vector<UCHAR> due;
    {
        std::lock_guard lock(mutex_);
        if (closing_) return;
        for (auto& [address, ep] : endpoints_) {
            if (ep.type == UsbdPipeTypeInterrupt && !ep.pending.empty() && !unplugged_) {
                due.push_back(address);
            }
        }
    }
    std::vector<std::pair<UCHAR, std::vector<UCHAR>>> reports;
    for (UCHAR address : due) {
        if (auto data = OnInterruptIn(address)) reports.emplace_back(address, std::move(*data));
    }
    std::vector<Completion> done;
    bool again = false;
    {
        std::lock_guard lock(mutex_);
        if (closing_) return;
        for (auto& [address, data] : reports) {
            Endpoint& ep = endpoints_[address];
            if (ep.pending.empty()) continue;
            Pending p = std::move(ep.pending.front());
            ep.pending.pop_front();
            std::size_t n = std::min(p.transfer.buffer.size(), data.size());
            if (p.shortLimit != 0) n = std::min<std::size_t>(n, p.shortLimit);
            std::copy_n(data.begin(), n, p.transfer.buffer.begin());
            CompleteLocked(p.id, p.transfer, USBD_STATUS_SUCCESS, static_cast<ULONG>(n), done);
        }
        for (auto& [address, ep] : endpoints_) {
            if (ep.type == UsbdPipeTypeInterrupt && !ep.pending.empty() && !unplugged_)
                again = true;
        }
        polling_ = again;
    }
    Report(done);
    if (again) KeSetTimer(&pollTimer_, RelativeMs(pollInterval_), &pollDpc_);
}

USBD_STATUS SimUsbDevice::SetConfiguration(UCHAR value) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return USBD_STATUS_DEVICE_GONE;
    configuration_ = value;
    events_.push_back("configuration " + std::to_string(value));
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS SimUsbDevice::SetInterface(UCHAR, UCHAR) {
    std::lock_guard lock(mutex_);
    return unplugged_ ? USBD_STATUS_DEVICE_GONE : USBD_STATUS_SUCCESS;
}

USBD_STATUS SimUsbDevice::ClearHalt(UCHAR endpoint) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return USBD_STATUS_DEVICE_GONE;
    Endpoint& ep = endpoints_[endpoint];
    ep.stalled = false;
    ++ep.clearHalts;
    events_.push_back(EndpointEvent("clear-halt", endpoint));
    return USBD_STATUS_SUCCESS;
}

ULONG SimUsbDevice::PortStatus() {
    std::lock_guard lock(mutex_);
    if (unplugged_) return 0;
    return USBD_PORT_CONNECTED | (portEnabled_ ? USBD_PORT_ENABLED : 0);
}

NTSTATUS SimUsbDevice::EnablePort() {
    std::lock_guard lock(mutex_);
    ++portEnables_;
    portEnabled_ = true;
    return STATUS_SUCCESS;
}

NTSTATUS SimUsbDevice::ResetPort() {
    std::lock_guard lock(mutex_);
    ++portResets_;
    portEnabled_ = true;
    for (auto& [address, ep] : endpoints_) ep.stalled = false;
    return STATUS_SUCCESS;
}

NTSTATUS SimUsbDevice::CyclePort() {
    std::lock_guard lock(mutex_);
    ++portCycles_;
    return STATUS_SUCCESS;
}

ULONG SimUsbDevice::CurrentFrameNumber() {
    return static_cast<ULONG>(dispatcher_.Now() / 10000);  // one frame per millisecond
}

void SimUsbDevice::SetDevicePower(DEVICE_POWER_STATE state) {
    std::lock_guard lock(mutex_);
    power_ = state;
    events_.push_back("power D" + std::to_string(static_cast<int>(state) - 1));
}

bool SimUsbDevice::SupportsRemoteWakeup() const {
    auto config = ParseConfigurationDescriptor(configurationDescriptor_);
    return config && (config->bmAttributes & USB_CONFIG_REMOTE_WAKEUP) != 0;
}

void SimUsbDevice::OnOutData(UCHAR, std::span<const UCHAR>) {}

USBD_STATUS SimUsbDevice::OnControlRequest(const UsbSetupPacket&, std::span<UCHAR>, ULONG*) {
    return USBD_STATUS_STALL_PID;
}

std::optional<std::vector<UCHAR>> SimUsbDevice::OnInterruptIn(UCHAR endpoint) {
    std::lock_guard lock(mutex_);
    Endpoint& ep = endpoints_[endpoint];
    if (ep.inQueue.empty()) return std::nullopt;
    const std::size_t n = std::min<std::size_t>(ep.inQueue.size(), ep.maxPacketSize);
    std::vector<UCHAR> report(ep.inQueue.begin(),
                              ep.inQueue.begin() + static_cast<std::ptrdiff_t>(n));
    ep.inQueue.erase(ep.inQueue.begin(), ep.inQueue.begin() + static_cast<std::ptrdiff_t>(n));
    return report;
}

}  // namespace ys::usb
