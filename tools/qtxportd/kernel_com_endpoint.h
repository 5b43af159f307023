// The bridge's driver side: the COM port of the driver stack, opened by its name through the
// platform's serial calls, so that the program behind the pseudo-terminal drives qtxvcom64 as a
// program on the platform would.
#pragma once

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

    KernelComEndpoint(kernel::Kernel& kernel, std::string portName)
        : handle_(kernel), portName_(std::move(portName)) {}

    Status Open() override;
    void Close() override;
    Status SetLine(const LineRequest& line) override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    Result<std::size_t> Read(std::span<std::uint8_t> buffer) override;
    void CancelRead() override;

private:
    host::SerialHandle handle_;
    std::string portName_;
};

}  // namespace ys::portd
