#include "drivers/kernel/pnp_manager.h"

#include "drivers/kernel/kernel.h"

namespace ys::kernel {

struct PnpManager::PowerRequest {
    std::unique_ptr<IRP> irp;
    DEVICE_OBJECT* device;
    DEVICE_OBJECT* top;
    UCHAR minor;
    POWER_STATE state;
    PREQUEST_POWER_COMPLETE function;
    void* context;
};

PnpManager::PnpManager(Kernel& kernel) : kernel_(kernel) {}

// Requests still outstanding (a wait-wake the bus holds) go with the manager.
PnpManager::~PnpManager() = default;

NTSTATUS PnpManager::PowerRequestDone(DEVICE_OBJECT*, IRP* irp, void* context) {
    auto* request = static_cast<PowerRequest*>(context);
    if (request->function != nullptr) {
        request->function(request->device, request->minor, request->state, request->context,
                          &irp->IoStatus);
    }
    ObDereferenceObject(request->top);
    PnpManager& self = request->top->kernel().pnp();
    std::unique_ptr<PowerRequest> owned;
    {
        std::lock_guard lock(self.mutex_);
        owned = std::move(self.powerRequests_[request]);
        self.powerRequests_.erase(request);
    }
    return STATUS_MORE_PROCESSING_REQUIRED;  // the request goes with `owned`
}

NTSTATUS PoRequestPowerIrp(DEVICE_OBJECT* device, UCHAR minor, POWER_STATE state,
                           PREQUEST_POWER_COMPLETE function, void* context, IRP** irpOut) {
    if (minor != IRP_MN_SET_POWER && minor != IRP_MN_QUERY_POWER && minor != IRP_MN_WAIT_WAKE) {
        return STATUS_INVALID_PARAMETER;
    }
    DEVICE_OBJECT* top = IoGetAttachedDeviceReference(device);
    return device->kernel().pnp().RequestPower(device, top, minor, state, function, context,
                                               irpOut);
}

NTSTATUS PnpManager::RequestPower(DEVICE_OBJECT* device, DEVICE_OBJECT* top, UCHAR minor,
                                  POWER_STATE state, PREQUEST_POWER_COMPLETE function,
                                  void* context, IRP** irpOut) {
    auto owned = std::make_unique<PowerRequest>(PowerRequest{
        IoAllocateIrp(top->StackSize, false), device, top, minor, state, function, context});
    PowerRequest* request = owned.get();
    IRP* irp = request->irp.get();
    {
        std::lock_guard lock(mutex_);
        powerRequests_[request] = std::move(owned);
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = minor;
    if (minor == IRP_MN_WAIT_WAKE) {
        next->Parameters.WaitWake.PowerState = state.SystemState;
    } else {
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State = state;
    }
    IoSetCompletionRoutine(irp, PowerRequestDone, request, true, true, true);
    if (irpOut != nullptr) *irpOut = irp;
    PoCallDriver(top, irp);
    return STATUS_PENDING;
}

POWER_STATE PoSetPowerState(DEVICE_OBJECT* device, POWER_STATE_TYPE type, POWER_STATE state) {
    POWER_STATE old;
    if (type == DevicePowerState) {
        old.DeviceState = device->reportedPowerState_.exchange(state.DeviceState);
    }
    return old;
}

namespace {

// Set-power and query-power requests are the ones a device takes one at a time.
bool TakesTurns(const IO_STACK_LOCATION& location) {
    return location.MajorFunction == IRP_MJ_POWER && (location.MinorFunction == IRP_MN_SET_POWER ||
                                                      location.MinorFunction == IRP_MN_QUERY_POWER);
}

std::size_t QueueIndex(const IO_STACK_LOCATION& location) {
    return location.Parameters.Power.Type == DevicePowerState ? 1 : 0;
}

}  // namespace

NTSTATUS PoCallDriver(DEVICE_OBJECT* device, IRP* irp) {
    const IO_STACK_LOCATION& next = *IoGetNextIrpStackLocation(irp);
    if (TakesTurns(next)) {
        std::lock_guard lock(device->powerMutex_);
        DEVICE_OBJECT::PowerQueue& queue = device->powerQueues_[QueueIndex(next)];
        if (queue.busy) {
            queue.waiting.push_back(irp);
            return STATUS_PENDING;
        }
        queue.busy = true;
    }
    return IoCallDriver(device, irp);
}

void PoStartNextPowerIrp(IRP* irp) {
    if (irp->CurrentLocation > irp->StackCount) return;
    const IO_STACK_LOCATION& current = *IoGetCurrentIrpStackLocation(irp);
    DEVICE_OBJECT* device = current.DeviceObject;
    if (device == nullptr || !TakesTurns(current)) return;
    IRP* next = nullptr;
    {
        std::lock_guard lock(device->powerMutex_);
        DEVICE_OBJECT::PowerQueue& queue = device->powerQueues_[QueueIndex(current)];
        if (queue.waiting.empty()) {
            queue.busy = false;
        } else {
            next = queue.waiting.front();
            queue.waiting.pop_front();
        }
    }
    if (next == nullptr) return;
    // The caller may hold locks or run a completion: the next request starts on a worker.
    ObReferenceObject(device);
    device->kernel().dispatcher().QueueWork([device, next] {
        IoCallDriver(device, next);
        ObDereferenceObject(device);
    });
}

PnpManager::Node& PnpManager::NodeFor(DEVICE_OBJECT* pdo) {
    std::unique_ptr<Node>& node = nodes_[pdo];
    if (!node) node = std::make_unique<Node>(kernel_.dispatcher());
    return *node;
}

void PnpManager::Acquire(DEVICE_OBJECT* pdo) {
    for (;;) {
        KEVENT* turn = nullptr;
        {
            std::lock_guard lock(mutex_);
            Node& node = NodeFor(pdo);
            if (!node.busy) {
                node.busy = true;
                return;
            }
            turn = &node.turn;
        }
        KeWaitForSingleObject(turn, Executive, KernelMode, false, nullptr);
    }
}

void PnpManager::Release(DEVICE_OBJECT* pdo) {
    for (;;) {
        KEVENT* turn = nullptr;
        {
            std::lock_guard lock(mutex_);
            Node& node = NodeFor(pdo);
            const bool running =
                node.state == NodeState::kStarted || node.state == NodeState::kStopped;
            if (node.surprisePending && node.state != NodeState::kAdded) {
                // A stack that has not started yet keeps the report for when it has.
                node.surprisePending = false;
                if (running) node.state = NodeState::kSurpriseRemoved;
            } else {
                node.busy = false;
                turn = &node.turn;
            }
            if (turn == nullptr && !running) continue;
        }
        if (turn != nullptr) {
            KeSetEvent(turn, IO_NO_INCREMENT, false);
            return;
        }
        // The device left during the request: its surprise removal comes next, before any
        // request that waits for the turn.
        (void)SendHeld(pdo, IRP_MN_SURPRISE_REMOVAL);
    }
}

NTSTATUS PnpManager::AddDevice(DEVICE_OBJECT* pdo, std::span<DRIVER_OBJECT* const> drivers) {
    Acquire(pdo);
    NTSTATUS status = STATUS_SUCCESS;
    for (DRIVER_OBJECT* driver : drivers) {
        status = driver->DriverExtension->AddDevice(driver, pdo);
        if (!NT_SUCCESS(status)) break;
    }
    if (NT_SUCCESS(status)) SetState(pdo, NodeState::kAdded);
    Release(pdo);
    return status;
}

void PnpManager::SetState(DEVICE_OBJECT* pdo, NodeState state) {
    std::lock_guard lock(mutex_);
    NodeFor(pdo).state = state;
}

bool PnpManager::IsStarted(DEVICE_OBJECT* pdo) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(pdo);
    return it != nodes_.end() && it->second->state == NodeState::kStarted;
}

NTSTATUS PnpManager::Send(DEVICE_OBJECT* pdo, UCHAR major, UCHAR minor,
                          DEVICE_CAPABILITIES* capabilities, SYSTEM_POWER_STATE systemState) {
    DEVICE_OBJECT* top = IoGetAttachedDeviceReference(pdo);
    KEVENT done(kernel_.dispatcher(), NotificationEvent, false);
    IO_STATUS_BLOCK ioStatus;
    auto irp = IoAllocateIrp(top->StackSize, false);
    irp->UserEvent = &done;
    irp->UserIosb = &ioStatus;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = major;
    next->MinorFunction = minor;
    if (capabilities != nullptr) next->Parameters.DeviceCapabilities.Capabilities = capabilities;
    if (major == IRP_MJ_POWER) {
        next->Parameters.Power.Type = SystemPowerState;
        next->Parameters.Power.State.SystemState = systemState;
        next->Parameters.Power.ShutdownType =
            systemState == PowerSystemWorking ? PowerActionNone : PowerActionSleep;
        PoCallDriver(top, irp.get());
    } else {
        IoCallDriver(top, irp.get());
    }
    KeWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
    ObDereferenceObject(top);
    return ioStatus.Status;
}

NTSTATUS PnpManager::SendHeld(DEVICE_OBJECT* pdo, UCHAR minor) {
    return Send(pdo, IRP_MJ_PNP, minor, nullptr, PowerSystemUnspecified);
}

NTSTATUS PnpManager::SendPnp(DEVICE_OBJECT* pdo, UCHAR minor) {
    Acquire(pdo);
    const NTSTATUS status = SendHeld(pdo, minor);
    Release(pdo);
    return status;
}

NTSTATUS PnpManager::StartDevice(DEVICE_OBJECT* pdo) {
    Acquire(pdo);
    const NTSTATUS status = SendHeld(pdo, IRP_MN_START_DEVICE);
    if (NT_SUCCESS(status)) SetState(pdo, NodeState::kStarted);
    Release(pdo);
    return status;
}

NTSTATUS PnpManager::QueryStopDevice(DEVICE_OBJECT* pdo) {
    return SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE);
}

NTSTATUS PnpManager::CancelStopDevice(DEVICE_OBJECT* pdo) {
    return SendPnp(pdo, IRP_MN_CANCEL_STOP_DEVICE);
}

NTSTATUS PnpManager::StopDevice(DEVICE_OBJECT* pdo) {
    Acquire(pdo);
    const NTSTATUS status = SendHeld(pdo, IRP_MN_STOP_DEVICE);
    SetState(pdo, NodeState::kStopped);
    Release(pdo);
    return status;
}

NTSTATUS PnpManager::QueryRemoveDevice(DEVICE_OBJECT* pdo) {
    return SendPnp(pdo, IRP_MN_QUERY_REMOVE_DEVICE);
}

NTSTATUS PnpManager::CancelRemoveDevice(DEVICE_OBJECT* pdo) {
    return SendPnp(pdo, IRP_MN_CANCEL_REMOVE_DEVICE);
}

NTSTATUS PnpManager::SurpriseRemoveDevice(DEVICE_OBJECT* pdo) {
    Acquire(pdo);
    SetState(pdo, NodeState::kSurpriseRemoved);
    const NTSTATUS status = SendHeld(pdo, IRP_MN_SURPRISE_REMOVAL);
    Release(pdo);
    return status;
}

NTSTATUS PnpManager::RemoveDevice(DEVICE_OBJECT* pdo) {
    Acquire(pdo);
    SetState(pdo, NodeState::kRemoved);
    const NTSTATUS status = SendHeld(pdo, IRP_MN_REMOVE_DEVICE);
    Release(pdo);
    return status;
}

NTSTATUS PnpManager::QueryCapabilities(DEVICE_OBJECT* pdo, DEVICE_CAPABILITIES* capabilities) {
    Acquire(pdo);
    const NTSTATUS status =
        Send(pdo, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, capabilities, PowerSystemUnspecified);
    Release(pdo);
    return status;
}

NTSTATUS PnpManager::SendSystemPower(DEVICE_OBJECT* pdo, UCHAR minor, SYSTEM_POWER_STATE state) {
    return Send(pdo, IRP_MJ_POWER, minor, nullptr, state);
}

NTSTATUS PnpManager::SetSystemPowerState(DEVICE_OBJECT* pdo, SYSTEM_POWER_STATE state) {
    if (state != PowerSystemWorking) {
        const NTSTATUS status = SendSystemPower(pdo, IRP_MN_QUERY_POWER, state);
        if (!NT_SUCCESS(status)) return status;
    }
    return SendSystemPower(pdo, IRP_MN_SET_POWER, state);
}

NTSTATUS PnpManager::SurpriseRemoveHeld(DEVICE_OBJECT* pdo) {
    {
        std::lock_guard lock(mutex_);
        Node& node = NodeFor(pdo);
        if (node.state != NodeState::kStarted && node.state != NodeState::kStopped) {
            return STATUS_SUCCESS;
        }
        node.state = NodeState::kSurpriseRemoved;
    }
    return SendHeld(pdo, IRP_MN_SURPRISE_REMOVAL);
}

NTSTATUS PnpManager::SurpriseRemoveIfPresent(DEVICE_OBJECT* pdo) {
    Acquire(pdo);
    const NTSTATUS status = SurpriseRemoveHeld(pdo);
    Release(pdo);
    return status;
}

void PnpManager::ReportDeviceGone(DEVICE_OBJECT* pdo) {
    kernel_.dispatcher().QueueWork([this, pdo] {
        {
            // A worker does not wait for the turn: the request in progress may itself be
            // waiting for work queued behind this one. Its holder sends the removal instead.
            std::lock_guard lock(mutex_);
            Node& node = NodeFor(pdo);
            node.surprisePending = true;
            if (node.busy) return;
            node.busy = true;
        }
        Release(pdo);
    });
}

}  // namespace ys::kernel
