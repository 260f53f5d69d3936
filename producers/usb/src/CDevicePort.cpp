// The remote device port of an opened USB3 Vision camera: its memory and its description file URLs.
#include "CDevicePort.h"

#include "CUsbDevice.h"
#include "UsbService.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

namespace {

constexpr size_t kAckHeader = 12;     // acknowledge header the camera's maximum includes
constexpr size_t kCommandHeader = 20; // command header and prefix the camera's maximum includes
constexpr size_t kManifestEntry = 64;
constexpr size_t kUrlRoom = 512;

} // namespace

size_t CDevicePort::Transact(size_t inputLength, size_t outputLength) {
    if (!m_device.IsAccessible()) throw std::runtime_error("Error I/O");
    m_answer.fill(0);
    uint64_t bytes = 0;
    const uint32_t status = CallAndWait(m_device.Driver(), usbdrv::IOCTL_USB_SendCmd, m_block.data(),
                                        inputLength, m_answer.data(), outputLength, &bytes);
    if (status != devio::STATUS_SUCCESS) {
        // An exhausted retry is a camera that was busy, not one that is gone.
        if (status != usbdrv::STATUS_RETRY) m_device.SetInaccessible();
        throw std::runtime_error("Error I/O");
    }
    if (bytes < sizeof(usbdrv::UsbCmdAnswer)) throw std::runtime_error("Error I/O");
    if (IsErrorStatus(Get<uint16_t>(m_answer.data(), 0))) throw std::runtime_error("Error Status");
    return static_cast<size_t>(bytes);
}

void CDevicePort::ReadLocked(uint64_t address, uint8_t* buffer, size_t* size) {
    // Chunks are whole registers and fit both the camera's acknowledge and the port's block.
    const size_t limit = std::min<size_t>(m_device.Info().GetMaxAckTransfer() > kAckHeader
                                              ? m_device.Info().GetMaxAckTransfer() - kAckHeader
                                              : 0,
                                          kBlockSize - 8) &
                         ~size_t{3};
    if (limit == 0 && *size > 0) throw std::runtime_error("Error I/O");
    size_t done = 0;
    while (done < *size) {
        const size_t wanted = std::min(limit, *size - done);
        const size_t chunk = (wanted + 3) & ~size_t{3};
        m_block.fill(0);
        Put<uint32_t>(m_block.data(), 0, ProcessId());
        Put<uint32_t>(m_block.data(), 4, usbdrv::kUsbCmdReadMemory);
        Put<uint64_t>(m_block.data(), 8, address + done);
        Put<uint16_t>(m_block.data(), 16, static_cast<uint16_t>(chunk));
        const size_t bytes = Transact(sizeof(usbdrv::UsbCmdRequest), 8 + chunk);
        // Only data that really came back, and no more than was asked for, is taken.
        const size_t got = std::min<size_t>({Get<uint16_t>(m_answer.data(), 2), bytes - 4, wanted});
        if (got == 0) break;
        std::memcpy(buffer + done, m_answer.data() + 4, got);
        done += got;
    }
    *size = done;
}

void CDevicePort::WriteLocked(uint64_t address, const uint8_t* buffer, size_t* size) {
    const size_t limit = std::min<size_t>(m_device.Info().GetMaxCommandTransfer() > kCommandHeader
                                              ? m_device.Info().GetMaxCommandTransfer() - kCommandHeader
                                              : 0,
                                          kBlockSize - sizeof(usbdrv::UsbCmdRequest));
    if (limit == 0 && *size > 0) throw std::runtime_error("Error I/O");
    size_t done = 0;
    while (done < *size) {
        const size_t chunk = std::min(limit, *size - done);
        m_block.fill(0);
        Put<uint32_t>(m_block.data(), 0, ProcessId());
        Put<uint32_t>(m_block.data(), 4, usbdrv::kUsbCmdWriteMemory);
        Put<uint64_t>(m_block.data(), 8, address + done);
        Put<uint16_t>(m_block.data(), 16, static_cast<uint16_t>(chunk));
        std::memcpy(m_block.data() + 18, buffer + done, chunk);
        Transact(sizeof(usbdrv::UsbCmdRequest) + chunk, 8);
        const size_t written = std::min<size_t>(Get<uint16_t>(m_answer.data(), 2), chunk);
        if (written == 0) break;
        done += written;
    }
    *size = done;
}

void CDevicePort::Read(uint64_t address, void* buffer, size_t* size) {
    if (!m_device.IsAccessible()) throw std::runtime_error("Error I/O");
    std::lock_guard<std::mutex> guard(m_lock);
    ReadLocked(address, static_cast<uint8_t*>(buffer), size);
}

void CDevicePort::Write(uint64_t address, const void* buffer, size_t* size) {
    if (!m_device.IsAccessible()) throw std::runtime_error("Error I/O");
    std::lock_guard<std::mutex> guard(m_lock);
    WriteLocked(address, static_cast<const uint8_t*>(buffer), size);
}

void CDevicePort::ReadRegister(uint64_t address, uint32_t* value) {
    uint8_t data[4] = {};
    size_t size = sizeof data;
    Read(address, data, &size);
    if (size != sizeof data) throw std::runtime_error("Error I/O");
    *value = Get<uint32_t>(data, 0);
}

void CDevicePort::WriteRegister(uint64_t address, uint32_t value) {
    size_t size = sizeof value;
    Write(address, &value, &size);
    if (size != sizeof value) throw std::runtime_error("Error I/O");
}

void CDevicePort::GetNumURLs(uint32_t* count) {
    uint8_t data[8] = {};
    size_t size = sizeof data;
    Read(m_device.Info().GetManifestAddress(), data, &size);
    if (size != sizeof data) throw std::runtime_error("Error I/O");
    *count = static_cast<uint32_t>(Get<uint64_t>(data, 0));
}

std::string CDevicePort::URLText(uint32_t index) {
    uint8_t entry[kManifestEntry] = {};
    size_t size = sizeof entry;
    Read(m_device.Info().GetManifestAddress() + 8 + uint64_t{index} * kManifestEntry, entry, &size);
    if (size != sizeof entry) throw std::runtime_error("Error I/O");
    const uint32_t version = Get<uint32_t>(entry, 0);
    const uint32_t format = Get<uint32_t>(entry, 4);
    const bool zipped = ((format >> 10) & 0x3F) == 1;
    return "Local:" + m_device.Info().GetManufacturer() + "_" + m_device.Info().GetModel() + "_" +
           FormatString("%d.%d.%d.", static_cast<int>(version >> 24),
                        static_cast<int>((version >> 16) & 0xFF), static_cast<int>(version & 0xFFFF)) +
           (zipped ? "zip;" : "xml;") +
           FormatString("%" PRIx64 ";%" PRIx64, Get<uint64_t>(entry, 8), Get<uint64_t>(entry, 16));
}

void CDevicePort::GetURLByIndex(uint32_t index, char* text, size_t* size) {
    if (*size < kUrlRoom) {
        *size = 0;
        return;
    }
    const std::string url = URLText(index);
    // Manufacturer and model are at most 63 bytes each: the URL always fits the room.
    const size_t n = std::min(url.size(), kUrlRoom - 1);
    std::memcpy(text, url.data(), n);
    text[n] = '\0';
    *size = n + 1;
}

void CDevicePort::GetURL(char* text, size_t* size) {
    GetURLByIndex(0, text, size);
}

void CDevicePort::GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                             size_t* size) {
    uint32_t count = 0;
    GetNumURLs(&count);
    if (index >= count) throw std::runtime_error(FormatString("URL Index %ld is out of range", long{index}));
    if (cmd != URL_INFO_URL) throw std::invalid_argument("Invalid parameter");
    CopyInfoString(buffer, size, type, URLText(index));
}

void CDevicePort::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    PortInfoValues values = ModulePortInfo("DEV::" + m_device.GetID(), "Device", "DevicePort",
                                           SystemVersionText(m_device.GetSystem()));
    values.accessRead = values.accessWrite = true;
    values.bigEndian = values.accessNA = values.accessNI = false;
    AnswerPortInfo(values, cmd, type, buffer, size);
}

} // namespace GenICam::Client
