// The driver host's configuration file and the line settings it reads off the pseudo-terminal.
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/qtxportd/line_request.h"
#include "tools/qtxportd/portd_config.h"

namespace ys::test {
namespace {

using portd::LineParity;
using portd::LineRequest;

std::uint32_t Dword(const portd::PortdConfig& c, const std::string& name) {
    for (const auto& [n, v] : c.dwords) {
        if (n == name) return v;
    }
    ADD_FAILURE() << name << " missing";
    return 0;
}

bool Has(const portd::PortdConfig& c, const std::string& name) {
    for (const auto& [n, v] : c.dwords) {
        if (n == name) return true;
    }
    return false;
}

TEST(PortdConfig, TheShippedFileServesTheMonitorUnit) {
    const auto c = portd::LoadConfig(SourceDir() + "/resources/qtxportd/monitor_unit.ini");
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(c->vendorId, 0xFFFE);
    EXPECT_EQ(c->productId, 0x5201);
    EXPECT_EQ(c->portName, "COM3");
    EXPECT_EQ(c->portNo, 3);
    EXPECT_EQ(c->strings, (std::vector<std::pair<std::string, std::string>>{{"PortName", "COM3"}}));
    EXPECT_EQ(Dword(*c, "EndPointCaps"), 1u);  // the unit has a status pipe
    EXPECT_EQ(Dword(*c, "TargetAlternateSetting"), 0xFFFFFFFFu);
    EXPECT_EQ(Dword(*c, "EP2_SegmentSize"), 64u);
    EXPECT_EQ(Dword(*c, "TxAllowNullPacket"), 1u);
    EXPECT_EQ(c->InstanceId("1"), "USB\\VID_FFFE&PID_5201\\1");
}

TEST(PortdConfig, ReadsThroughTheProfileRulesAndLeavesOutWhatIsMissing) {
    TempDir dir;
    // Case-insensitive names, blanks and quotes, LF ends, hexadecimal values.
    const std::string path = dir.Write("unit.ini",
                                       "[device]\nvendorid = 0x04b8 \nPRODUCTID=\"0a1F\"\n"
                                       "[QTXVCOM64]\nportname=com12\nRxReqSize=0x200\n"
                                       "[qtxusb64]\nEP1_SegmentSize = 4096\n");
    const auto c = portd::LoadConfig(path);
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(c->vendorId, 0x04B8);
    EXPECT_EQ(c->productId, 0x0A1F);
    EXPECT_EQ(c->portName, "COM12");
    EXPECT_EQ(Dword(*c, "RxReqSize"), 512u);
    EXPECT_EQ(Dword(*c, "EP1_SegmentSize"), 4096u);
    EXPECT_FALSE(Has(*c, "EndPointCaps"));  // the driver's default holds
    EXPECT_EQ(c->dwords.size(), 2u);
}

TEST(PortdConfig, RefusesWhatWouldMisconfigureTheDevice) {
    TempDir dir;
    const std::string good = "[Device]\r\nVendorId=FFFE\r\nProductId=5201\r\n";
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"[Device]\r\nProductId=5201\r\n[qtxvcom64]\r\nPortName=COM3\r\n",
         "[Device] VendorId is missing"},
        {"[Device]\r\nVendorId=12345\r\nProductId=5201\r\n[qtxvcom64]\r\nPortName=COM3\r\n",
         "[Device] VendorId must be four hexadecimal digits"},
        {good + "[qtxvcom64]\r\n", "[qtxvcom64] PortName is missing"},
        {good + "[qtxvcom64]\r\nPortName=COM0\r\n", "PortName must be COM1 to COM255"},
        {good + "[qtxvcom64]\r\nPortName=COM256\r\n", "PortName must be COM1 to COM255"},
        {good + "[qtxvcom64]\r\nPortName=/dev/ttyS0\r\n", "PortName must be COM1 to COM255"},
        {good + "[qtxvcom64]\r\nPortName=COM3\r\nRxReqSize=big\r\n",
         "[qtxvcom64] RxReqSize must be a 32-bit number"},
        {good + "[qtxvcom64]\r\nPortName=COM3\r\nRxReqSize=4294967296\r\n",
         "[qtxvcom64] RxReqSize must be a 32-bit number"},
    };
    for (const Case& k : cases) {
        const auto c = portd::LoadConfig(dir.Write("bad.ini", k.text));
        ASSERT_FALSE(c.ok()) << k.text;
        EXPECT_NE(c.error().find(k.message), std::string::npos) << c.error();
        EXPECT_EQ(c.error().rfind(dir.File("bad.ini"), 0), 0u) << c.error();
    }
    const auto missing = portd::LoadConfig(dir.File("none.ini"));
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("cannot read"), std::string::npos);
}

termios Raw(speed_t speed, tcflag_t size, tcflag_t extra) {
    termios t{};
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= size | extra;
    ::cfsetspeed(&t, speed);
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    return t;
}

TEST(LineRequestFromTermios, TakesSpeedSizeParityStopsAndFlow) {
    LineRequest r = portd::LineRequestFromTermios(Raw(B9600, CS7, PARENB | CSTOPB));
    EXPECT_EQ(r.baudRate, 9600u);
    EXPECT_EQ(r.dataBits, 7);
    EXPECT_EQ(r.parity, LineParity::kEven);
    EXPECT_EQ(r.stopBits, 2);
    EXPECT_FALSE(r.rtsCtsFlow);

    r = portd::LineRequestFromTermios(Raw(B115200, CS8, 0));
    EXPECT_EQ(r, LineRequest{});  // 115200 8N1, no flow control: the port's defaults

    r = portd::LineRequestFromTermios(Raw(B115200, CS8, CRTSCTS | PARENB | PARODD));
    EXPECT_TRUE(r.rtsCtsFlow);
    EXPECT_EQ(r.parity, LineParity::kOdd);

    termios x = Raw(B38400, CS6, PARENB | PARODD | CMSPAR);
    x.c_iflag |= IXON | IXOFF;
    x.c_cc[VSTART] = 0x01;
    x.c_cc[VSTOP] = 0x02;
    r = portd::LineRequestFromTermios(x);
    EXPECT_EQ(r.dataBits, 6);
    EXPECT_EQ(r.parity, LineParity::kMark);  // forwarded: the port refuses it, not the bridge
    EXPECT_TRUE(r.xonOutput);
    EXPECT_TRUE(r.xonInput);
    EXPECT_EQ(r.xonChar, 0x01);
    EXPECT_EQ(r.xoffChar, 0x02);
    EXPECT_EQ(portd::LineRequestFromTermios(Raw(B0, CS8, 0)).baudRate, 0u);
}

}  // namespace
}  // namespace ys::test
