// RemoteDevice: what the description loader and CPort need from an opened camera.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorcam::description {

/// The remote device port of an opened camera, as its producer's function
/// table reaches it. Results are GenTL error codes (0 success, negative
/// failure). The camera object implements it; tests use a memory-backed one.
class IRemoteDevice {
public:
    virtual ~IRemoteDevice() = default;
    virtual int32_t GetNumPortURLs(uint32_t& count) = 0;
    /// Info command 0 (URL_INFO_URL) fills buffer with the URL text; size is
    /// the buffer's capacity on input and the producer's count on return.
    virtual int32_t GetPortURLInfo(uint32_t index, int32_t infoCommand, void* buffer, size_t& size) = 0;
    virtual int32_t ReadPort(uint64_t address, void* buffer, size_t& size) = 0;
    virtual int32_t WritePort(uint64_t address, const void* buffer, size_t& size) = 0;
    /// The producer's last error text (what GCGetLastError gives, at most 127 characters).
    virtual std::string LastErrorText() = 0;
    /// Refreshes the camera's present flag and returns it.
    virtual bool RefreshPresence() = 0;
};

} // namespace qorcam::description
