// The remote device port of an opened USB3 Vision camera: its memory and its description file URLs.
#pragma once

#include "gentl/ICommonBase.h"

#include <array>
#include <mutex>
#include <string>

namespace GenICam::Client {

class CUsbDevice;

// Every access is one or more GenCP memory reads or writes that the service sends and waits for,
// chunked to the camera's transfer maxima and to the port's 1012-byte request block. Accesses are
// serialised by one lock, so any thread may call at any time. Values are little-endian, as the camera
// keeps them. Failures throw runtime_error "Error I/O" (the device is inaccessible or a request
// failed; a failure other than an exhausted retry also makes the device inaccessible) or
// "Error Status" (the camera's acknowledge carries an error).
class CDevicePort : public ICommonBase {
public:
    static constexpr size_t kBlockSize = 1012;

    explicit CDevicePort(CUsbDevice& device) : m_device(device) {}

    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;
    void ReadRegister(uint64_t address, uint32_t* value) override;
    void WriteRegister(uint64_t address, uint32_t value) override;
    void GetURL(char* text, size_t* size) override;
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    // The low 32 bits of the manifest's entry count.
    void GetNumURLs(uint32_t* count) override;
    // URL_INFO_URL only; an index past the manifest throws runtime_error "URL Index %ld is out of range",
    // another command invalid_argument "Invalid parameter".
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size) override;
    // The URL of manifest entry `index` into a buffer of at least 512 bytes; a smaller one answers size 0.
    void GetURLByIndex(uint32_t index, char* text, size_t* size);

    uint32_t Reg(uint64_t address) {
        uint32_t value = 0;
        ReadRegister(address, &value);
        return value;
    }

private:
    // One request of the block's first `inputLength` bytes; returns the answer's byte count. Throws as
    // described above. Called with m_lock held.
    size_t Transact(size_t inputLength, size_t outputLength);
    void ReadLocked(uint64_t address, uint8_t* buffer, size_t* size);
    void WriteLocked(uint64_t address, const uint8_t* buffer, size_t* size);
    std::string URLText(uint32_t index);

    CUsbDevice& m_device;
    std::mutex m_lock;
    std::array<uint8_t, kBlockSize> m_block{};
    std::array<uint8_t, kBlockSize> m_answer{};
};

} // namespace GenICam::Client
