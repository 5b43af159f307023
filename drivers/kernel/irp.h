// I/O requests of the kernel layer: the request packet with its stack of per-driver locations,
// completion routines, cancellation, buffer descriptions and file objects, and the calls drivers
// use to pass requests down, complete them and build their own.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "drivers/kernel/dispatcher.h"
#include "drivers/kernel/kernel_types.h"
#include "drivers/kernel/ntstatus.h"

namespace ys::kernel {

class DEVICE_OBJECT;
class IRP;

struct IO_STATUS_BLOCK {
    NTSTATUS Status = STATUS_SUCCESS;
    ULONG_PTR Information = 0;
};

// A buffer described for direct I/O: the caller's memory, used in place.
struct MDL {
    MDL* Next = nullptr;
    UCHAR* StartVa = nullptr;
    ULONG ByteCount = 0;
};

inline constexpr ULONG NormalPagePriority = 16;
inline constexpr ULONG HighPagePriority = 32;

inline void* MmGetSystemAddressForMdlSafe(MDL* mdl, ULONG /*priority*/) {
    return mdl->StartVa;
}
inline void* MmGetMdlVirtualAddress(MDL* mdl) {
    return mdl->StartVa;
}
inline ULONG MmGetMdlByteCount(const MDL* mdl) {
    return mdl->ByteCount;
}
std::unique_ptr<MDL> IoAllocateMdl(void* virtualAddress, ULONG length);
// `target` describes `length` bytes of `source` from `virtualAddress` on.
void IoBuildPartialMdl(MDL* source, MDL* target, void* virtualAddress, ULONG length);

// An open handle as drivers see it: the name that followed the device name at open, and two
// words of driver context.
struct FILE_OBJECT {
    std::string FileName;
    DEVICE_OBJECT* DeviceObject = nullptr;
    void* FsContext = nullptr;
    void* FsContext2 = nullptr;
    ULONG Flags = 0;
};

using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(DEVICE_OBJECT* deviceObject, IRP* irp, void* context);
using PDRIVER_CANCEL = void (*)(DEVICE_OBJECT* deviceObject, IRP* irp);

inline constexpr UCHAR SL_PENDING_RETURNED = 0x01;
inline constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
inline constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
inline constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

// One driver's view of a request. The platform keeps the parameters in a union; here each kind
// has its own member, so a driver reads the member of the request kind it handles.
struct IO_STACK_LOCATION {
    UCHAR MajorFunction = 0;
    UCHAR MinorFunction = 0;
    UCHAR Flags = 0;
    UCHAR Control = 0;
    struct ReadWriteParameters {
        ULONG Length;
        ULONG Key;
        LARGE_INTEGER ByteOffset;
    };
    struct {
        struct {
            ULONG Options;
            USHORT ShareAccess;
        } Create;
        ReadWriteParameters Read;
        ReadWriteParameters Write;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            void* Type3InputBuffer;
        } DeviceIoControl;
        struct {
            DEVICE_CAPABILITIES* Capabilities;
        } DeviceCapabilities;
        struct {
            SYSTEM_POWER_STATE PowerState;
        } WaitWake;
        struct {
            ULONG SystemContext;
            POWER_STATE_TYPE Type;
            POWER_STATE State;
            POWER_ACTION ShutdownType;
        } Power;
        struct {
            void* Argument1;
            void* Argument2;
            void* Argument3;
            void* Argument4;
        } Others;
    } Parameters{};
    DEVICE_OBJECT* DeviceObject = nullptr;
    FILE_OBJECT* FileObject = nullptr;
    PIO_COMPLETION_ROUTINE CompletionRoutine = nullptr;
    void* Context = nullptr;
};

class IRP {
public:
    explicit IRP(CCHAR stackSize);
    IRP(const IRP&) = delete;
    IRP& operator=(const IRP&) = delete;

    IO_STATUS_BLOCK IoStatus;
    struct {
        void* SystemBuffer = nullptr;
    } AssociatedIrp;
    MDL* MdlAddress = nullptr;
    void* UserBuffer = nullptr;
    IO_STATUS_BLOCK* UserIosb = nullptr;
    KEVENT* UserEvent = nullptr;
    KPROCESSOR_MODE RequestorMode = KernelMode;
    bool PendingReturned = false;
    std::atomic<bool> Cancel{false};
    KIRQL CancelIrql = PASSIVE_LEVEL;
    std::atomic<PDRIVER_CANCEL> CancelRoutine{nullptr};
    const CCHAR StackCount;
    CCHAR CurrentLocation;
    ULONG Flags = 0;
    struct {
        struct {
            void* DriverContext[4];
        } Overlay;
    } Tail{};

    // Stack location `n`, 1-based as the platform counts them.
    IO_STACK_LOCATION& Location(int n);

    // What the builder of a request keeps in it; drivers leave this alone.
    struct Owner {
        std::vector<UCHAR> systemBuffer;       // storage of AssociatedIrp.SystemBuffer
        std::unique_ptr<MDL> mdl;              // storage of MdlAddress
        std::span<UCHAR> copyBackTo;           // buffered output copied here at the end
        std::function<void(IRP&)> onFinished;  // runs when the request leaves the top
        std::atomic<bool> finished{false};
    } owner;

private:
    std::vector<IO_STACK_LOCATION> stack_;
};

std::unique_ptr<IRP> IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
// Makes an IRP that came back with STATUS_MORE_PROCESSING_REQUIRED ready to be sent again.
void IoReuseIrp(IRP* irp, NTSTATUS status);

IO_STACK_LOCATION* IoGetCurrentIrpStackLocation(IRP* irp);
IO_STACK_LOCATION* IoGetNextIrpStackLocation(IRP* irp);
void IoSkipCurrentIrpStackLocation(IRP* irp);
void IoCopyCurrentIrpStackLocationToNext(IRP* irp);
void IoSetNextIrpStackLocation(IRP* irp);
void IoMarkIrpPending(IRP* irp);
void IoSetCompletionRoutine(IRP* irp, PIO_COMPLETION_ROUTINE routine, void* context,
                            BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError, BOOLEAN invokeOnCancel);

// Passes the request to `device`'s dispatch routine for its major function.
NTSTATUS IoCallDriver(DEVICE_OBJECT* device, IRP* irp);
// Runs the completion routines from the current location upwards; a routine that returns
// STATUS_MORE_PROCESSING_REQUIRED takes the request back and ends the walk.
void IoCompleteRequest(IRP* irp, CCHAR priorityBoost);

PDRIVER_CANCEL IoSetCancelRoutine(IRP* irp, PDRIVER_CANCEL routine);
// Marks the request cancelled and calls its cancel routine, if one is set, with the cancel spin
// lock held; the routine releases it (IoReleaseCancelSpinLock(irp->CancelIrql)).
BOOLEAN IoCancelIrp(IRP* irp);
void IoAcquireCancelSpinLock(KIRQL* irql);
void IoReleaseCancelSpinLock(KIRQL irql);

// Requests a driver builds for the device below it. They are the caller's to free once
// completed; `event` is signalled and `ioStatus` filled when they leave the top of the stack.
std::unique_ptr<IRP> IoBuildDeviceIoControlRequest(ULONG ioControlCode, DEVICE_OBJECT* device,
                                                   const void* inputBuffer, ULONG inputBufferLength,
                                                   void* outputBuffer, ULONG outputBufferLength,
                                                   BOOLEAN internalDeviceIoControl, KEVENT* event,
                                                   IO_STATUS_BLOCK* ioStatus);
std::unique_ptr<IRP> IoBuildAsynchronousFsdRequest(ULONG majorFunction, DEVICE_OBJECT* device,
                                                   void* buffer, ULONG length,
                                                   const LARGE_INTEGER* startingOffset,
                                                   IO_STATUS_BLOCK* ioStatus);
std::unique_ptr<IRP> IoBuildSynchronousFsdRequest(ULONG majorFunction, DEVICE_OBJECT* device,
                                                  void* buffer, ULONG length,
                                                  const LARGE_INTEGER* startingOffset,
                                                  KEVENT* event, IO_STATUS_BLOCK* ioStatus);

}  // namespace ys::kernel
