// The remote device port of an opened GigE camera: its registers and memory through the service.
#include "CDevicePort.h"

#include "CGigEDevice.h"
#include "CGigEInterface.h"
#include "GigeIoctl.h"
#include "GigeService.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::gige;

namespace {

constexpr uint16_t kReadReg = 1, kWriteReg = 2, kReadMem = 3, kWriteMem = 4;
// The answer's data starts at +4; the block holds no more than this.
constexpr size_t kAnswerRoom = sizeof(GigeRequestBlock) - 4;

} // namespace

void CDevicePort::Fill(uint16_t command) {
    std::memset(m_block, 0, sizeof m_block);
    Put<uint32_t>(m_block, 0, ProcessId());
    Put<uint32_t>(m_block, 4, m_device.Info().GetCameraAddress());
    Put<uint16_t>(m_block, 8, command);
    Put<uint16_t>(m_block, 10, m_device.CommandPort());
}

void CDevicePort::Transact() {
    const uint32_t status =
        CallService(m_device.Driver(), IOCTL_GIGE_SendCmd, m_block, sizeof m_block, m_block, sizeof m_block);
    if (status == STATUS_GIGE_DEVICE_LOST) m_device.SetVisible(false);
    if (status != gige::STATUS_SUCCESS) throw std::runtime_error("Error I/O");
    if (Get<uint16_t>(m_block, 0) & 0x8000) throw std::runtime_error("Error Status");
}

void CDevicePort::ReadRegister(uint64_t address, uint32_t* value) {
    std::lock_guard<std::mutex> guard(m_lock);
    Fill(kReadReg);
    Put<uint16_t>(m_block, 12, 1);
    Put<uint32_t>(m_block, 14, static_cast<uint32_t>(address));
    Transact();
    *value = Get<uint16_t>(m_block, 2) != 0 ? Get<uint32_t>(m_block, 4) : 0;
}

void CDevicePort::WriteRegister(uint64_t address, uint32_t value) {
    std::lock_guard<std::mutex> guard(m_lock);
    Fill(kWriteReg);
    Put<uint16_t>(m_block, 12, 1);
    Put<uint32_t>(m_block, 14, static_cast<uint32_t>(address));
    Put<uint32_t>(m_block, 282, value);
    Transact();
}

void CDevicePort::Read(uint64_t address, void* buffer, size_t* size) {
    if (*size == 4) {
        uint32_t value = 0;
        ReadRegister(address, &value);
        value = htonl(value);
        std::memcpy(buffer, &value, 4);
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < *size) {
        const size_t chunk = std::min(kChunk, *size - done);
        Fill(kReadMem);
        Put<uint32_t>(m_block, 12, static_cast<uint32_t>(address + done));
        Put<uint16_t>(m_block, 16, static_cast<uint16_t>(chunk));
        try {
            Transact();
        } catch (...) {
            *size = done;
            throw;
        }
        // Never more than was asked for, whatever count the answer claims.
        const size_t got = std::min<size_t>({Get<uint16_t>(m_block, 2), chunk, kAnswerRoom});
        if (got == 0) break;
        std::memcpy(out + done, m_block + 4, got);
        done += got;
    }
    *size = done;
}

void CDevicePort::Write(uint64_t address, const void* buffer, size_t* size) {
    if (*size == 4) {
        uint32_t value;
        std::memcpy(&value, buffer, 4);
        WriteRegister(address, ntohl(value));
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < *size) {
        const size_t chunk = std::min(kChunk, *size - done);
        Fill(kWriteMem);
        Put<uint32_t>(m_block, 12, static_cast<uint32_t>(address + done));
        Put<uint16_t>(m_block, 16, static_cast<uint16_t>(chunk));
        std::memcpy(m_block + 18, in + done, chunk);
        try {
            Transact();
        } catch (...) {
            *size = done;
            throw;
        }
        // The acknowledge's index counts the bytes the camera took.
        const size_t confirmed = std::min<size_t>(Get<uint16_t>(m_block, 2), chunk);
        if (confirmed == 0) break;
        done += confirmed;
    }
    *size = done;
}

void CDevicePort::ReadURLText(char* buffer, size_t* size, uint64_t address) {
    if (*size < kChunk) {
        *size = 0;
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    Fill(kReadMem);
    Put<uint32_t>(m_block, 12, static_cast<uint32_t>(address));
    Put<uint16_t>(m_block, 16, static_cast<uint16_t>(kChunk));
    try {
        Transact();
    } catch (...) {
        *size = 0;
        return;
    }
    const size_t got = std::min<size_t>(Get<uint16_t>(m_block, 2), kChunk);
    std::memcpy(buffer, m_block + 4, got);
    *size = got;
}

std::string CDevicePort::URLText(uint64_t address) {
    char text[kChunk + 1] = {};
    size_t size = kChunk;
    ReadURLText(text, &size, address);
    return std::string(text, strnlen(text, size));
}

void CDevicePort::GetURL(char* text, size_t* size) {
    // The text with its terminator, within the caller's room.
    const std::string url = URLText(0x200);
    if (!text) {
        *size = url.size() + 1;
        return;
    }
    const size_t n = std::min(*size, url.size() + 1);
    if (n == 0) return;
    std::memcpy(text, url.c_str(), n);
    text[n - 1] = '\0';
    *size = n;
}

void CDevicePort::GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                             size_t* size) {
    if (index >= 2) throw std::invalid_argument(FormatString("URL Index %ld is out of range", long(index)));
    if (cmd != URL_INFO_URL) throw std::invalid_argument("Invalid parameter");
    CopyInfoString(buffer, size, type, URLText(index == 0 ? 0x200 : 0x400));
}

void CDevicePort::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    PortInfoValues values = ModulePortInfo("DEV::" + m_device.GetID(), "Device", "Device",
                                           SystemVersionText(m_device.GetSystem()));
    values.accessRead = values.accessWrite = true;
    AnswerPortInfo(values, cmd, type, buffer, size);
}

} // namespace GenICam::Client
