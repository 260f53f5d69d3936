// One announced buffer of a data stream, behind a BUFFER_HANDLE.
#pragma once

#include "gentl/ICommonBase.h"

#include <cstdint>
#include <memory>

namespace GenICam::Client {

// Memory given by the consumer is used as it is and never freed; a null buffer at announce makes the
// buffer allocate (and later free) `size` bytes of its own. The flags and the last transfer's status
// and byte count are the stream's to set. A transport may derive to add its per-buffer request state.
class CBufferInfo : public ICommonBase {
public:
    CBufferInfo(void* buffer, size_t size, void* userPointer);
    ~CBufferInfo() override;

    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    // BUFFER_INFO commands that need nothing of the transport (base, sizes, user pointer, flags, type
    // layer, file name, status and byte count). False for any other command, with nothing written.
    bool AnswerCommonInfo(BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) const;

    uint8_t* GetBase() const { return m_base; }
    size_t GetSize() const { return m_size; }
    void* GetUserPointer() const { return m_userPointer; }
    // The memory is the producer's, not the consumer's: a revoke hands none back.
    virtual bool OwnsMemory() const { return m_owned != nullptr; }

    bool queued = false;
    bool newData = false;
    bool awaitingDelivery = false;
    bool acquiring = false;
    bool incomplete = false;
    uint32_t status = 0;
    uint32_t bytes = 0;

private:
    std::unique_ptr<uint8_t[]> m_owned;
    uint8_t* m_base;
    size_t m_size;
    void* m_userPointer;
};

} // namespace GenICam::Client
