// A scripted stand-in for the libusb calls of the libusb backend: tests state which transfers
// they expect to be submitted, script how each ends, and deliver the endings when they "handle
// events", as libusb's event loop would. Cancellations and a lost device end transfers the way
// libusb does.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "drivers/usb/libusb_backend.h"

namespace ys::test {

using kernel::UCHAR;

class ScriptedLibusb final : public usb::LibusbApi {
public:
    struct Submitted {
        std::uint64_t token = 0;
        usb::LibusbSubmission submission;
        usb::LibusbCompletion done;
        bool cancelRequested = false;
        bool ended = false;
    };
    struct Expectation {
        UCHAR endpoint = 0;
        std::uint32_t length = 0;
        int result = usb::kLibusbSuccess;
    };

    // The next submission must be on `endpoint` for `length` bytes; it returns `result`.
    void ExpectSubmit(UCHAR endpoint, std::uint32_t length, int result = usb::kLibusbSuccess) {
        expected_.push_back({endpoint, length, result});
    }
    // The oldest transfer still running on `endpoint` ends with `status` and `bytes` (IN data,
    // or for OUT the bytes taken) at the next HandleEvents().
    void Script(UCHAR endpoint, usb::LibusbTransferStatus status, std::vector<UCHAR> bytes = {}) {
        scripted_.push_back({endpoint, status, std::move(bytes)});
    }
    // The device goes: every call fails with LIBUSB_ERROR_NO_DEVICE, and the transfers still
    // running end with LIBUSB_TRANSFER_NO_DEVICE at the next HandleEvents().
    void Unplug() { unplugged_ = true; }
    // libusb_handle_events: delivers the scripted endings, then the cancellations.
    void HandleEvents() {
        while (!scripted_.empty()) {
            Scripted s = std::move(scripted_.front());
            scripted_.pop_front();
            Submitted* t = Oldest(s.endpoint);
            if (t == nullptr) {
                ADD_FAILURE() << "no transfer running on endpoint " << int(s.endpoint);
                continue;
            }
            End(*t, s.status, s.bytes);
        }
        for (Submitted& t : submitted_) {
            if (t.ended) continue;
            if (unplugged_) {
                End(t, usb::LibusbTransferStatus::kNoDevice, {});
            } else if (t.cancelRequested) {
                End(t, usb::LibusbTransferStatus::kCancelled, {});
            }
        }
    }
    void ExpectAllSubmitted() const {
        EXPECT_TRUE(expected_.empty()) << expected_.size() << " expected submissions not made";
    }

    const std::vector<Submitted>& submitted() const { return submitted_; }
    std::vector<std::string> calls() const { return calls_; }
    std::size_t running() const {
        std::size_t n = 0;
        for (const Submitted& t : submitted_) n += t.ended ? 0 : 1;
        return n;
    }

    int SubmitTransfer(std::uint64_t token, usb::LibusbSubmission s,
                       usb::LibusbCompletion done) override {
        if (expected_.empty()) {
            ADD_FAILURE() << "unexpected submission on endpoint " << int(s.endpoint);
            return usb::kLibusbErrorIo;
        }
        const Expectation e = expected_.front();
        expected_.pop_front();
        EXPECT_EQ(e.endpoint, s.endpoint);
        EXPECT_EQ(e.length, s.length);
        if (unplugged_) return usb::kLibusbErrorNoDevice;
        if (e.result != usb::kLibusbSuccess) return e.result;
        submitted_.push_back({token, std::move(s), std::move(done), false, false});
        return usb::kLibusbSuccess;
    }
    int CancelTransfer(std::uint64_t token) override {
        calls_.push_back("cancel " + std::to_string(token));
        for (Submitted& t : submitted_) {
            if (t.token == token && !t.ended) {
                t.cancelRequested = true;
                return unplugged_ ? usb::kLibusbErrorNoDevice : usb::kLibusbSuccess;
            }
        }
        return usb::kLibusbErrorNotFound;
    }
    int SetConfiguration(int value) override { return Call("configuration", value); }
    int InterfaceCount(int) override { return unplugged_ ? usb::kLibusbErrorNoDevice : 1; }
    int ClaimInterface(int number) override { return Call("claim", number); }
    int ReleaseInterface(int number) override { return Call("release", number); }
    int SetInterfaceAltSetting(int number, int alternate) override {
        return Call("alternate", number * 100 + alternate);
    }
    int ClearHalt(UCHAR endpoint) override { return Call("clear-halt", endpoint); }
    int ResetDevice() override { return Call("reset", 0); }

    // The result the next synchronous call gives (once).
    void FailNextCall(int result) { nextCallResult_ = result; }

private:
    struct Scripted {
        UCHAR endpoint;
        usb::LibusbTransferStatus status;
        std::vector<UCHAR> bytes;
    };

    Submitted* Oldest(UCHAR endpoint) {
        for (Submitted& t : submitted_) {
            if (!t.ended && t.submission.endpoint == endpoint) return &t;
        }
        return nullptr;
    }
    static void End(Submitted& t, usb::LibusbTransferStatus status,
                    const std::vector<UCHAR>& bytes) {
        t.ended = true;
        t.done(status, bytes);
    }
    int Call(const std::string& what, int value) {
        calls_.push_back(what + " " + std::to_string(value));
        if (unplugged_) return usb::kLibusbErrorNoDevice;
        if (nextCallResult_) {
            const int r = *nextCallResult_;
            nextCallResult_.reset();
            return r;
        }
        return usb::kLibusbSuccess;
    }

    std::deque<Expectation> expected_;
    std::deque<Scripted> scripted_;
    std::vector<Submitted> submitted_;
    std::vector<std::string> calls_;
    std::optional<int> nextCallResult_;
    bool unplugged_ = false;
};

}  // namespace ys::test
