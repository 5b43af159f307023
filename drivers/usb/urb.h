// USB request blocks: what a driver sends the bus with IOCTL_INTERNAL_USB_SUBMIT_URB, with the
// platform's function codes and the builders drivers use to fill them.
#pragma once

#include <span>
#include <vector>

#include "drivers/kernel/irp.h"
#include "drivers/usb/usb_types.h"

namespace ys::usb {

using kernel::MDL;

inline constexpr USHORT URB_FUNCTION_SELECT_CONFIGURATION = 0x0000;
inline constexpr USHORT URB_FUNCTION_SELECT_INTERFACE = 0x0001;
inline constexpr USHORT URB_FUNCTION_ABORT_PIPE = 0x0002;
inline constexpr USHORT URB_FUNCTION_GET_CURRENT_FRAME_NUMBER = 0x0007;
inline constexpr USHORT URB_FUNCTION_CONTROL_TRANSFER = 0x0008;
inline constexpr USHORT URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER = 0x0009;
inline constexpr USHORT URB_FUNCTION_ISOCH_TRANSFER = 0x000A;
inline constexpr USHORT URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE = 0x000B;
inline constexpr USHORT URB_FUNCTION_VENDOR_DEVICE = 0x0017;
inline constexpr USHORT URB_FUNCTION_VENDOR_INTERFACE = 0x0018;
inline constexpr USHORT URB_FUNCTION_VENDOR_ENDPOINT = 0x0019;
inline constexpr USHORT URB_FUNCTION_CLASS_DEVICE = 0x001A;
inline constexpr USHORT URB_FUNCTION_CLASS_INTERFACE = 0x001B;
inline constexpr USHORT URB_FUNCTION_CLASS_ENDPOINT = 0x001C;
inline constexpr USHORT URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL = 0x001E;
inline constexpr USHORT URB_FUNCTION_CLASS_OTHER = 0x001F;
inline constexpr USHORT URB_FUNCTION_VENDOR_OTHER = 0x0020;
inline constexpr USHORT URB_FUNCTION_SYNC_RESET_PIPE = 0x0030;
inline constexpr USHORT URB_FUNCTION_SYNC_CLEAR_STALL = 0x0031;

// The platform keeps the function-specific parts in a union; here each has its own member, and
// a driver fills the one its function uses. Buffers are given either as a pointer or as an MDL.
struct URB {
    struct {
        USHORT Length = 0;
        USHORT Function = 0;
        USBD_STATUS Status = USBD_STATUS_SUCCESS;
    } UrbHeader;
    struct {
        std::span<const UCHAR> ConfigurationDescriptor;  // empty: no configuration
        USBD_CONFIGURATION_HANDLE ConfigurationHandle = 0;
        std::vector<USBD_INTERFACE_INFORMATION> Interface;
    } UrbSelectConfiguration;
    struct {
        USBD_PIPE_HANDLE PipeHandle = 0;
    } UrbPipeRequest;
    struct {
        USBD_PIPE_HANDLE PipeHandle = 0;
        ULONG TransferFlags = 0;
        ULONG TransferBufferLength = 0;
        void* TransferBuffer = nullptr;
        MDL* TransferBufferMDL = nullptr;
    } UrbBulkOrInterruptTransfer;
    struct {
        ULONG TransferBufferLength = 0;
        void* TransferBuffer = nullptr;
        MDL* TransferBufferMDL = nullptr;
        UCHAR Index = 0;
        UCHAR DescriptorType = 0;
        USHORT LanguageId = 0;
    } UrbControlDescriptorRequest;
    struct {
        ULONG TransferFlags = 0;
        ULONG TransferBufferLength = 0;
        void* TransferBuffer = nullptr;
        MDL* TransferBufferMDL = nullptr;
        UCHAR RequestTypeReservedBits = 0;
        UCHAR Request = 0;
        USHORT Value = 0;
        USHORT Index = 0;
    } UrbControlVendorClassRequest;
    struct {
        USBD_PIPE_HANDLE PipeHandle = 0;  // 0: the default pipe
        ULONG TransferFlags = 0;
        ULONG TransferBufferLength = 0;
        void* TransferBuffer = nullptr;
        MDL* TransferBufferMDL = nullptr;
        UCHAR SetupPacket[8] = {};
    } UrbControlTransfer;
    struct {
        USBD_PIPE_HANDLE PipeHandle = 0;
        ULONG TransferFlags = 0;
        ULONG TransferBufferLength = 0;
        void* TransferBuffer = nullptr;
        MDL* TransferBufferMDL = nullptr;
        ULONG StartFrame = 0;
        ULONG NumberOfPackets = 0;
        ULONG ErrorCount = 0;
        std::vector<USBD_ISO_PACKET_DESCRIPTOR> IsoPacket;
    } UrbIsochronousTransfer;
    struct {
        ULONG FrameNumber = 0;
    } UrbGetCurrentFrameNumber;
};

void UsbBuildGetDescriptorRequest(URB* urb, UCHAR descriptorType, UCHAR index, USHORT languageId,
                                  void* transferBuffer, MDL* transferBufferMdl,
                                  ULONG transferBufferLength);
void UsbBuildInterruptOrBulkTransferRequest(URB* urb, USBD_PIPE_HANDLE pipeHandle,
                                            void* transferBuffer, MDL* transferBufferMdl,
                                            ULONG transferBufferLength, ULONG transferFlags);
// `function` is one of the URB_FUNCTION_VENDOR_* or URB_FUNCTION_CLASS_* codes.
void UsbBuildVendorRequest(URB* urb, USHORT function, ULONG transferFlags, UCHAR reservedBits,
                           UCHAR request, USHORT value, USHORT index, void* transferBuffer,
                           MDL* transferBufferMdl, ULONG transferBufferLength);
// No configuration (the device is unconfigured) when `configuration` is empty.
void UsbBuildSelectConfigurationRequest(URB* urb, std::span<const UCHAR> configuration);
void UsbBuildPipeRequest(URB* urb, USHORT function, USBD_PIPE_HANDLE pipeHandle);

}  // namespace ys::usb
