// The new-buffer event object of a data stream; every operation goes to the stream.
#include "gentl/CDataStreamEventNewBuffer.h"

#include "gentl/CDataStream.h"

#include <stdexcept>

namespace GenICam::Client {

bool CDataStreamEventNewBuffer::GetData(void* buffer, size_t* size, uint64_t timeout) {
    if (!size) throw std::invalid_argument("Invalid Size");
    return m_stream->TakeNextNewBuffer(buffer, size, timeout);
}

void CDataStreamEventNewBuffer::GetInfo(EVENT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    if (cmd == EVENT_NUM_IN_QUEUE) m_stream->GetInfo(STREAM_INFO_NUM_AWAIT_DELIVERY, type, buffer, size);
}

void CDataStreamEventNewBuffer::Flush() {
    m_stream->FlushQueue(ACQ_QUEUE_OUTPUT_DISCARD);
}

void CDataStreamEventNewBuffer::Kill() {
    m_stream->CancelPendingRequests();
}

} // namespace GenICam::Client
