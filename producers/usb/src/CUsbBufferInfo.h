// One announced buffer of a USB3 Vision data stream with the record of its transfer.
#pragma once

#include "gentl/CSharedBufferInfo.h"

namespace GenICam::Client {

// Blocks land in the buffer's shared memory (see CSharedBufferInfo); the notice stream's buffers and
// buffers of size 0 have none and take no data. The stream copies the status and byte count of the
// transfer recorded in `overlapped` into the buffer's status and bytes when it ends.
class CUsbBufferInfo : public CSharedBufferInfo {
public:
    using CSharedBufferInfo::CSharedBufferInfo;
};

} // namespace GenICam::Client
