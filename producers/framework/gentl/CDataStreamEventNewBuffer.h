// The new-buffer event object of a data stream; every operation goes to the stream.
#pragma once

#include "gentl/CEventObj.h"

namespace GenICam::Client {

class CDataStream;

// Has no queue of its own: delivered buffers wait in the stream's output queue.
class CDataStreamEventNewBuffer : public CEventObj {
public:
    explicit CDataStreamEventNewBuffer(CDataStream* stream) : m_stream(stream) {}

    bool GetData(void* buffer, size_t* size, uint64_t timeout) override;
    // EVENT_NUM_IN_QUEUE answers the stream's STREAM_INFO_NUM_AWAIT_DELIVERY; others do nothing.
    void GetInfo(EVENT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    void GetDataInfo(const void*, size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override {}
    // Discards the stream's output queue.
    void Flush() override;
    // Cancels the stream's pending transfers; their buffers are delivered as cancelled.
    void Kill() override;

private:
    CDataStream* m_stream;
};

} // namespace GenICam::Client
