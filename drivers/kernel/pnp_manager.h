// Plug and Play and power management: building a device stack from its drivers' add-device
// routines, sending the Plug and Play requests (start, stop, removal and their queries) and the
// system power requests to the top of a stack, and the power calls drivers make (asking for a
// device power request, reporting the new power state).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <span>

#include "drivers/kernel/device.h"
#include "drivers/kernel/irp.h"

namespace ys::kernel {

using PREQUEST_POWER_COMPLETE = void (*)(DEVICE_OBJECT* deviceObject, UCHAR minorFunction,
                                         POWER_STATE powerState, void* context,
                                         IO_STATUS_BLOCK* ioStatus);

// Sends a new power request (IRP_MN_SET_POWER or IRP_MN_QUERY_POWER for a device state,
// IRP_MN_WAIT_WAKE for a system state) to the top of `deviceObject`'s stack. The function runs
// once it has left the top; then the request is freed. `irp`, if given, receives the request
// while it is outstanding (for cancelling a wait-wake request). Returns STATUS_PENDING.
NTSTATUS PoRequestPowerIrp(DEVICE_OBJECT* deviceObject, UCHAR minorFunction, POWER_STATE powerState,
                           PREQUEST_POWER_COMPLETE completionFunction, void* context, IRP** irp);
// Records the device power state the driver reports (see DEVICE_OBJECT::reportedPowerState).
POWER_STATE PoSetPowerState(DEVICE_OBJECT* deviceObject, POWER_STATE_TYPE type, POWER_STATE state);
// Set-power and query-power requests reach a device one at a time: one sent while the device
// has another in progress waits (STATUS_PENDING) until the driver calls PoStartNextPowerIrp for
// that one, and is then passed to the device from a worker thread. Other power requests pass.
NTSTATUS PoCallDriver(DEVICE_OBJECT* deviceObject, IRP* irp);
// Called by the driver whose stack location is current in `irp`.
void PoStartNextPowerIrp(IRP* irp);

class PnpManager {
public:
    explicit PnpManager(Kernel& kernel);
    ~PnpManager();
    PnpManager(const PnpManager&) = delete;
    PnpManager& operator=(const PnpManager&) = delete;

    // Builds the stack on a physical device: each driver's add-device routine in order, the
    // function driver first and the drivers above it after.
    NTSTATUS AddDevice(DEVICE_OBJECT* physicalDevice, std::span<DRIVER_OBJECT* const> drivers);

    // Each sends one request to the top of the stack and waits for it.
    NTSTATUS StartDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS QueryStopDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS CancelStopDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS StopDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS QueryRemoveDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS CancelRemoveDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS SurpriseRemoveDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS RemoveDevice(DEVICE_OBJECT* physicalDevice);
    NTSTATUS QueryCapabilities(DEVICE_OBJECT* physicalDevice, DEVICE_CAPABILITIES* capabilities);
    NTSTATUS SendPnp(DEVICE_OBJECT* physicalDevice, UCHAR minorFunction);

    // A sleeping state is queried first and set only when the query succeeds; the working state
    // is set at once, as the platform does on resume.
    NTSTATUS SetSystemPowerState(DEVICE_OBJECT* physicalDevice, SYSTEM_POWER_STATE state);
    NTSTATUS SendSystemPower(DEVICE_OBJECT* physicalDevice, UCHAR minorFunction,
                             SYSTEM_POWER_STATE state);

    // A bus reports that a device has gone: surprise removal is sent from a worker thread when
    // the stack is running, after the Plug and Play request in progress if there is one (and
    // before any that waits for it).
    void ReportDeviceGone(DEVICE_OBJECT* physicalDevice);
    // Surprise removal unless the device has had it already or is not running: whoever notices
    // the departure first (the bus or the host) sends it, once.
    NTSTATUS SurpriseRemoveIfPresent(DEVICE_OBJECT* physicalDevice);

    bool IsStarted(DEVICE_OBJECT* physicalDevice) const;

    // PoRequestPowerIrp's request, owned here until it completes.
    NTSTATUS RequestPower(DEVICE_OBJECT* device, DEVICE_OBJECT* top, UCHAR minorFunction,
                          POWER_STATE state, PREQUEST_POWER_COMPLETE function, void* context,
                          IRP** irp);

private:
    struct PowerRequest;
    enum class NodeState { kAdded, kStarted, kStopped, kSurpriseRemoved, kRemoved };
    // One device stack. Plug and Play requests to it are sent one at a time and in order:
    // `busy` is the turn, `turn` wakes the waiters when it passes.
    struct Node {
        explicit Node(Dispatcher& dispatcher) : turn(dispatcher, SynchronizationEvent, false) {}
        NodeState state = NodeState::kAdded;
        bool busy = false;
        bool surprisePending = false;  // the bus reported the device gone during a request
        KEVENT turn;
    };
    Node& NodeFor(DEVICE_OBJECT* physicalDevice);  // under `mutex_`
    void Acquire(DEVICE_OBJECT* physicalDevice);
    void Release(DEVICE_OBJECT* physicalDevice);
    // With the turn held: surprise removal if the stack is running.
    NTSTATUS SurpriseRemoveHeld(DEVICE_OBJECT* physicalDevice);
    NTSTATUS SendHeld(DEVICE_OBJECT* physicalDevice, UCHAR minorFunction);
    static NTSTATUS PowerRequestDone(DEVICE_OBJECT*, IRP* irp, void* context);
    NTSTATUS Send(DEVICE_OBJECT* physicalDevice, UCHAR major, UCHAR minor,
                  DEVICE_CAPABILITIES* capabilities, SYSTEM_POWER_STATE systemState);
    void SetState(DEVICE_OBJECT* physicalDevice, NodeState state);

    Kernel& kernel_;
    mutable std::mutex mutex_;
    std::map<DEVICE_OBJECT*, std::unique_ptr<Node>> nodes_;
    std::map<PowerRequest*, std::unique_ptr<PowerRequest>> powerRequests_;
};

}  // namespace ys::kernel
