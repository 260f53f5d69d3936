// The remote device port of an opened GigE camera: its registers and memory through the service.
#pragma once

#include "GigeRecords.h"
#include "gentl/ICommonBase.h"

#include <mutex>
#include <string>

namespace GenICam::Client {

class CGigEDevice;

// Every access is one or more GVCP commands that the service sends and waits for (with its resends).
// Accesses are serialised: one request block is reused under one lock, so any thread may call at any
// time. Register values are in host order; 4-byte Read and Write carry them in network order, as the
// camera's description expects. Failures throw runtime_error "Error I/O" (the service's status) or
// "Error Status" (the camera refused); a lost camera also clears the device's visible flag.
class CDevicePort : public ICommonBase {
public:
    static constexpr size_t kChunk = 512;

    explicit CDevicePort(CGigEDevice& device) : m_device(device) {}

    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;
    void ReadRegister(uint64_t address, uint32_t* value) override;
    void WriteRegister(uint64_t address, uint32_t value) override;
    // The first description URL (read at 0x200).
    void GetURL(char* text, size_t* size) override;
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    void GetNumURLs(uint32_t* count) override { *count = 2; }
    // URL_INFO_URL of URL 0 (0x200) or 1 (0x400); other indices and commands throw invalid_argument.
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size) override;
    // Reads 512 bytes at address into buffer; a size below 512 or a failed read answers size 0.
    void ReadURLText(char* buffer, size_t* size, uint64_t address);

    // Convenience for the producer's own register accesses.
    uint32_t Reg(uint32_t address) {
        uint32_t value = 0;
        ReadRegister(address, &value);
        return value;
    }

private:
    // Sends the block filled by fill() and returns the number of answer bytes the service sent back.
    // Throws as described above. Called with m_lock held.
    void Transact();
    void Fill(uint16_t command);
    std::string URLText(uint64_t address);

    CGigEDevice& m_device;
    std::mutex m_lock;
    uint8_t m_block[sizeof(qorcam::gige::GigeRequestBlock)] = {};
};

} // namespace GenICam::Client
