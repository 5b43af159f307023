// qtxvcom64's per-device state and the routines its files share.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "drivers/kernel/kernel.h"
#include "drivers/kernel/serial_ioctl.h"
#include "drivers/usb/vendor_commands.h"
#include "drivers/vcom/qtxvcom.h"
#include "drivers/vcom/ring_buffer.h"

namespace ys::vcom {

using namespace kernel;

enum class PnpState { kNotStarted, kStarted, kStopPending, kStopped, kRemovePending, kRemoved };
enum class ReadMode { kImmediate, kFirstByte, kNoTimeout, kTotal };

inline constexpr ULONG kDefaultQueueSize = 4096;
inline constexpr ULONG kMaxTransfer = 4096;
inline constexpr ULONG kDefaultPacketSize = 64;

// A pipe of qtxusb64, opened by its name as a file object of this driver.
struct LowerPipe {
    explicit LowerPipe(const char* name) { file.FileName = name; }
    FILE_OBJECT file;
    bool open = false;
    ULONG packetSize = kDefaultPacketSize;
};

class VCOM_EXTENSION : public DeviceExtensionBase {
public:
    explicit VCOM_EXTENSION(Dispatcher& d);
    ~VCOM_EXTENSION() override;

    Dispatcher& dispatcher;
    DEVICE_OBJECT* self = nullptr;
    DEVICE_OBJECT* lowerDevice = nullptr;
    DEVICE_OBJECT* physicalDevice = nullptr;
    std::string deviceName;
    std::string portName;
    std::string linkName;
    std::string interfaceName;
    bool linkCreated = false;
    bool serialCommWritten = false;
    bool portNamed = false;

    // Plug and Play and power, guarded by `lock`.
    PnpState pnpState = PnpState::kNotStarted;
    PnpState previousPnpState = PnpState::kNotStarted;
    bool removed = false;
    bool surpriseRemoved = false;
    bool powered = true;
    IO_REMOVE_LOCK removeLock;

    // Settings.
    ULONG endPointCaps = 0;
    ULONG rxReqSizeSetting = 0;
    ULONG rxReqSize = 0;  // fitted to the receive pipe at open
    ULONG rxPollPeriod = 0;
    LONG ctlPollPeriod = 10;
    ULONG rawDump = 0;
    ULONG txKickThresholdSetting = 1;
    ULONG txKickThreshold = 1;  // fitted to the transmit pipe at open
    ULONG txAsync = 0;
    ULONG noBaudCheck = 0;
    ULONG txAllowNullPacket = 1;

    LowerPipe txPipe{"\\PIPE00"};
    LowerPipe rxPipe{"\\PIPE01"};
    LowerPipe statusPipe{"\\PIPE02"};

    // Everything below is guarded by `lock` unless it has a lock of its own.
    KSPIN_LOCK lock;
    ULONG baudRate = 115200;
    SERIAL_LINE_CONTROL lineControl{STOP_BIT_1, NO_PARITY, 8};
    SERIAL_HANDFLOW handflow{};
    SERIAL_CHARS chars{};
    UCHAR modemControl = 0;  // bit 0 RTS, bit 1 DTR, bit 2 break
    ULONG modemStatus = SERIAL_MSR_CTS | SERIAL_MSR_DSR | SERIAL_MSR_DCD;
    SERIAL_TIMEOUTS timeouts{MAXULONG, 0, 0, 0, 0};
    ReadMode readMode = ReadMode::kImmediate;
    ULONG inQueueSize = kDefaultQueueSize;
    ULONG outQueueSize = kDefaultQueueSize;
    ULONG errors = 0;
    ULONG holdReasons = 0;
    SERIALPERF_STATS stats{};
    LONG openCount = 0;
    bool portOpen = false;  // the open sequence has completed

    // Events and the pending wait.
    ULONG waitMask = 0;
    ULONG events = 0;
    IRP* pendingWait = nullptr;

    // Receiver.
    RingBuffer rxBuffer{kDefaultQueueSize};
    bool rxAccepting = true;
    std::vector<UCHAR> rxRequestBuffer;
    ULONG rxLeftOffset = 0;
    ULONG rxLeftCount = 0;
    bool rxRunning = false;
    bool rxOutstanding = false;  // a lower read is in flight
    bool rxScheduled = false;    // the next cycle is due from the timer or the DPC
    // The lower requests are shared so that a path that cancels one keeps it alive while its
    // completion may free or replace it.
    std::shared_ptr<IRP> rxIrp;
    IO_STATUS_BLOCK rxIosb;
    KEVENT rxIdle;
    KTIMER rxTimer;
    KDPC rxDpc;

    // Reads.
    std::deque<IRP*> readQueue;
    IRP* currentRead = nullptr;
    ULONG currentReadCount = 0;
    LONGLONG readTotalDue = 0;  // interrupt time; 0 = none
    LONGLONG readIntervalDue = 0;
    KTIMER readTotalTimer;
    KDPC readTotalDpc;
    KTIMER readIntervalTimer;
    KDPC readIntervalDpc;

    // Writes: the queue of both transmitters.
    std::deque<IRP*> writeQueue;
    IRP* currentWrite = nullptr;
    ULONG currentWriteDone = 0;  // bytes of the current write taken (async) or sent (sync)
    LONGLONG writeDue = 0;
    KTIMER writeTimer;
    KDPC writeTimerDpc;
    bool writeTimedOut = false;
    NTSTATUS txStatus = STATUS_SUCCESS;  // the result of the request in flight
    ULONG_PTR txInformation = 0;
    NTSTATUS syncWriteStatus = STATUS_SUCCESS;  // the data stage's, while its null packet goes
    ULONG_PTR syncWriteInformation = 0;
    ULONG syncTransmitted = 0;  // the synchronous path's running total
    // The lower request of the synchronous write or of an asynchronous transfer.
    std::shared_ptr<IRP> txIrp;
    IO_STATUS_BLOCK txIosb;
    std::vector<UCHAR> txTransfer;
    bool txInFlight = false;
    bool txNullPacket = false;  // the request in flight is a zero-length packet
    bool txRunning = false;
    KDPC txDoneDpc;
    KTIMER txKickTimer;
    KDPC txKickDpc;
    KEVENT txIdle;
    RingBuffer txBuffer{kDefaultQueueSize};

    // Immediate character.
    IRP* immediateIrp = nullptr;
    std::shared_ptr<IRP> immediateLower;
    IO_STATUS_BLOCK immediateIosb;
    UCHAR immediateChar = 0;

    // Status polling.
    bool pollRunning = false;
    bool pollOutstanding = false;
    std::shared_ptr<IRP> pollIrp;
    IO_STATUS_BLOCK pollIosb;
    UCHAR pollByte = 0;
    KEVENT pollIdle;
    KTIMER pollTimer;
    KDPC pollDpc;

    // Opening the port, closing it and stopping it for a removal take turns: each opens, aborts
    // or closes the same lower pipes. An auto-reset event used as a mutex, at PASSIVE_LEVEL.
    KEVENT portTurn;
};

// Holds the port's turn (real time; in virtual time one thread runs everything, and a wait there
// may run a removal's work nested inside a close on the same thread).
class PortTurn {
public:
    explicit PortTurn(VCOM_EXTENSION* ext) : ext_(ext->dispatcher.IsVirtual() ? nullptr : ext) {
        if (ext_ != nullptr) {
            KeWaitForSingleObject(&ext_->portTurn, Executive, KernelMode, false, nullptr);
        }
    }
    ~PortTurn() {
        if (ext_ != nullptr) KeSetEvent(&ext_->portTurn, IO_NO_INCREMENT, false);
    }
    PortTurn(const PortTurn&) = delete;
    PortTurn& operator=(const PortTurn&) = delete;

private:
    VCOM_EXTENSION* ext_;
};

inline VCOM_EXTENSION* Extension(DEVICE_OBJECT* device) {
    return GetDeviceExtension<VCOM_EXTENSION>(device);
}

// A request completed outside the lock once the state has been changed under it.
struct Completion {
    IRP* irp;
    NTSTATUS status;
    ULONG_PTR information;
};
using Completions = std::vector<Completion>;
void CompleteAll(Completions& list);
NTSTATUS CompleteRequest(IRP* irp, NTSTATUS status, ULONG_PTR information);
// Clears the cancel routine of a request taken out of the driver's state; false when cancelling is
// under way (the request is then completed as cancelled, and the cancel routine finds nothing).
bool ClaimFromCancel(IRP* irp);

// The deferred routines of the timers and completions; the context is the extension.
void RxDpcRoutine(KDPC*, void* context, void*, void*);
void ReadTotalDpcRoutine(KDPC*, void* context, void*, void*);
void ReadIntervalDpcRoutine(KDPC*, void* context, void*, void*);
void WriteTimerDpcRoutine(KDPC*, void* context, void*, void*);
void TxDoneDpcRoutine(KDPC*, void* context, void*, void*);
void TxKickDpcRoutine(KDPC*, void* context, void*, void*);
void PollDpcRoutine(KDPC*, void* context, void*, void*);

// lower_requests.cpp: synchronous requests to qtxusb64 (PASSIVE_LEVEL).
NTSTATUS OpenLowerPipe(VCOM_EXTENSION* ext, LowerPipe& pipe);
void CloseLowerPipe(VCOM_EXTENSION* ext, LowerPipe& pipe);
NTSTATUS LowerIoctl(VCOM_EXTENSION* ext, LowerPipe* pipe, ULONG code, const void* in,
                    ULONG inLength, void* out, ULONG outLength, ULONG_PTR* returned = nullptr);
NTSTATUS SendVendorCommand(VCOM_EXTENSION* ext, usb::VendorCommand command,
                           std::initializer_list<UCHAR> arguments);
NTSTATUS ForwardAndWait(VCOM_EXTENSION* ext, IRP* irp);
NTSTATUS PassDown(VCOM_EXTENSION* ext, IRP* irp);
// An asynchronous lower request on `pipe`; the completion routine gets `ext`.
std::unique_ptr<IRP> BuildLowerRead(VCOM_EXTENSION* ext, LowerPipe& pipe, UCHAR* buffer,
                                    ULONG length, IO_STATUS_BLOCK* iosb);
std::unique_ptr<IRP> BuildLowerWrite(VCOM_EXTENSION* ext, const UCHAR* data, ULONG length,
                                     IO_STATUS_BLOCK* iosb);

// line_settings.cpp
bool BaudRateAllowed(const VCOM_EXTENSION* ext, ULONG rate);
// Sends the stored line settings by the device's line coding.
NTSTATUS SendLineSettings(VCOM_EXTENSION* ext);
// Whether the line coding of the device can carry these settings.
bool LineCodingAccepts(const VCOM_EXTENSION* ext, ULONG baudRate);
ReadMode ReadModeFor(const SERIAL_TIMEOUTS& t);

// open_close.cpp
NTSTATUS VcomDispatchCreateClose(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS VcomDispatchCleanup(DEVICE_OBJECT* device, IRP* irp);
// Repeats the open sequence after power comes back (PASSIVE_LEVEL).
void ReopenAfterPowerUp(VCOM_EXTENSION* ext);
bool IsGone(VCOM_EXTENSION* ext);
bool PortIsOpen(VCOM_EXTENSION* ext);

// receiver.cpp
void StartReceiver(VCOM_EXTENSION* ext);
// With `wait`, aborts the receive pipe and waits for the read in flight (PASSIVE_LEVEL).
void StopReceiver(VCOM_EXTENSION* ext, bool wait);
// After bytes left the receive buffer: the restart mark. Called with `lock` held.
void RxBufferDrainedLocked(VCOM_EXTENSION* ext);
// Accumulates events and completes a pending wait they match. Called with `lock` held.
void SignalEventsLocked(VCOM_EXTENSION* ext, ULONG events, Completions& done);

// read_write.cpp
NTSTATUS VcomDispatchReadWrite(DEVICE_OBJECT* device, IRP* irp);
// Serves the read in progress from the receive buffer; called with `lock` held.
void ServeReadsLocked(VCOM_EXTENSION* ext, Completions& done);
void SetDueTimerLocked(VCOM_EXTENSION* ext, KTIMER* timer, KDPC* dpc, ULONGLONG ms, LONGLONG* due);
void RestartReadTimeoutLocked(VCOM_EXTENSION* ext);
void CancelReads(VCOM_EXTENSION* ext, NTSTATUS status);
void CancelWrites(VCOM_EXTENSION* ext, NTSTATUS status);
void StartNextSyncWrite(VCOM_EXTENSION* ext);
void WriteCancelRoutine(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS TxLowerComplete(DEVICE_OBJECT*, IRP* irp, void* context);
NTSTATUS VcomDispatchFlush(DEVICE_OBJECT* device, IRP* irp);

// transmitter.cpp
void StartTransmitter(VCOM_EXTENSION* ext);
void StopTransmitter(VCOM_EXTENSION* ext, bool wait);
// Starts a transfer if none is in flight and the buffer holds bytes (asynchronous path).
void KickTransmitter(VCOM_EXTENSION* ext);
// Moves the bytes of waiting asynchronous writes into the buffer; called with `lock` held.
void FillTxBufferLocked(VCOM_EXTENSION* ext, Completions& done);
// A write of the asynchronous path, queued and pending; completes what can be completed.
void AsyncWriteLocked(VCOM_EXTENSION* ext, IRP* irp, Completions& done);
void AsyncTxDone(VCOM_EXTENSION* ext);
NTSTATUS SendImmediateChar(VCOM_EXTENSION* ext, IRP* irp, UCHAR c);

// status_poll.cpp
void StartStatusPolling(VCOM_EXTENSION* ext);
void StopStatusPolling(VCOM_EXTENSION* ext, bool wait);
ULONG ModemStatusFromLineState(UCHAR lineState);

// serial_ioctl.cpp
NTSTATUS VcomDispatchDeviceControl(DEVICE_OBJECT* device, IRP* irp);

// pnp.cpp, power.cpp
NTSTATUS VcomDispatchPnp(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS VcomDispatchPower(DEVICE_OBJECT* device, IRP* irp);

}  // namespace ys::vcom
