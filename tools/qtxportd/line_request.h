// The line settings a program sets on the published pseudo-terminal (speed, character size,
// parity, stop bits, flow control), taken from its termios as the serial requests of the COM
// port will carry them. A pseudo-terminal ignores them on its own "wire"; the device must not.
#pragma once

#include <termios.h>

#include <cstdint>

namespace ys::portd {

enum class LineParity : std::uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };

struct LineRequest {
    std::uint32_t baudRate = 115200;
    std::uint8_t dataBits = 8;
    LineParity parity = LineParity::kNone;
    std::uint8_t stopBits = 1;  // 1 or 2
    bool rtsCtsFlow = false;    // CRTSCTS: CTS output flow control and RTS handshake
    bool xonOutput = false;     // IXON: the device stops sending on XOFF
    bool xonInput = false;      // IXOFF: the device sends XOFF when its buffer fills
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
    friend bool operator==(const LineRequest&, const LineRequest&) = default;
};

// The settings of `tio`; a speed termios has no number for gives 0, which the port refuses.
LineRequest LineRequestFromTermios(const termios& tio);

}  // namespace ys::portd
