// The bridge's driver side: the COM port of the driver stack, opened by its name through the
// platform's serial calls, so that the program behind the pseudo-terminal drives qtxvcom64 as a
// program on the platform would.
#pragma once

#include <memory>
#include <string>

#include "drivers/host/serial_handle.h"
#include "tools/qtxportd/pty_bridge.h"

namespace ys::portd {

// The device control block for `line`, over the port's current one (`dcb`): speed, size, parity,
// stop bits, RTS/CTS and XON/XOFF flow control with their characters.
host::Dcb DcbForLine(host::Dcb dcb, const LineRequest& line);

class KernelComEndpoint final : public ComEndpoint {
public:
    // Reads wait this long for a first byte before handing back nothing.
    static constexpr kernel::ULONG kFirstByteMs = 50;
    // The most one read takes: more than a block of the monitor unit's answer.
    static constexpr kernel::ULONG kReadLength = 1024;

    KernelComEndpoint(kernel::Kernel& kernel, std::string portName)
        : handle_(kernel), portName_(std::move(portName)) {}

    Status Open() override;
    void Close() override;
    Status SetLine(const LineRequest& line) override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    void StartRead(ReadEnd ended) override;
    void StopRead() override;

private:
    host::SerialHandle handle_;
    std::string portName_;
    std::unique_ptr<kernel::IoRequest> read_;
};

}  // namespace ys::portd
