#include "usb/bulk_transfer.h"

namespace bayercam {

void BuildBulkTransfer(URB* urb, const USBD_PIPE_INFORMATION& pipe, void* buffer, MDL* mdl,
                       uint32_t length) {
    auto& transfer = urb->UrbBulkOrInterruptTransfer;
    transfer.Hdr.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
    transfer.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    transfer.PipeHandle = pipe.PipeHandle;
    transfer.TransferFlags = USBD_SHORT_TRANSFER_OK;
    if (pipe.EndpointAddress & 0x80) transfer.TransferFlags |= USBD_TRANSFER_DIRECTION_IN;
    transfer.TransferBufferLength = length;
    transfer.TransferBuffer = buffer;
    transfer.TransferBufferMDL = mdl;
}

}  // namespace bayercam
