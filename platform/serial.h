// COM ports: the port-number-to-device mapping, and a port with the Windows communication
// semantics (exclusive open, line settings, read and write time-outs, error state) behind a small
// interface, so that the monitor link runs over a tty or over the driver stack alike.
#pragma once

#include <poll.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/result.h"
#include "platform/unique_fd.h"

namespace ys::serial {

inline constexpr int kMaxPortNo = 255;

enum class Parity { kNone, kOdd, kEven, kMark, kSpace };
enum class StopBits { kOne, kOneAndHalf, kTwo };

// The line parameters a caller sets; everything else (flow control, modem lines) stays as the
// device reports it.
struct LineSettings {
    std::uint32_t baudRate = 115200;
    int dataBits = 8;
    Parity parity = Parity::kNone;
    bool parityCheck = false;
    StopBits stopBits = StopBits::kOne;
    bool binary = true;  // no character translation of any kind
};

// Milliseconds, as in the Windows COMMTIMEOUTS structure: a read gives up after
// readTotalMultiplier × bytes + readTotalConstant, or readInterval after a byte once bytes flow;
// 0 disables a limit. readInterval = kMaxTimeout with both totals 0 returns at once with what is
// there; with readTotalMultiplier = kMaxTimeout too, a read returns as soon as any byte is there
// or after readTotalConstant.
struct Timeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};
inline constexpr std::uint32_t kMaxTimeout = 0xFFFFFFFF;

// A COM port. Every operation is synchronous; a port closes itself when destroyed.
class Port {
public:
    virtual ~Port() = default;

    // Opens port n (1-255) for exclusive reading and writing.
    virtual Status Open(int portNo) = 0;
    virtual bool IsOpen() const = 0;
    virtual Status SetLineSettings(const LineSettings& settings) = 0;
    virtual Status SetTimeouts(const Timeouts& timeouts) = 0;
    // Fills `buffer` within the time-outs; returns the number of bytes read (fewer on time-out or
    // when the device goes away).
    virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;
    // Returns the number of bytes written within the write time-out.
    virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
    // Discards pending line errors so that the next read is not refused because of them.
    virtual void ClearErrors() = 0;
    // Discards what has been received and not yet read (PurgeComm with PURGE_RXCLEAR).
    virtual void PurgeInput() = 0;
    virtual void Close() = 0;
};

// Makes a closed port of one backend.
using PortFactory = std::function<std::unique_ptr<Port>()>;

// The monotonic clock and the readiness wait behind the tty backend's time-outs. Tests put
// virtual time here.
class Timing {
public:
    virtual ~Timing() = default;
    virtual std::int64_t NowNs() = 0;
    // poll() with the time-out in milliseconds (-1: none).
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};
// CLOCK_MONOTONIC and poll().
Timing& SystemTiming();

// The folder where the driver host and the monitor-unit simulator publish their ports as links
// COMn: $NORVANE_PORT_DIR, else $XDG_RUNTIME_DIR/norvane/ports, else /run/norvane/ports.
std::string PortFolder();
// The link name for port n: "COMn".
std::string PortName(int portNo);
// The device for port n: the link COMn in the port folder if there is one, else /dev/ttyS0-31
// for COM1-32, /dev/ttyUSB0-31 for COM33-64, /dev/ttyACM0-31 for COM65-96; none above that.
std::optional<std::string> PortDevicePath(int portNo);
// Whether port n is published in the port folder (a link COMn there): the only ports that the
// automatic search for a monitor unit probes. Fixed devices may be someone else's console,
// modem or board.
bool IsPublishedPort(int portNo);

// Publishes a device as port COMn: a link COMn in the port folder that the COM port layer finds
// before any fixed device (what monitor-sim and qtxportd do). The link goes away with the object.
class PortLink {
public:
    // Creates `folder` if needed and links folder/COMn to `device`. A link left behind by a
    // publisher that died is replaced; one that a live publisher holds, or one to a device that
    // still exists and that no publisher of ours holds, is refused.
    static Result<std::unique_ptr<PortLink>> Publish(const std::string& folder, int portNo,
                                                     const std::string& device);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::string& linkPath() const { return link_; }

    // Removes the link (if it still points to our device); called by the destructor too.
    void Remove();

private:
    PortLink() = default;

    std::string link_;
    std::string lockPath_;
    std::string device_;
    UniqueFd lock_;
};

// The folder of the UUCP lock files LCK..name: $NORVANE_LOCK_DIR if set, else /run/lock.
std::string LockFolder();
// The lock file for a device path (/dev/ttyS0 -> LCK..ttyS0, /dev/pts/3 -> LCK..pts_3).
std::string LockFilePath(const std::string& devicePath);

// The tty backend: real serial ports, USB serial adapters and pseudo-terminals.
class TtyPort final : public Port {
public:
    explicit TtyPort(Timing& timing = SystemTiming()) : timing_(timing) {}
    ~TtyPort() override { Close(); }
    TtyPort(const TtyPort&) = delete;
    TtyPort& operator=(const TtyPort&) = delete;

    Status Open(int portNo) override;
    // Opens a device by path, exclusively as a COM port opens on Windows: a device that another
    // program uses (a lock file LCK..name of a live process, an flock, TIOCEXCL, or any other
    // process holding it open, as fuser sees it) is refused before anything is written to it or
    // changed on it. A process that holds the master side of a pseudo-terminal is the device
    // itself (a simulator or the driver host publishing the port) and does not count. While
    // open, the port holds the lock file, an exclusive flock and TIOCEXCL itself. It does not
    // become the controlling terminal, and its input queue is emptied as a fresh open of a COM
    // port has it.
    Status OpenPath(const std::string& path);
    bool IsOpen() const override { return fd_.valid(); }
    Status SetLineSettings(const LineSettings& settings) override;
    Status SetTimeouts(const Timeouts& timeouts) override;
    std::size_t Read(std::span<std::uint8_t> buffer) override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    void ClearErrors() override;
    void PurgeInput() override;
    // Gives the line settings found at open back to the device, clears TIOCEXCL, closes and
    // removes the lock file.
    void Close() override;

    int fd() const { return fd_.get(); }

private:
    Timing& timing_;
    Timeouts timeouts_;
    UniqueFd fd_;
    std::optional<termios> found_;  // the line settings at open
    std::string lockFile_;          // ours while the port is open; empty when none was made
};

PortFactory TtyPortFactory(Timing& timing = SystemTiming());

}  // namespace ys::serial
