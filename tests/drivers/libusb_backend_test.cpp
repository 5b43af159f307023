// The libusb backend's mapping of transfers and their endings, against scripted libusb calls:
// data in both directions, stalls, short transfers, time-outs, cancellation and a device that
// goes in the middle of a transfer.
#include <gtest/gtest.h>

#include <map>

#include "tests/drivers/libusb_fake.h"

namespace ys::test {
namespace {

using usb::LibusbTransferStatus;
using usb::UsbTransfer;
using usb::UsbTransferId;
using usb::UsbTransferResult;

constexpr UCHAR kOut = 0x01;
constexpr UCHAR kIn = 0x82;

// Records what the backend tells the bus.
class RecordingHost final : public usb::UsbBackendHost {
public:
    void TransferComplete(UsbTransferId id, UsbTransferResult result) override {
        ++completions[id];
        results[id] = std::move(result);
    }
    void DeviceGone() override { ++gone; }
    void RemoteWakeup() override {}

    std::map<UsbTransferId, int> completions;
    std::map<UsbTransferId, UsbTransferResult> results;
    int gone = 0;
};

class LibusbBackendTest : public ::testing::Test {
protected:
    LibusbBackendTest() {
        auto api = std::make_unique<ScriptedLibusb>();
        fake = api.get();
        backend = std::make_unique<usb::LibusbBackend>(std::move(api));
        backend->Connect(&host);
    }
    ~LibusbBackendTest() override { fake->ExpectAllSubmitted(); }

    UsbTransfer Bulk(UCHAR endpoint, std::vector<UCHAR>& buffer, bool shortOk = true) {
        UsbTransfer t;
        t.type = usb::UsbdPipeTypeBulk;
        t.endpointAddress = endpoint;
        t.in = (endpoint & 0x80) != 0;
        t.buffer = buffer;
        t.shortOk = shortOk;
        return t;
    }

    RecordingHost host;
    ScriptedLibusb* fake = nullptr;  // owned by the backend
    std::unique_ptr<usb::LibusbBackend> backend;
};

TEST_F(LibusbBackendTest, BulkTransfersCarryTheirBytesBothWays) {
    std::vector<UCHAR> out = {0x65, 0x00, 0x9B};
    std::vector<UCHAR> in(64, 0xEE);
    fake->ExpectSubmit(kOut, 3);
    fake->ExpectSubmit(kIn, 64);
    backend->Submit(1, Bulk(kOut, out));
    backend->Submit(2, Bulk(kIn, in));
    ASSERT_EQ(fake->submitted().size(), 2u);
    EXPECT_EQ(fake->submitted()[0].submission.out, out);
    EXPECT_FALSE(fake->submitted()[0].submission.in);
    EXPECT_TRUE(fake->submitted()[1].submission.in);
    EXPECT_EQ(fake->submitted()[1].submission.timeoutMs, 0u);  // bulk waits as long as asked
    EXPECT_TRUE(host.completions.empty());

    fake->Script(kOut, LibusbTransferStatus::kCompleted);
    fake->Script(kIn, LibusbTransferStatus::kCompleted, std::vector<UCHAR>(64, 0x41));
    fake->HandleEvents();
    EXPECT_EQ(host.results[1].status, usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(host.results[1].actualLength, 3u);
    EXPECT_EQ(host.results[2].status, usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(host.results[2].actualLength, 64u);
    EXPECT_EQ(in, std::vector<UCHAR>(64, 0x41));
    EXPECT_EQ(backend->outstanding(), 0u);
}

TEST_F(LibusbBackendTest, ControlTransfersCarryTheSetupPacketAndATimeOut) {
    std::vector<UCHAR> data = {0x00, 0x0F};
    UsbTransfer t;
    t.type = usb::UsbdPipeTypeControl;
    t.setup = {0x40, 0x0B, 0, 0, 2};
    t.buffer = data;
    fake->ExpectSubmit(0, 2);
    backend->Submit(7, t);
    const auto& s = fake->submitted().at(0).submission;
    EXPECT_EQ(s.setup, (std::array<UCHAR, 8>{0x40, 0x0B, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(s.out, data);
    EXPECT_EQ(s.timeoutMs, usb::kControlTimeoutMs);

    // An IN control transfer: the descriptor bytes land in the bus's buffer.
    std::vector<UCHAR> descriptor(18);
    t.setup = {0x80, 0x06, 0x0100, 0, 18};
    t.in = true;
    t.buffer = descriptor;
    fake->ExpectSubmit(0, 18);
    backend->Submit(8, t);
    fake->Script(0, LibusbTransferStatus::kCompleted);
    fake->Script(0, LibusbTransferStatus::kCompleted, {18, 1, 0x00, 0x02});
    fake->HandleEvents();
    EXPECT_EQ(host.results[7].status, usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(host.results[8].actualLength, 4u);
    EXPECT_EQ(descriptor[0], 18);
    EXPECT_EQ(descriptor[3], 0x02);
}

TEST_F(LibusbBackendTest, AStallAndATimeOutKeepTheBytesThatMoved) {
    std::vector<UCHAR> in(64), out(100, 0x33);
    fake->ExpectSubmit(kIn, 64);
    fake->ExpectSubmit(kOut, 100);
    backend->Submit(1, Bulk(kIn, in));
    backend->Submit(2, Bulk(kOut, out));
    fake->Script(kIn, LibusbTransferStatus::kStall, {1, 2, 3});
    fake->Script(kOut, LibusbTransferStatus::kTimedOut, std::vector<UCHAR>(64, 0x33));
    fake->HandleEvents();
    EXPECT_EQ(host.results[1].status, usb::USBD_STATUS_STALL_PID);
    EXPECT_EQ(host.results[1].actualLength, 3u);
    EXPECT_EQ(in[2], 3);
    EXPECT_EQ(host.results[2].status, usb::USBD_STATUS_DEV_NOT_RESPONDING);
    EXPECT_EQ(host.results[2].actualLength, 64u);
    EXPECT_EQ(host.gone, 0);

    // Other endings: errors, never success.
    EXPECT_EQ(usb::LibusbBackend::MapTransferStatus(LibusbTransferStatus::kError),
              usb::USBD_STATUS_XACT_ERROR);
    EXPECT_EQ(usb::LibusbBackend::MapTransferStatus(LibusbTransferStatus::kOverflow),
              usb::USBD_STATUS_XACT_ERROR);
}

TEST_F(LibusbBackendTest, AShortTransferIsAnErrorOnlyWhenShortIsNotAllowed) {
    std::vector<UCHAR> allowed(64), refused(64);
    fake->ExpectSubmit(kIn, 64);
    fake->ExpectSubmit(kIn, 64);
    backend->Submit(1, Bulk(kIn, allowed, true));
    backend->Submit(2, Bulk(kIn, refused, false));
    fake->Script(kIn, LibusbTransferStatus::kCompleted, {9, 9, 9, 9, 9});
    fake->Script(kIn, LibusbTransferStatus::kCompleted, {7, 7});
    fake->HandleEvents();
    EXPECT_EQ(host.results[1].status, usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(host.results[1].actualLength, 5u);
    EXPECT_EQ(host.results[2].status, usb::USBD_STATUS_ERROR_SHORT_TRANSFER);
    EXPECT_EQ(host.results[2].actualLength, 2u);  // the bytes that came are not lost
    EXPECT_EQ(refused[1], 7);
}

TEST_F(LibusbBackendTest, ACancelledTransferEndsOnceAsCanceled) {
    std::vector<UCHAR> in(64);
    fake->ExpectSubmit(kIn, 64);
    backend->Submit(4, Bulk(kIn, in));
    backend->Cancel(4);
    EXPECT_TRUE(host.completions.empty());  // libusb ends it from its event loop
    fake->HandleEvents();
    EXPECT_EQ(host.completions[4], 1);
    EXPECT_EQ(host.results[4].status, usb::USBD_STATUS_CANCELED);
    // Cancelling what has ended already asks libusb nothing.
    const std::size_t calls = fake->calls().size();
    backend->Cancel(4);
    EXPECT_EQ(fake->calls().size(), calls);
    EXPECT_EQ(host.completions[4], 1);
}

TEST_F(LibusbBackendTest, ADeviceLostMidTransferEndsEveryTransferAndIsReportedOnce) {
    std::vector<UCHAR> in(64), status(1), out(3, 1);
    fake->ExpectSubmit(kIn, 64);
    fake->ExpectSubmit(0x83, 1);
    fake->ExpectSubmit(kOut, 3);
    backend->Submit(1, Bulk(kIn, in));
    UsbTransfer poll = Bulk(0x83, status);
    poll.type = usb::UsbdPipeTypeInterrupt;
    backend->Submit(2, poll);
    backend->Submit(3, Bulk(kOut, out));
    fake->Script(kOut, LibusbTransferStatus::kCompleted);
    fake->Unplug();
    fake->HandleEvents();
    EXPECT_EQ(host.results[3].status, usb::USBD_STATUS_SUCCESS);  // done before the loss
    EXPECT_EQ(host.results[1].status, usb::USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(host.results[2].status, usb::USBD_STATUS_DEVICE_GONE);
    for (UsbTransferId id : {1, 2, 3}) EXPECT_EQ(host.completions[id], 1) << id;
    EXPECT_EQ(host.gone, 1);
    EXPECT_EQ(backend->outstanding(), 0u);

    // The hot-plug departure that follows, and later requests, change nothing more.
    backend->Disconnected();
    backend->Submit(5, Bulk(kIn, in));  // never reaches libusb (the fake would object)
    EXPECT_EQ(host.results[5].status, usb::USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(host.gone, 1);
    EXPECT_EQ(backend->SetConfiguration(1), usb::USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(backend->PortStatus(), 0u);
    EXPECT_EQ(backend->ResetPort(), kernel::STATUS_NO_SUCH_DEVICE);
}

TEST_F(LibusbBackendTest, AHotPlugDepartureEndsTransfersBeforeLibusbDoes) {
    std::vector<UCHAR> in(64);
    fake->ExpectSubmit(kIn, 64);
    backend->Submit(1, Bulk(kIn, in));
    backend->Disconnected();
    EXPECT_EQ(host.completions[1], 1);
    EXPECT_EQ(host.results[1].status, usb::USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(host.gone, 1);
    // libusb's own ending comes later with data: dropped, and the bus's buffer is left alone.
    fake->Script(kIn, LibusbTransferStatus::kCompleted, {5, 5});
    fake->HandleEvents();
    EXPECT_EQ(host.completions[1], 1);
    EXPECT_EQ(in[0], 0);
}

TEST_F(LibusbBackendTest, ASubmissionLibusbRefusesEndsAtOnce) {
    std::vector<UCHAR> in(64);
    fake->ExpectSubmit(kIn, 64, usb::kLibusbErrorPipe);
    backend->Submit(1, Bulk(kIn, in));
    EXPECT_EQ(host.results[1].status, usb::USBD_STATUS_STALL_PID);
    EXPECT_EQ(host.gone, 0);
    fake->ExpectSubmit(kIn, 64, usb::kLibusbErrorNoDevice);
    backend->Submit(2, Bulk(kIn, in));
    EXPECT_EQ(host.results[2].status, usb::USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(host.gone, 1);
    EXPECT_EQ(host.completions[1] + host.completions[2], 2);
}

TEST_F(LibusbBackendTest, ConfiguringClaimsTheInterfacesAndDeconfiguringReleasesThem) {
    EXPECT_EQ(backend->SetConfiguration(1), usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(backend->SetInterface(0, 0), usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(backend->ClearHalt(kIn), usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(backend->SetConfiguration(0), usb::USBD_STATUS_SUCCESS);
    EXPECT_EQ(fake->calls(), (std::vector<std::string>{"configuration 1", "claim 0", "alternate 0",
                                                       "clear-halt 130", "release 0"}));
    // A kernel driver holding the interface, a stalled clear-halt.
    fake->FailNextCall(usb::kLibusbErrorBusy);
    EXPECT_EQ(backend->SetConfiguration(1), usb::USBD_STATUS_ERROR_BUSY);
    fake->FailNextCall(usb::kLibusbErrorPipe);
    EXPECT_EQ(backend->ClearHalt(kIn), usb::USBD_STATUS_STALL_PID);
    EXPECT_EQ(backend->PortStatus(), usb::USBD_PORT_CONNECTED | usb::USBD_PORT_ENABLED);
}

TEST_F(LibusbBackendTest, NothingReachesADisconnectedHost) {
    std::vector<UCHAR> in(64);
    fake->ExpectSubmit(kIn, 64);
    backend->Submit(1, Bulk(kIn, in));
    backend->Connect(nullptr);
    fake->Script(kIn, LibusbTransferStatus::kCompleted, {1});
    fake->HandleEvents();
    backend->Disconnected();
    EXPECT_TRUE(host.completions.empty());
    EXPECT_EQ(host.gone, 0);
}

}  // namespace
}  // namespace ys::test
