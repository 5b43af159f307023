// The vendor control requests that carry the serial line to the monitor unit: the COM port
// driver sends them and the unit's device model answers them. One request (vendor, host to
// device, addressed to the device, number 0x0B); the first data byte names the command.
#pragma once

#include <cstdint>

namespace ys::usb {

inline constexpr std::uint8_t kVendorRequestType = 0x40;
inline constexpr std::uint8_t kVendorRequestNumber = 0x0B;

enum class VendorCommand : std::uint8_t {
    kSetLine = 0,              // line coding, one or two bytes by device type
    kSetControlLines = 1,      // the control-line bits below
    kSetFlowCharacters = 2,    // XON, XOFF
    kOpenPort = 3,             // kPortOpened or kPortClosed
    kSetErrorReplacement = 4,  // flag, error character
};

inline constexpr std::uint8_t kPortClosed = 0;
inline constexpr std::uint8_t kPortOpened = 1;

// Bits of kSetControlLines.
inline constexpr std::uint8_t kControlRts = 0x01;
inline constexpr std::uint8_t kControlDtr = 0x02;
inline constexpr std::uint8_t kControlBreak = 0x04;

}  // namespace ys::usb
