// The COM-port backend that opens "\\.\COMn" through the kernel layer: the monitor link runs
// unchanged over the virtual COM port driver and everything below it.
#pragma once

#include <memory>

#include "drivers/host/serial_handle.h"
#include "platform/serial.h"

namespace ys::host {

class KernelComPort final : public serial::Port {
public:
    explicit KernelComPort(kernel::Kernel& kernel) : handle_(kernel) {}

    Status Open(int portNo) override;
    bool IsOpen() const override { return handle_.IsOpen(); }
    // Applied to the port's current settings: only the rate, data bits, parity and stop bits
    // change; flow control and the special characters stay as the driver reports them.
    Status SetLineSettings(const serial::LineSettings& settings) override;
    Status SetTimeouts(const serial::Timeouts& timeouts) override;
    std::size_t Read(std::span<std::uint8_t> buffer) override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    void ClearErrors() override;
    void PurgeInput() override;
    void Close() override;

    SerialHandle& handle() { return handle_; }

private:
    SerialHandle handle_;
};

serial::PortFactory KernelComPortFactory(kernel::Kernel& kernel);

}  // namespace ys::host
