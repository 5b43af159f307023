// The driver host's configuration of one device model: which USB device it serves (vendor and
// product ID) and the values its two drivers find in the device's hardware key, read from an INI
// file through the profile layer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace ys::portd {

struct PortdConfig {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // Registry values in the order of the file's driver sections: 32-bit values and strings.
    std::vector<std::pair<std::string, std::uint32_t>> dwords;
    std::vector<std::pair<std::string, std::string>> strings;
    std::string portName;  // "COMn", also among `strings` as PortName
    int portNo = 0;        // n

    // "USB\VID_vvvv&PID_pppp\<serial>"
    std::string InstanceId(const std::string& serial) const;
};

// The 32-bit values the two drivers read, in the sections named after them; EPn_SegmentSize is
// taken for endpoint numbers 0 to 15.
inline constexpr const char* kPipeDriverValues[] = {
    "MaximumTransferSize",     "TargetAlternateSetting",  "TargetInterfaceClass",
    "TargetInterfaceSubClass", "TargetInterfaceProtocol",
};
inline constexpr const char* kSerialDriverValues[] = {
    "DebugLevel", "EndPointCaps",    "RxReqSize", "RxPollPeriod", "CtlPollPeriod",
    "RawDump",    "TxKickThreshold", "TxAsync",   "NoBaudCheck",  "TxAllowNullPacket",
};

// Reads [Device] VendorId and ProductId (hexadecimal, "0x" optional), [qtxusb64] and
// [qtxvcom64] (PortName among the latter). A value left out stays out of the registry, so that
// the driver's default holds. Errors name the file and the key.
Result<PortdConfig> LoadConfig(const std::string& path);

}  // namespace ys::portd
