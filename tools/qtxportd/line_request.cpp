#include "tools/qtxportd/line_request.h"

namespace ys::portd {
namespace {

struct SpeedEntry {
    speed_t code;
    std::uint32_t rate;
};
constexpr SpeedEntry kSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800}, {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
};

}  // namespace

LineRequest LineRequestFromTermios(const termios& tio) {
    LineRequest r;
    const speed_t speed = ::cfgetospeed(&tio);
    r.baudRate = 0;
    for (const SpeedEntry& e : kSpeeds) {
        if (e.code == speed) r.baudRate = e.rate;
    }
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            r.dataBits = 5;
            break;
        case CS6:
            r.dataBits = 6;
            break;
        case CS7:
            r.dataBits = 7;
            break;
        default:
            r.dataBits = 8;
            break;
    }
    if ((tio.c_cflag & PARENB) == 0) {
        r.parity = LineParity::kNone;
    } else if ((tio.c_cflag & CMSPAR) != 0) {
        r.parity = (tio.c_cflag & PARODD) != 0 ? LineParity::kMark : LineParity::kSpace;
    } else {
        r.parity = (tio.c_cflag & PARODD) != 0 ? LineParity::kOdd : LineParity::kEven;
    }
    r.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    r.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    r.xonOutput = (tio.c_iflag & IXON) != 0;
    r.xonInput = (tio.c_iflag & IXOFF) != 0;
    r.xonChar = tio.c_cc[VSTART];
    r.xoffChar = tio.c_cc[VSTOP];
    return r;
}

}  // namespace ys::portd
