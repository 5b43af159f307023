#include "drivers/usb/urb.h"

namespace ys::usb {

void UsbBuildGetDescriptorRequest(URB* urb, UCHAR descriptorType, UCHAR index, USHORT languageId,
                                  void* buffer, MDL* mdl, ULONG length) {
    *urb = URB{};
    urb->UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    auto& r = urb->UrbControlDescriptorRequest;
    r.DescriptorType = descriptorType;
    r.Index = index;
    r.LanguageId = languageId;
    r.TransferBuffer = buffer;
    r.TransferBufferMDL = mdl;
    r.TransferBufferLength = length;
}

void UsbBuildInterruptOrBulkTransferRequest(URB* urb, USBD_PIPE_HANDLE pipeHandle, void* buffer,
                                            MDL* mdl, ULONG length, ULONG flags) {
    *urb = URB{};
    urb->UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    auto& r = urb->UrbBulkOrInterruptTransfer;
    r.PipeHandle = pipeHandle;
    r.TransferFlags = flags;
    r.TransferBuffer = buffer;
    r.TransferBufferMDL = mdl;
    r.TransferBufferLength = length;
}

void UsbBuildVendorRequest(URB* urb, USHORT function, ULONG flags, UCHAR reservedBits,
                           UCHAR request, USHORT value, USHORT index, void* buffer, MDL* mdl,
                           ULONG length) {
    *urb = URB{};
    urb->UrbHeader.Function = function;
    auto& r = urb->UrbControlVendorClassRequest;
    r.TransferFlags = flags;
    r.RequestTypeReservedBits = reservedBits;
    r.Request = request;
    r.Value = value;
    r.Index = index;
    r.TransferBuffer = buffer;
    r.TransferBufferMDL = mdl;
    r.TransferBufferLength = length;
}

void UsbBuildSelectConfigurationRequest(URB* urb, std::span<const UCHAR> configuration) {
    *urb = URB{};
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = configuration;
}

void UsbBuildPipeRequest(URB* urb, USHORT function, USBD_PIPE_HANDLE pipeHandle) {
    *urb = URB{};
    urb->UrbHeader.Function = function;
    urb->UrbPipeRequest.PipeHandle = pipeHandle;
}

}  // namespace ys::usb
