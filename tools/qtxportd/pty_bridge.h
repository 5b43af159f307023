// The published port's pseudo-terminal and the bridge that carries it to the COM port of the
// driver stack. A program opening the slave side opens the COM port, closing it closes the port;
// the line settings it puts on the slave become the port's line settings; bytes flow both ways
// in order.
//
// Opening and closing are seen without holding the slave open ourselves: an inotify watch on the
// slave's device node reports every open and every last close of a descriptor, in order, so that
// a close followed at once by the next open is still two sessions; after the last close the
// bridge waits for the master's hang-up, forwarding the program's last bytes, before it closes
// the port. Every byte a program writes after its open reaches the port, however soon after a
// close the open comes (see ControlLoop). Line settings are read from the master (which reports the
// slave's termios) before bytes are forwarded and every few milliseconds while the port is open.
//
// One thread does it all. The port's bytes go to the master from the thread that ends the read:
// usually this one, inside the write that made the device answer, so that a block crosses no
// further thread on its way; the next read is started when that write returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/result.h"
#include "platform/unique_fd.h"
#include "tools/qtxportd/line_request.h"

namespace ys::portd {

// The driver side of the bridge: the COM port of the driver stack.
class ComEndpoint {
public:
    virtual ~ComEndpoint() = default;
    virtual Status Open() = 0;
    virtual void Close() = 0;
    virtual Status SetLine(const LineRequest& line) = 0;
    // Returns the number of bytes the device took (fewer only when the port failed).
    virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
    // How a read ended: the bytes that arrived (none after a short wait without any), or an
    // error when the port can no longer be read.
    using ReadEnd = std::function<void(Result<std::span<const std::uint8_t>>)>;
    // Starts a read that ends as soon as bytes arrive, or after a short wait without any. `ended`
    // runs once, on the thread that ends the read (possibly before StartRead returns); it must
    // neither block nor call the endpoint. One read at a time.
    virtual void StartRead(ReadEnd ended) = 0;
    // Ends the read under way, if any, and returns once its `ended` has run.
    virtual void StopRead() = 0;
};

// What the bridge reports as it goes (from its thread).
struct BridgeEvents {
    std::function<void()> opened;
    std::function<void()> closed;
    std::function<void(const LineRequest&)> lineSet;  // after the port took (or refused) them
    std::function<void(const std::string&)> failed;
};

class PtyBridge {
public:
    // Makes the pseudo-terminal (raw) and starts watching it.
    static Result<std::unique_ptr<PtyBridge>> Create(ComEndpoint& endpoint,
                                                     BridgeEvents events = {});
    ~PtyBridge();  // Stop()
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // Ends the threads; closes the COM port if a program still had the slave open.
    void Stop();

    bool portOpen() const { return open_; }
    std::uint64_t bytesToDevice() const { return toDevice_; }
    std::uint64_t bytesFromDevice() const { return fromDevice_; }

private:
    explicit PtyBridge(ComEndpoint& endpoint, BridgeEvents events);
    void ControlLoop();
    std::vector<int> TakeOpenEvents();
    void OnOpen();
    void OnClose();
    void ApplyLine();
    struct Drained {
        std::vector<std::uint8_t> bytes;
        bool hungUp = false;  // no slave open, and every byte written before its close is here
    };
    // Reads everything the programs wrote that is there now.
    Drained DrainMaster();
    // Hands bytes to the port of the session under way (after its line settings).
    void Deliver(std::span<const std::uint8_t> bytes);
    // Writes what the master takes now, without waiting; returns how much that was.
    std::size_t WriteToMasterNow(std::span<const std::uint8_t> bytes);
    // From whichever thread ends a read.
    void ReadEnded(Result<std::span<const std::uint8_t>> bytes);
    // Passes on what the master had no room for, and keeps a read under way while it has.
    void Pump();
    bool ToProgramWaiting();
    void Fail(const std::string& what);

    ComEndpoint& endpoint_;
    BridgeEvents events_;
    UniqueFd master_;
    UniqueFd inotify_;
    UniqueFd stopFd_;
    UniqueFd wakeFd_;  // a read ended on another thread
    std::string slavePath_;
    std::thread control_;
    std::thread::id controlId_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> open_{false};
    bool lineKnown_ = false;
    bool lineFresh_ = false;   // the line settings were read in this turn of the loop
    bool readFailed_ = false;  // the session's port can no longer be read
    LineRequest line_;
    std::mutex pumpMutex_;
    std::vector<std::uint8_t> toProgram_;  // arrived, not yet taken by the master; by pumpMutex_
    bool reading_ = false;                 // by pumpMutex_
    std::string readError_;                // by pumpMutex_
    std::atomic<std::uint64_t> toDevice_{0};
    std::atomic<std::uint64_t> fromDevice_{0};
    std::mutex stopMutex_;
};

}  // namespace ys::portd
