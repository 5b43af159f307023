// The program's side of the kernel layer: opening a device by path and sending it reads, writes
// and device-control requests, synchronously or as requests a test keeps pending, cancels and
// waits for. Buffers are handled as the top device asks (buffered or direct I/O).
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/kernel/device.h"
#include "drivers/kernel/irp.h"

namespace ys::kernel {

class Kernel;

// Called on the thread that completes a request, at whatever level it runs, before the request
// counts as completed: its status and the bytes it returns (none when they were not copied back).
// It must not block or send requests.
using IoCompletion = std::function<void(NTSTATUS status, std::span<const UCHAR> output)>;

// One request in flight from a program. Destroying it while pending cancels it and waits.
class IoRequest {
public:
    IoRequest(Kernel& kernel, std::unique_ptr<IRP> irp, std::vector<UCHAR> userBuffer,
              std::shared_ptr<FILE_OBJECT> file, DEVICE_OBJECT* target);
    ~IoRequest();
    IoRequest(const IoRequest&) = delete;
    IoRequest& operator=(const IoRequest&) = delete;

    // Sends the request; returns what the top driver's dispatch routine returned. Deferred calls
    // the drivers queued meanwhile run on this thread before it returns (real time).
    NTSTATUS Send();
    // Before Send: what runs when the request completes.
    void OnCompletion(IoCompletion onCompletion);
    bool completed() const;
    // Waits (in virtual time: runs queued work and moves time on) until it has completed.
    NTSTATUS Wait();
    NTSTATUS status() const;
    ULONG_PTR information() const;
    // The bytes the request returned (reads and output buffers), information() long; none when
    // a failed buffered request copied nothing back.
    std::span<const UCHAR> output() const;
    BOOLEAN Cancel();
    IRP* irp() const { return irp_.get(); }
    std::span<UCHAR> userBuffer() { return userBuffer_; }

private:
    std::span<const UCHAR> Returned(const IO_STATUS_BLOCK& status) const;

    Kernel& kernel_;
    std::unique_ptr<IRP> irp_;
    std::vector<UCHAR> userBuffer_;
    std::shared_ptr<FILE_OBJECT> file_;
    DEVICE_OBJECT* target_;
    KEVENT done_;
    IO_STATUS_BLOCK ioStatus_;
    bool sent_ = false;
};

// An open handle. Closing sends cleanup and close; the destructor closes a handle still open.
class File {
public:
    File(Kernel& kernel, DEVICE_OBJECT* target, std::shared_ptr<FILE_OBJECT> fileObject);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    std::unique_ptr<IoRequest> StartRead(ULONG length, LONGLONG offset = 0,
                                         IoCompletion onCompletion = {});
    std::unique_ptr<IoRequest> StartWrite(std::span<const UCHAR> data, LONGLONG offset = 0);
    // `output` is the output buffer as the program passes it: its size is the output length, and
    // with METHOD_IN_DIRECT its content is what goes to the device.
    std::unique_ptr<IoRequest> StartDeviceIoControl(ULONG ioControlCode,
                                                    std::span<const UCHAR> input,
                                                    std::vector<UCHAR> output);

    // `transferred` counts the bytes placed in `buffer`.
    NTSTATUS Read(std::span<UCHAR> buffer, ULONG_PTR* transferred, LONGLONG offset = 0);
    NTSTATUS Write(std::span<const UCHAR> data, ULONG_PTR* transferred, LONGLONG offset = 0);
    NTSTATUS DeviceIoControl(ULONG ioControlCode, std::span<const UCHAR> input,
                             std::span<UCHAR> output, ULONG_PTR* returned);
    NTSTATUS Close();

    FILE_OBJECT& fileObject() { return *fileObject_; }
    DEVICE_OBJECT* target() const { return target_; }

private:
    std::unique_ptr<IoRequest> Build(UCHAR major, ULONG ioControlCode, std::span<const UCHAR> input,
                                     std::vector<UCHAR> output, LONGLONG offset);
    friend class IoManager;
    Kernel& kernel_;
    DEVICE_OBJECT* target_;
    std::shared_ptr<FILE_OBJECT> fileObject_;
    bool open_ = true;
};

class IoManager {
public:
    explicit IoManager(Kernel& kernel) : kernel_(kernel) {}

    // Opens `path` ("\Device\X\PIPE00", "\\.\COM3", an interface link plus a file name): the
    // create request goes to the top of the stack of the device the path names.
    NTSTATUS CreateFile(std::string_view path, std::unique_ptr<File>* file);
    // Opens the stack `device` belongs to with `fileName` as the file object's name.
    NTSTATUS OpenDevice(DEVICE_OBJECT* device, std::string fileName, std::unique_ptr<File>* file);

private:
    Kernel& kernel_;
};

}  // namespace ys::kernel
