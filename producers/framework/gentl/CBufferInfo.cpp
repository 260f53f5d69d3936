// One announced buffer of a data stream, behind a BUFFER_HANDLE.
#include "gentl/CBufferInfo.h"

#include "GenTLCustom.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
#include <stdexcept>

namespace GenICam::Client {

CBufferInfo::CBufferInfo(void* buffer, size_t size, void* userPointer)
    : m_base(static_cast<uint8_t*>(buffer)), m_size(size), m_userPointer(userPointer) {
    if (!buffer) {
        m_owned.reset(new uint8_t[size ? size : 1]());
        m_base = m_owned.get();
    }
}

CBufferInfo::~CBufferInfo() = default;

void CBufferInfo::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    PortInfoValues values;
    values.id = "0";
    values.vendor = GetProducerVendorName();
    values.model = GetProducerModelName();
    values.tltype = "Custom";
    values.module = "TLBuffer";
    values.accessRead = values.accessWrite = values.accessNA = values.accessNI = false;
    values.portName = "BufferPort";
    values.refuseUnknown = false;
    AnswerPortInfo(values, cmd, type, buffer, size);
}

bool CBufferInfo::AnswerCommonInfo(BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                                   size_t* size) const {
    switch (cmd) {
    case BUFFER_INFO_BASE:
        if (!m_base) throw std::runtime_error("Invalid Memory Buffer");
        CopyInfoPtr(buffer, size, type, m_base);
        return true;
    case BUFFER_INFO_SIZE:
        CopyInfoSizeT(buffer, size, type, m_size);
        return true;
    case BUFFER_INFO_SIZE_FILLED:
        // The bytes the last transfer wrote into the buffer, never more than the buffer holds.
        CopyInfoSizeT(buffer, size, type, std::min<size_t>(bytes, m_size));
        return true;
    case BUFFER_INFO_USER_PTR:
        CopyInfoPtr(buffer, size, type, m_userPointer);
        return true;
    case BUFFER_INFO_NEW_DATA:
        CopyInfoBool8(buffer, size, type, newData);
        return true;
    case BUFFER_INFO_IS_QUEUED:
        CopyInfoBool8(buffer, size, type, queued);
        return true;
    case BUFFER_INFO_IS_ACQUIRING:
        CopyInfoBool8(buffer, size, type, acquiring);
        return true;
    case BUFFER_INFO_IS_INCOMPLETE:
        CopyInfoBool8(buffer, size, type, incomplete);
        return true;
    case BUFFER_INFO_TLTYPE:
        CopyInfoString(buffer, size, type, "Custom");
        return true;
    case BUFFER_INFO_FILENAME:
        CopyInfoString(buffer, size, type, "ImageFileName.img");
        return true;
    case BUFFER_INFO_CUSTOM_STATUS:
        CopyInfoUInt32(buffer, size, type, status);
        return true;
    case BUFFER_INFO_CUSTOM_BYTES:
        CopyInfoUInt32(buffer, size, type, bytes);
        return true;
    default:
        return false;
    }
}

} // namespace GenICam::Client
