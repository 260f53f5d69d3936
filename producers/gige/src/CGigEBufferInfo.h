// One announced buffer of a GigE data stream with the state of its request to the service.
#pragma once

#include "GigeRecords.h"
#include "gentl/CSharedBufferInfo.h"

namespace GenICam::Client {

// Images land in the buffer's shared memory (see CSharedBufferInfo); "DS1" buffers and buffers of size
// 0 have none and take no image. `block` is the buffer's request block, kept for as long as its request
// is with the service.
class CGigEBufferInfo : public CSharedBufferInfo {
public:
    using CSharedBufferInfo::CSharedBufferInfo;

    uint8_t block[sizeof(qorcam::gige::GigeRequestBlock)] = {};
    // The layout of the block last handed over: where its information lies in Target().
    uint32_t infoOffset = 0;
    uint32_t packets = 0;
};

} // namespace GenICam::Client
