// Driver entry, adding a device (naming, interface, attaching, settings) and passing down the
// requests the driver does not handle.
#include <atomic>

#include "drivers/vcom/device_extension.h"

namespace ys::vcom {

namespace {

// Driver-wide, as the platform keeps them: the copy of the registry path and the debug level.
std::string g_registryPath;
std::atomic<ULONG> g_debugLevel{0};

constexpr int kMaxNameTries = 1000;

// Under the remove lock: once removal has begun the device below may be gone.
NTSTATUS VcomDispatchPassDown(DEVICE_OBJECT* device, IRP* irp) {
    VCOM_EXTENSION* ext = Extension(device);
    RemoveLockHolder hold(ext->removeLock, irp);
    if (!hold.held()) return CompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    return PassDown(ext, irp);
}

void VcomUnload(DRIVER_OBJECT*) {
    g_registryPath.clear();
    g_registryPath.shrink_to_fit();
}

ULONG ReadDword(RegistryKey* key, const char* name, ULONG fallback) {
    ULONG v = 0;
    return key != nullptr && NT_SUCCESS(key->QueryDword(name, &v)) ? v : fallback;
}

NTSTATUS VcomAddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    RegistryKey* key = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) {
        key = nullptr;
    }
    g_debugLevel = ReadDword(key, "DebugLevel", g_debugLevel);
    const ULONG endPointCaps = ReadDword(key, "EndPointCaps", 0);

    DEVICE_OBJECT* fdo = nullptr;
    VCOM_EXTENSION* ext = nullptr;
    std::string name;
    NTSTATUS status = STATUS_OBJECT_NAME_COLLISION;
    for (int i = 0; i < kMaxNameTries && status == STATUS_OBJECT_NAME_COLLISION; ++i) {
        name = "\\Device\\qtxvcom64" + std::to_string(i);
        auto owned = std::make_unique<VCOM_EXTENSION>(driver->kernel().dispatcher());
        ext = owned.get();
        status =
            IoCreateDevice(driver, std::move(owned), &name, FILE_DEVICE_SERIAL_PORT, 0, true, &fdo);
    }
    if (!NT_SUCCESS(status)) return status;
    fdo->Flags |= DO_BUFFERED_IO;
    ext->self = fdo;
    ext->physicalDevice = pdo;
    ext->deviceName = name;
    ext->endPointCaps = endPointCaps;

    status =
        IoRegisterDeviceInterface(pdo, &GUID_DEVINTERFACE_COMPORT, nullptr, &ext->interfaceName);
    if (NT_SUCCESS(status)) IoSetDeviceInterfaceState(driver->kernel(), ext->interfaceName, true);

    ext->lowerDevice = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (ext->lowerDevice == nullptr) {
        if (!ext->interfaceName.empty()) {
            IoSetDeviceInterfaceState(driver->kernel(), ext->interfaceName, false);
        }
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    fdo->Flags |= ext->lowerDevice->Flags & (DO_POWER_PAGABLE | DO_POWER_INRUSH);

    ext->rxReqSizeSetting = ReadDword(key, "RxReqSize", 0);
    ext->rxPollPeriod = ReadDword(key, "RxPollPeriod", 0);
    ext->ctlPollPeriod = static_cast<LONG>(ReadDword(key, "CtlPollPeriod", 10));
    ext->rawDump = ReadDword(key, "RawDump", 0);
    ULONG kick = ReadDword(key, "TxKickThreshold", 0);
    if (kick == 0) kick = 1;
    if (kick > 4095) kick = 2048;
    ext->txKickThresholdSetting = kick;
    ext->txKickThreshold = kick;
    ext->txAsync = ReadDword(key, "TxAsync", 0);
    ext->noBaudCheck = ReadDword(key, "NoBaudCheck", 0);
    ext->txAllowNullPacket = ReadDword(key, "TxAllowNullPacket", 1);

    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

}  // namespace

VCOM_EXTENSION::VCOM_EXTENSION(Dispatcher& d)
    : dispatcher(d),
      removeLock(d),
      rxIdle(d, NotificationEvent, true),
      rxTimer(d),
      rxDpc(d, RxDpcRoutine, this),
      readTotalTimer(d),
      readTotalDpc(d, ReadTotalDpcRoutine, this),
      readIntervalTimer(d),
      readIntervalDpc(d, ReadIntervalDpcRoutine, this),
      writeTimer(d),
      writeTimerDpc(d, WriteTimerDpcRoutine, this),
      txDoneDpc(d, TxDoneDpcRoutine, this),
      txKickTimer(d),
      txKickDpc(d, TxKickDpcRoutine, this),
      txIdle(d, NotificationEvent, true),
      pollIdle(d, NotificationEvent, true),
      pollTimer(d),
      pollDpc(d, PollDpcRoutine, this),
      portTurn(d, SynchronizationEvent, true) {}

// Timers go before their deferred calls: a timer due now could queue a call being destroyed.
VCOM_EXTENSION::~VCOM_EXTENSION() {
    KeCancelTimer(&rxTimer);
    KeCancelTimer(&readTotalTimer);
    KeCancelTimer(&readIntervalTimer);
    KeCancelTimer(&writeTimer);
    KeCancelTimer(&txKickTimer);
    KeCancelTimer(&pollTimer);
}

NTSTATUS DriverEntry(DRIVER_OBJECT* driver, const std::string& registryPath) {
    g_registryPath = registryPath;
    for (auto& routine : driver->MajorFunction) routine = VcomDispatchPassDown;
    driver->MajorFunction[IRP_MJ_CREATE] = VcomDispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = VcomDispatchCreateClose;
    driver->MajorFunction[IRP_MJ_READ] = VcomDispatchReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = VcomDispatchReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = VcomDispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_CLEANUP] = VcomDispatchCleanup;
    driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = VcomDispatchFlush;
    driver->MajorFunction[IRP_MJ_PNP] = VcomDispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = VcomDispatchPower;
    driver->DriverExtension->AddDevice = VcomAddDevice;
    driver->DriverUnload = VcomUnload;
    return STATUS_SUCCESS;
}

}  // namespace ys::vcom
