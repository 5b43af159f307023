#include "drivers/kernel/io_manager.h"

#include <algorithm>
#include <cstring>

#include "drivers/kernel/kernel.h"

namespace ys::kernel {

IoRequest::IoRequest(Kernel& kernel, std::unique_ptr<IRP> irp, std::vector<UCHAR> userBuffer,
                     std::shared_ptr<FILE_OBJECT> file, DEVICE_OBJECT* target)
    : kernel_(kernel),
      irp_(std::move(irp)),
      userBuffer_(std::move(userBuffer)),
      file_(std::move(file)),
      target_(target),
      done_(kernel.dispatcher(), NotificationEvent, false) {
    ObReferenceObject(target_);
    irp_->UserEvent = &done_;
    irp_->UserIosb = &ioStatus_;
}

IoRequest::~IoRequest() {
    if (sent_ && !completed()) {
        Cancel();
        Wait();
    }
    ObDereferenceObject(target_);
}

NTSTATUS IoRequest::Send() {
    sent_ = true;
    const Dispatcher::InlineDpcScope inlineDpcs(kernel_.dispatcher());
    return IoCallDriver(target_, irp_.get());
}

void IoRequest::OnCompletion(IoCompletion onCompletion) {
    if (sent_) KeBugCheck("completion set on a request already sent");
    if (!onCompletion) return;
    irp_->owner.onFinished = [this, call = std::move(onCompletion)](IRP& irp) {
        call(irp.IoStatus.Status, Returned(irp.IoStatus));
    };
}

std::span<const UCHAR> IoRequest::Returned(const IO_STATUS_BLOCK& status) const {
    if (!irp_->owner.copyBackTo.empty() && !NT_SUCCESS(status.Status)) return {};
    return std::span<const UCHAR>(userBuffer_)
        .first(std::min<std::size_t>(status.Information, userBuffer_.size()));
}

bool IoRequest::completed() const {
    return KeReadStateEvent(const_cast<KEVENT*>(&done_)) != 0;
}

NTSTATUS IoRequest::Wait() {
    KeWaitForSingleObject(&done_, Executive, UserMode, false, nullptr);
    return ioStatus_.Status;
}

NTSTATUS IoRequest::status() const {
    return completed() ? ioStatus_.Status : STATUS_PENDING;
}

ULONG_PTR IoRequest::information() const {
    return completed() ? ioStatus_.Information : 0;
}

std::span<const UCHAR> IoRequest::output() const {
    if (!completed()) return {};
    return Returned(ioStatus_);
}

BOOLEAN IoRequest::Cancel() {
    return IoCancelIrp(irp_.get());
}

File::File(Kernel& kernel, DEVICE_OBJECT* target, std::shared_ptr<FILE_OBJECT> fileObject)
    : kernel_(kernel), target_(target), fileObject_(std::move(fileObject)) {}

File::~File() {
    if (open_) Close();
    ObDereferenceObject(target_);
}

std::unique_ptr<IoRequest> File::Build(UCHAR major, ULONG code, std::span<const UCHAR> input,
                                       std::vector<UCHAR> output, LONGLONG offset) {
    if (major == IRP_MJ_WRITE) output.assign(input.begin(), input.end());
    auto request = std::make_unique<IoRequest>(kernel_, IoAllocateIrp(target_->StackSize, false),
                                               std::move(output), fileObject_, target_);
    IRP* irp = request->irp();
    const std::span<UCHAR> user = request->userBuffer();
    irp->RequestorMode = UserMode;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->FileObject = fileObject_.get();

    enum class Mode { kNone, kBuffered, kDirect, kNeither } mode = Mode::kNone;
    const bool control = major == IRP_MJ_DEVICE_CONTROL || major == IRP_MJ_INTERNAL_DEVICE_CONTROL;
    if (major == IRP_MJ_READ || major == IRP_MJ_WRITE) {
        auto& p = major == IRP_MJ_READ ? next->Parameters.Read : next->Parameters.Write;
        p.Length = static_cast<ULONG>(user.size());
        p.ByteOffset.QuadPart = offset;
        mode = (target_->Flags & DO_BUFFERED_IO) ? Mode::kBuffered
               : (target_->Flags & DO_DIRECT_IO) ? Mode::kDirect
                                                 : Mode::kNeither;
    } else if (control) {
        auto& p = next->Parameters.DeviceIoControl;
        p.IoControlCode = code;
        p.InputBufferLength = static_cast<ULONG>(input.size());
        p.OutputBufferLength = static_cast<ULONG>(user.size());
        const ULONG method = METHOD_FROM_CTL_CODE(code);
        mode = method == METHOD_BUFFERED  ? Mode::kBuffered
               : method == METHOD_NEITHER ? Mode::kNeither
                                          : Mode::kDirect;
    }

    auto& own = irp->owner;
    if (mode == Mode::kBuffered) {
        const std::span<const UCHAR> in = major == IRP_MJ_WRITE ? std::span<const UCHAR>(user)
                                          : control             ? input
                                                                : std::span<const UCHAR>();
        own.systemBuffer.assign(std::max(in.size(), user.size()), 0);
        std::copy(in.begin(), in.end(), own.systemBuffer.begin());
        if (!own.systemBuffer.empty()) irp->AssociatedIrp.SystemBuffer = own.systemBuffer.data();
        if (major != IRP_MJ_WRITE && !user.empty()) own.copyBackTo = user;
    } else if (mode != Mode::kNone) {
        if (control && !input.empty()) {
            own.systemBuffer.assign(input.begin(), input.end());
            if (mode == Mode::kDirect) {
                irp->AssociatedIrp.SystemBuffer = own.systemBuffer.data();
            } else {
                next->Parameters.DeviceIoControl.Type3InputBuffer = own.systemBuffer.data();
            }
        }
        if (!user.empty()) {
            if (mode == Mode::kDirect) {
                own.mdl = IoAllocateMdl(user.data(), static_cast<ULONG>(user.size()));
                irp->MdlAddress = own.mdl.get();
            } else {
                irp->UserBuffer = user.data();
            }
        }
    }
    return request;
}

std::unique_ptr<IoRequest> File::StartRead(ULONG length, LONGLONG offset,
                                           IoCompletion onCompletion) {
    auto r = Build(IRP_MJ_READ, 0, {}, std::vector<UCHAR>(length, 0), offset);
    r->OnCompletion(std::move(onCompletion));
    r->Send();
    return r;
}

std::unique_ptr<IoRequest> File::StartWrite(std::span<const UCHAR> data, LONGLONG offset) {
    auto r = Build(IRP_MJ_WRITE, 0, data, {}, offset);
    r->Send();
    return r;
}

std::unique_ptr<IoRequest> File::StartDeviceIoControl(ULONG code, std::span<const UCHAR> input,
                                                      std::vector<UCHAR> output) {
    auto r = Build(IRP_MJ_DEVICE_CONTROL, code, input, std::move(output), 0);
    r->Send();
    return r;
}

NTSTATUS File::Read(std::span<UCHAR> buffer, ULONG_PTR* transferred, LONGLONG offset) {
    if (!open_) return STATUS_INVALID_HANDLE;
    auto r = StartRead(static_cast<ULONG>(buffer.size()), offset);
    const NTSTATUS status = r->Wait();
    const std::span<const UCHAR> out = r->output();
    std::copy(out.begin(), out.end(), buffer.begin());
    if (transferred != nullptr) *transferred = out.size();
    return status;
}

NTSTATUS File::Write(std::span<const UCHAR> data, ULONG_PTR* transferred, LONGLONG offset) {
    if (!open_) return STATUS_INVALID_HANDLE;
    auto r = StartWrite(data, offset);
    const NTSTATUS status = r->Wait();
    if (transferred != nullptr) *transferred = r->information();
    return status;
}

NTSTATUS File::DeviceIoControl(ULONG code, std::span<const UCHAR> input, std::span<UCHAR> output,
                               ULONG_PTR* returned) {
    if (!open_) return STATUS_INVALID_HANDLE;
    auto r = StartDeviceIoControl(code, input, std::vector<UCHAR>(output.begin(), output.end()));
    const NTSTATUS status = r->Wait();
    std::copy(r->output().begin(), r->output().end(), output.begin());
    if (returned != nullptr) *returned = r->information();
    return status;
}

NTSTATUS File::Close() {
    if (!open_) return STATUS_INVALID_HANDLE;
    open_ = false;
    auto cleanup = Build(IRP_MJ_CLEANUP, 0, {}, {}, 0);
    cleanup->Send();
    cleanup->Wait();
    auto close = Build(IRP_MJ_CLOSE, 0, {}, {}, 0);
    close->Send();
    return close->Wait();
}

NTSTATUS IoManager::CreateFile(std::string_view path, std::unique_ptr<File>* file) {
    std::string rest;
    DEVICE_OBJECT* device = kernel_.objects().Resolve(path, &rest);
    if (device == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    return OpenDevice(device, std::move(rest), file);
}

NTSTATUS IoManager::OpenDevice(DEVICE_OBJECT* device, std::string fileName,
                               std::unique_ptr<File>* file) {
    auto fileObject = std::make_shared<FILE_OBJECT>();
    fileObject->FileName = std::move(fileName);
    fileObject->DeviceObject = device;
    auto opened = std::make_unique<File>(kernel_, IoGetAttachedDeviceReference(device), fileObject);
    auto create = opened->Build(IRP_MJ_CREATE, 0, {}, {}, 0);
    create->Send();
    const NTSTATUS status = create->Wait();
    create.reset();
    if (!NT_SUCCESS(status)) {
        opened->open_ = false;  // nothing to close
        return status;
    }
    *file = std::move(opened);
    return status;
}

}  // namespace ys::kernel
