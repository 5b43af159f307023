// The platform's serial port interface: control codes, the records they carry and their flag
// values, with the platform's names, values and byte layouts. Shared by the virtual COM port
// driver and the programs that talk to it (the COM-port backend, the driver host's bridge).
#pragma once

#include <cstddef>

#include "drivers/kernel/kernel_types.h"

namespace ys::kernel {

constexpr ULONG SerialCtlCode(ULONG function) {
    return CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

inline constexpr ULONG IOCTL_SERIAL_SET_BAUD_RATE = SerialCtlCode(1);
inline constexpr ULONG IOCTL_SERIAL_SET_QUEUE_SIZE = SerialCtlCode(2);
inline constexpr ULONG IOCTL_SERIAL_SET_LINE_CONTROL = SerialCtlCode(3);
inline constexpr ULONG IOCTL_SERIAL_SET_BREAK_ON = SerialCtlCode(4);
inline constexpr ULONG IOCTL_SERIAL_SET_BREAK_OFF = SerialCtlCode(5);
inline constexpr ULONG IOCTL_SERIAL_IMMEDIATE_CHAR = SerialCtlCode(6);
inline constexpr ULONG IOCTL_SERIAL_SET_TIMEOUTS = SerialCtlCode(7);
inline constexpr ULONG IOCTL_SERIAL_GET_TIMEOUTS = SerialCtlCode(8);
inline constexpr ULONG IOCTL_SERIAL_SET_DTR = SerialCtlCode(9);
inline constexpr ULONG IOCTL_SERIAL_CLR_DTR = SerialCtlCode(10);
inline constexpr ULONG IOCTL_SERIAL_RESET_DEVICE = SerialCtlCode(11);
inline constexpr ULONG IOCTL_SERIAL_SET_RTS = SerialCtlCode(12);
inline constexpr ULONG IOCTL_SERIAL_CLR_RTS = SerialCtlCode(13);
inline constexpr ULONG IOCTL_SERIAL_SET_XOFF = SerialCtlCode(14);
inline constexpr ULONG IOCTL_SERIAL_SET_XON = SerialCtlCode(15);
inline constexpr ULONG IOCTL_SERIAL_GET_WAIT_MASK = SerialCtlCode(16);
inline constexpr ULONG IOCTL_SERIAL_SET_WAIT_MASK = SerialCtlCode(17);
inline constexpr ULONG IOCTL_SERIAL_WAIT_ON_MASK = SerialCtlCode(18);
inline constexpr ULONG IOCTL_SERIAL_PURGE = SerialCtlCode(19);
inline constexpr ULONG IOCTL_SERIAL_GET_BAUD_RATE = SerialCtlCode(20);
inline constexpr ULONG IOCTL_SERIAL_GET_LINE_CONTROL = SerialCtlCode(21);
inline constexpr ULONG IOCTL_SERIAL_GET_CHARS = SerialCtlCode(22);
inline constexpr ULONG IOCTL_SERIAL_SET_CHARS = SerialCtlCode(23);
inline constexpr ULONG IOCTL_SERIAL_GET_HANDFLOW = SerialCtlCode(24);
inline constexpr ULONG IOCTL_SERIAL_SET_HANDFLOW = SerialCtlCode(25);
inline constexpr ULONG IOCTL_SERIAL_GET_MODEMSTATUS = SerialCtlCode(26);
inline constexpr ULONG IOCTL_SERIAL_GET_COMMSTATUS = SerialCtlCode(27);
inline constexpr ULONG IOCTL_SERIAL_XOFF_COUNTER = SerialCtlCode(28);
inline constexpr ULONG IOCTL_SERIAL_GET_PROPERTIES = SerialCtlCode(29);
inline constexpr ULONG IOCTL_SERIAL_GET_DTRRTS = SerialCtlCode(30);
inline constexpr ULONG IOCTL_SERIAL_LSRMST_INSERT = SerialCtlCode(31);
inline constexpr ULONG IOCTL_SERIAL_CONFIG_SIZE = SerialCtlCode(32);
inline constexpr ULONG IOCTL_SERIAL_GET_STATS = SerialCtlCode(35);
inline constexpr ULONG IOCTL_SERIAL_CLEAR_STATS = SerialCtlCode(36);
inline constexpr ULONG IOCTL_SERIAL_GET_MODEM_CONTROL = SerialCtlCode(37);
inline constexpr ULONG IOCTL_SERIAL_SET_MODEM_CONTROL = SerialCtlCode(38);
inline constexpr ULONG IOCTL_SERIAL_SET_FIFO_CONTROL = SerialCtlCode(39);
// The driver's own codes (functions 200 and 201): reset the receive or the transmit pipe.
inline constexpr ULONG IOCTL_QTXVCOM_RESET_RX_PIPE = SerialCtlCode(200);
inline constexpr ULONG IOCTL_QTXVCOM_RESET_TX_PIPE = SerialCtlCode(201);
static_assert(IOCTL_SERIAL_SET_BAUD_RATE == 0x1B0004);
static_assert(IOCTL_QTXVCOM_RESET_RX_PIPE == 0x1B0320);
static_assert(IOCTL_QTXVCOM_RESET_TX_PIPE == 0x1B0324);

struct SERIAL_BAUD_RATE {
    ULONG BaudRate;
};

inline constexpr UCHAR STOP_BIT_1 = 0;
inline constexpr UCHAR STOP_BITS_1_5 = 1;
inline constexpr UCHAR STOP_BITS_2 = 2;
inline constexpr UCHAR NO_PARITY = 0;
inline constexpr UCHAR ODD_PARITY = 1;
inline constexpr UCHAR EVEN_PARITY = 2;
inline constexpr UCHAR MARK_PARITY = 3;
inline constexpr UCHAR SPACE_PARITY = 4;

struct SERIAL_LINE_CONTROL {
    UCHAR StopBits;
    UCHAR Parity;
    UCHAR WordLength;
};

// SERIAL_HANDFLOW.ControlHandShake
inline constexpr ULONG SERIAL_DTR_MASK = 0x03;
inline constexpr ULONG SERIAL_DTR_CONTROL = 0x01;
inline constexpr ULONG SERIAL_DTR_HANDSHAKE = 0x02;
inline constexpr ULONG SERIAL_CTS_HANDSHAKE = 0x08;
inline constexpr ULONG SERIAL_DSR_HANDSHAKE = 0x10;
inline constexpr ULONG SERIAL_DCD_HANDSHAKE = 0x20;
inline constexpr ULONG SERIAL_DSR_SENSITIVITY = 0x40;
inline constexpr ULONG SERIAL_ERROR_ABORT = 0x80000000;
// SERIAL_HANDFLOW.FlowReplace
inline constexpr ULONG SERIAL_AUTO_TRANSMIT = 0x01;
inline constexpr ULONG SERIAL_AUTO_RECEIVE = 0x02;
inline constexpr ULONG SERIAL_ERROR_CHAR = 0x04;
inline constexpr ULONG SERIAL_NULL_STRIPPING = 0x08;
inline constexpr ULONG SERIAL_BREAK_CHAR = 0x10;
inline constexpr ULONG SERIAL_RTS_MASK = 0xC0;
inline constexpr ULONG SERIAL_RTS_CONTROL = 0x40;
inline constexpr ULONG SERIAL_RTS_HANDSHAKE = 0x80;
inline constexpr ULONG SERIAL_XOFF_CONTINUE = 0x80000000;

struct SERIAL_HANDFLOW {
    ULONG ControlHandShake;
    ULONG FlowReplace;
    LONG XonLimit;
    LONG XoffLimit;
};

struct SERIAL_CHARS {
    UCHAR EofChar;
    UCHAR ErrorChar;
    UCHAR BreakChar;
    UCHAR EventChar;
    UCHAR XonChar;
    UCHAR XoffChar;
};

inline constexpr ULONG MAXULONG = 0xFFFFFFFF;

struct SERIAL_TIMEOUTS {
    ULONG ReadIntervalTimeout;
    ULONG ReadTotalTimeoutMultiplier;
    ULONG ReadTotalTimeoutConstant;
    ULONG WriteTotalTimeoutMultiplier;
    ULONG WriteTotalTimeoutConstant;
};

struct SERIAL_QUEUE_SIZE {
    ULONG InSize;
    ULONG OutSize;
};

struct SERIAL_STATUS {
    ULONG Errors;
    ULONG HoldReasons;
    ULONG AmountInInQueue;
    ULONG AmountInOutQueue;
    BOOLEAN EofReceived;
    BOOLEAN WaitForImmediate;
};

struct SERIALPERF_STATS {
    ULONG ReceivedCount;
    ULONG TransmittedCount;
    ULONG FrameErrorCount;
    ULONG SerialOverrunErrorCount;
    ULONG BufferOverrunErrorCount;
    ULONG ParityErrorCount;
};

struct SERIAL_COMMPROP {
    USHORT PacketLength;
    USHORT PacketVersion;
    ULONG ServiceMask;
    ULONG Reserved1;
    ULONG MaxTxQueue;
    ULONG MaxRxQueue;
    ULONG MaxBaud;
    ULONG ProvSubType;
    ULONG ProvCapabilities;
    ULONG SettableParams;
    ULONG SettableBaud;
    USHORT SettableData;
    USHORT SettableStopParity;
    ULONG CurrentTxQueue;
    ULONG CurrentRxQueue;
    ULONG ProvSpec1;
    ULONG ProvSpec2;
    char16_t ProvChar[1];
};

// The sizes the platform's records have; requests are checked against these.
static_assert(sizeof(SERIAL_LINE_CONTROL) == 3);
static_assert(sizeof(SERIAL_HANDFLOW) == 16);
static_assert(sizeof(SERIAL_CHARS) == 6);
static_assert(sizeof(SERIAL_TIMEOUTS) == 20);
static_assert(sizeof(SERIAL_STATUS) == 20);
static_assert(sizeof(SERIALPERF_STATS) == 24);
static_assert(sizeof(SERIAL_COMMPROP) == 64);

// Wait-mask events.
inline constexpr ULONG SERIAL_EV_RXCHAR = 0x0001;
inline constexpr ULONG SERIAL_EV_RXFLAG = 0x0002;
inline constexpr ULONG SERIAL_EV_TXEMPTY = 0x0004;
inline constexpr ULONG SERIAL_EV_CTS = 0x0008;
inline constexpr ULONG SERIAL_EV_DSR = 0x0010;
inline constexpr ULONG SERIAL_EV_RLSD = 0x0020;
inline constexpr ULONG SERIAL_EV_BREAK = 0x0040;
inline constexpr ULONG SERIAL_EV_ERR = 0x0080;
inline constexpr ULONG SERIAL_EV_RING = 0x0100;
inline constexpr ULONG SERIAL_EV_RX80FULL = 0x0400;

// IOCTL_SERIAL_PURGE flags.
inline constexpr ULONG SERIAL_PURGE_TXABORT = 0x1;
inline constexpr ULONG SERIAL_PURGE_RXABORT = 0x2;
inline constexpr ULONG SERIAL_PURGE_TXCLEAR = 0x4;
inline constexpr ULONG SERIAL_PURGE_RXCLEAR = 0x8;

// IOCTL_SERIAL_GET_DTRRTS / GET_MODEM_CONTROL bits.
inline constexpr ULONG SERIAL_DTR_STATE = 0x1;
inline constexpr ULONG SERIAL_RTS_STATE = 0x2;

// Modem status bits (IOCTL_SERIAL_GET_MODEMSTATUS).
inline constexpr ULONG SERIAL_MSR_DCTS = 0x01;
inline constexpr ULONG SERIAL_MSR_DDSR = 0x02;
inline constexpr ULONG SERIAL_MSR_TERI = 0x04;
inline constexpr ULONG SERIAL_MSR_DDCD = 0x08;
inline constexpr ULONG SERIAL_MSR_CTS = 0x10;
inline constexpr ULONG SERIAL_MSR_DSR = 0x20;
inline constexpr ULONG SERIAL_MSR_RI = 0x40;
inline constexpr ULONG SERIAL_MSR_DCD = 0x80;

}  // namespace ys::kernel
