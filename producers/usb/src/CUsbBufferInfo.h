// One announced buffer of a USB3 Vision data stream with the record of its transfer.
#pragma once

#include "devio/Overlapped.h"
#include "gentl/CBufferInfo.h"

namespace GenICam::Client {

// The buffer's memory receives one block straight from the service's stream read; its completion
// record is `overlapped`, whose status and byte count the stream copies into the buffer's status and
// bytes when the transfer ends.
class CUsbBufferInfo : public CBufferInfo {
public:
    using CBufferInfo::CBufferInfo;
    qorcam::devio::Overlapped overlapped;
};

} // namespace GenICam::Client
