// The USB3 Vision data stream module: "DS0" reads the camera's blocks, "DS1" waits for block starts.
#include "CUsbDataStream.h"

#include "CUsbBufferInfo.h"
#include "CUsbDevice.h"
#include "GenTLCustom.h"
#include "UsbService.h"
#include "gentl/InfoFillers.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

namespace {

// Stream interface registers, from the camera's SIRM base.
constexpr uint64_t kSiControl = 0x04;
constexpr uint64_t kSiRequiredPayloadSize = 0x08;
constexpr uint64_t kSiRequiredLeaderSize = 0x10;
constexpr uint64_t kSiRequiredTrailerSize = 0x14;
constexpr uint64_t kSiMaxLeaderSize = 0x18;
constexpr uint64_t kSiMaxTrailerSize = 0x2C;
constexpr uint64_t kSiTransferSize = 0x1C;
constexpr uint64_t kSiTransferCount = 0x20;
constexpr uint64_t kSiFinal1 = 0x24;
constexpr uint64_t kSiFinal2 = 0x28;

constexpr uint16_t kPayloadImage = 0x0001;
constexpr uint16_t kPayloadImageChunks = 0x4001;
constexpr size_t kLeaderBytes = 52;
constexpr size_t kTrailerBytes = 36;
constexpr uint32_t kLostHoldMs = 50;
// Room behind an image buffer's bytes for the leader and trailer when the stream lays the buffer out
// itself; a camera whose leader and trailer need more can't stream to such a consumer.
constexpr size_t kLayoutRoom = 4096;

uint64_t RoundUp8(uint64_t value) {
    return (value + 7) & ~uint64_t{7};
}

// A field of the area at `offset` of `bytes` (`length` long), when the whole area lies inside; else 0.
template <class T>
T AreaField(const uint8_t* bytes, uint64_t length, uint64_t offset, size_t areaBytes, size_t field) {
    if (!bytes || offset > length || length - offset < areaBytes) return T{};
    return Get<T>(bytes + offset, field);
}

} // namespace

CUsbDataStream::CUsbDataStream(CUsbDevice* device, uint32_t index, std::string id)
    : CThreadedDataStream(device, index, std::move(id)), m_device(device) {}

CUsbDataStream::~CUsbDataStream() {
    StopAcquisition(ACQ_STOP_FLAGS_KILL);
}

CBufferInfo* CUsbDataStream::MakeBuffer(void* buffer, size_t size, void* userPointer) {
    // Only image buffers of "DS0" get shared memory; "DS1" buffers take no data.
    const bool shared = GetIndex() == 0 && size != 0;
    return new CUsbBufferInfo(buffer, size, userPointer, shared ? &m_device->Driver() : nullptr,
                              shared ? kLayoutRoom : 0);
}

void CUsbDataStream::Read(uint64_t, void*, size_t* size) {
    *size = 0;
}

void CUsbDataStream::Write(uint64_t address, const void* buffer, size_t* size) {
    uint32_t value = 0;
    if (*size != sizeof value) {
        *size = 0;
        return;
    }
    std::memcpy(&value, buffer, sizeof value);
    switch (address) {
    case DS_REG_USB_106:
        m_transferOverride = value;
        return;
    case DS_REG_USB_107:
        m_leaderOffset = value;
        m_layoutWritten = true;
        return;
    case DS_REG_USB_108:
        m_trailerOffset = value;
        m_layoutWritten = true;
        return;
    default:
        *size = 0;
    }
}

bool CUsbDataStream::SetUpStream() {
    CDevicePort& port = m_device->Port();
    const uint64_t sirm = m_device->Info().GetSirmAddress();
    uint32_t size = 0, count = 0, final1 = 0, final2 = 0;
    uint32_t leaderSize = 0, trailerSize = 0;
    uint64_t payload = 0;
    try {
        port.WriteRegister(sirm + kSiControl, 1);
        port.WriteRegister(sirm + kSiControl, 0);
        // With the camera's stream off, whatever a consumer before this one left on the pipe (a
        // whole block, or the rest of one, when it ended in the middle of a stream) is dropped: the
        // first block read here is one of this stream.
        if (CallAndWait(m_device->Driver(), usbdrv::IOCTL_USB_ResetStreamPipe, nullptr, 0) !=
            devio::STATUS_SUCCESS)
            ReportError(ExecName() + " stream pipe reset failed");
        // The camera learns how much leader and trailer the host takes before it streams.
        leaderSize = port.Reg(sirm + kSiRequiredLeaderSize);
        trailerSize = port.Reg(sirm + kSiRequiredTrailerSize);
        port.WriteRegister(sirm + kSiMaxLeaderSize, leaderSize);
        port.WriteRegister(sirm + kSiMaxTrailerSize, trailerSize);
        uint8_t bytes[8] = {};
        size_t n = sizeof bytes;
        port.Read(sirm + kSiRequiredPayloadSize, bytes, &n);
        if (n != sizeof bytes) throw std::runtime_error("Error I/O");
        payload = Get<uint64_t>(bytes, 0);
        // The service's layout holds 32-bit sizes; a larger block can't be described to it.
        if (payload > std::numeric_limits<uint32_t>::max()) throw std::runtime_error("Error I/O");
        const uint32_t override = m_transferOverride.load();
        if (override != 0 && override < payload) {
            port.WriteRegister(sirm + kSiTransferSize, override);
            port.WriteRegister(sirm + kSiTransferCount, static_cast<uint32_t>(payload / override));
            port.WriteRegister(sirm + kSiFinal1, static_cast<uint32_t>(payload % override));
            port.WriteRegister(sirm + kSiFinal2, 0);
        }
        auto readBack = [&] {
            size = port.Reg(sirm + kSiTransferSize);
            count = port.Reg(sirm + kSiTransferCount);
            final1 = port.Reg(sirm + kSiFinal1);
            final2 = port.Reg(sirm + kSiFinal2);
        };
        port.WriteRegister(sirm + kSiControl, 1);
        readBack();
        if (uint64_t{count} * size + final1 + final2 != payload) {
            port.WriteRegister(sirm + kSiControl, 0);
            port.WriteRegister(sirm + kSiTransferSize, static_cast<uint32_t>(payload));
            port.WriteRegister(sirm + kSiTransferCount, 1);
            port.WriteRegister(sirm + kSiFinal1, 0);
            port.WriteRegister(sirm + kSiFinal2, 0);
            port.WriteRegister(sirm + kSiControl, 1);
            readBack();
        }
    } catch (const std::exception& e) {
        ReportError(ExecName() + " " + e.what());
        return false;
    }
    m_payloadSize = payload;
    uint32_t leaderOffset = m_leaderOffset, trailerOffset = m_trailerOffset;
    if (!m_layoutWritten) {
        // Payload from 0, then the leader and the trailer, each 8-aligned; all of it inside the room
        // every image buffer has behind its bytes.
        const uint64_t leader = RoundUp8(payload);
        const uint64_t trailer = leader + RoundUp8(std::max<uint32_t>(leaderSize, 1));
        const uint64_t end = trailer + RoundUp8(std::max<uint32_t>(trailerSize, 1));
        if (end - payload > kLayoutRoom || end > std::numeric_limits<uint32_t>::max()) {
            ReportError(ExecName() + " leader and trailer too large");
            return false;
        }
        leaderOffset = static_cast<uint32_t>(leader);
        trailerOffset = static_cast<uint32_t>(trailer);
        m_autoLeader = leaderOffset;
        m_autoTrailer = trailerOffset;
        m_autoReadLength = static_cast<uint32_t>(end);
    }
    uint8_t setup[usbdrv::kUsbStreamSetupRequestSize] = {};
    const usbdrv::UsbStreamSetup layout{
        ProcessId(), static_cast<uint32_t>(payload), leaderOffset, trailerOffset, size, count, final1, final2};
    std::memcpy(setup, &layout, sizeof layout);
    if (CallAndWait(m_device->Driver(), usbdrv::IOCTL_USB_SetStreamInfo, setup, sizeof setup) !=
        devio::STATUS_SUCCESS) {
        ReportError("DataExec_Thread IOCTL_GIGE_SetStreamInfo error");
        return false;
    }
    return true;
}

void CUsbDataStream::ExecThread() {
    devio::DeviceHandle& driver = m_device->Driver();
    const bool image = GetIndex() == 0;
    const bool ready = !image || SetUpStream();
    m_execStarted.Set();
    if (!ready) return;
    const std::string name = ExecName();
    auto giveBack = [&](CUsbBufferInfo* buffer, uint32_t status) {
        buffer->status = status;
        buffer->bytes = 0;
        if (status == devio::STATUS_DEVICE_NOT_CONNECTED) m_device->SetInaccessible();
        ReportError(name + " IOCTL_GIGE_GetStream error");
        Deliver(buffer, false);
    };
    for (;;) {
        const int which = os::WaitAny({&m_execStop, &m_cancelRequest, &m_bufferQueued}, os::kInfinite);
        if (which == 0) break;
        if (which == 1) {
            driver.CancelIo();
            m_cancelDone.Set();
            continue;
        }
        if (which != 2) {
            ReportError(name + " WaitForMultipleObjects error");
            break;
        }
        while (NumWithDriver() < kSlots) {
            auto* buffer = static_cast<CUsbBufferInfo*>(PopInput());
            if (!buffer) break;
            if (m_lost) {
                if (m_execStop.Wait(kLostHoldMs)) {
                    // Stopping: the buffer goes back at once rather than being held.
                    giveBack(buffer, devio::STATUS_CANCELLED);
                    break;
                }
                giveBack(buffer, devio::STATUS_CANCELLED);
                continue;
            }
            const uint64_t payload = m_payloadSize.load();
            // A buffer laid out by the stream is read with its leader and trailer room; it must hold
            // the whole payload in its own bytes.
            const uint64_t readLength = m_layoutWritten ? buffer->GetSize() : m_autoReadLength.load();
            const bool fits = m_layoutWritten || (payload <= buffer->GetSize() && readLength <= buffer->TargetSize());
            uint32_t status;
            if (image && buffer->Target() && fits) {
                if (payload < readLength) std::memset(buffer->Target() + payload, 0, readLength - payload);
                status = driver.ReadFile(devio::RegionSpan{buffer->RegionId(), 0, readLength}, buffer->overlapped);
            } else if (image) {
                // A buffer of size 0 can take no block.
                status = devio::STATUS_BUFFER_TOO_SMALL;
            } else {
                status = driver.DeviceIoControl(usbdrv::IOCTL_USB_GetStream, nullptr, 0, nullptr, 0,
                                                buffer->overlapped);
            }
            if (status == devio::STATUS_PENDING || status == devio::STATUS_SUCCESS) {
                // A read that completed at once is collected by the wait thread like any other.
                AddToDriver(buffer);
                m_requestPending.Set();
                continue;
            }
            giveBack(buffer, status);
            if (status != devio::STATUS_BUFFER_TOO_SMALL) m_lost = true;
        }
    }
    if (image) {
        try {
            m_device->Port().WriteRegister(m_device->Info().GetSirmAddress() + kSiControl, 0);
        } catch (...) {
        }
    }
    driver.CancelIo();
}

void CUsbDataStream::WaitThread() {
    for (;;) {
        auto* oldest = static_cast<CUsbBufferInfo*>(OldestWithDriver());
        if (!oldest) {
            const int which = os::WaitAny({&m_waitStop, &m_requestPending}, os::kInfinite);
            if (which == 0) return;
            if (which != 1) {
                ReportError("Wait_Thread WaitForMultipleObjects error");
                return;
            }
            continue;
        }
        const int which = os::WaitAny({&m_waitStop, &oldest->overlapped.CompletionEvent()}, os::kInfinite);
        if (which == 0) return;
        if (which != 1) {
            ReportError("Wait_Thread WaitForMultipleObjects error 1");
            return;
        }
        Complete(oldest);
        // A slot is free again: queued buffers may go to the service.
        m_bufferQueued.Set();
    }
}

uint32_t CUsbDataStream::Complete(CUsbBufferInfo* buffer) {
    uint64_t bytes = 0;
    const uint32_t status = m_device->Driver().GetOverlappedResult(buffer->overlapped, &bytes, true);
    buffer->status = status;
    buffer->bytes = static_cast<uint32_t>(std::min<uint64_t>(bytes, buffer->GetSize()));
    if (buffer->HasShadow() && devio::NtSuccess(status))
        std::memcpy(buffer->GetBase(), buffer->Target(), buffer->GetSize());
    // The device is marked gone before the consumer sees the buffer that tells of it.
    if (status == devio::STATUS_DEVICE_NOT_CONNECTED) {
        m_device->SetInaccessible();
        m_lost = true;
    }
    Deliver(buffer, true);
    return status;
}

void CUsbDataStream::ReturnAfterStop(CBufferInfo* buffer) {
    Complete(static_cast<CUsbBufferInfo*>(buffer));
}

void CUsbDataStream::GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                                   size_t* size) {
    RequireOwnBuffer(buffer);
    const auto& b = *static_cast<CUsbBufferInfo*>(buffer);
    // The consumer's layout lies in its own bytes; the stream's own behind them.
    const bool own = m_layoutWritten;
    const uint8_t* bytes = own ? b.GetBase() : m_autoReadLength != 0 ? b.Target() : nullptr;
    const uint64_t length = own ? b.GetSize() : b.TargetSize();
    const uint64_t leader = own ? m_leaderOffset.load() : m_autoLeader.load();
    const uint64_t trailer = own ? m_trailerOffset.load() : m_autoTrailer.load();
    auto lead = [&](auto zero, size_t field) {
        return AreaField<decltype(zero)>(bytes, length, leader, kLeaderBytes, field);
    };
    auto trail = [&](auto zero, size_t field) {
        return AreaField<decltype(zero)>(bytes, length, trailer, kTrailerBytes, field);
    };
    const uint16_t payloadType = lead(uint16_t{}, 18);
    const bool isImage = payloadType == kPayloadImage || payloadType == kPayloadImageChunks;
    const bool hasChunks = payloadType == kPayloadImageChunks;
    switch (cmd) {
    case BUFFER_INFO_TIMESTAMP:
        return CopyInfoUInt64(out, size, type, lead(uint64_t{}, 20));
    case BUFFER_INFO_WIDTH:
        return CopyInfoSizeT(out, size, type, isImage ? lead(uint32_t{}, 32) : 0);
    case BUFFER_INFO_HEIGHT:
        return CopyInfoSizeT(out, size, type, isImage ? lead(uint32_t{}, 36) : 0);
    case BUFFER_INFO_XOFFSET:
        return CopyInfoSizeT(out, size, type, isImage ? lead(uint32_t{}, 40) : 0);
    case BUFFER_INFO_YOFFSET:
        return CopyInfoSizeT(out, size, type, isImage ? lead(uint32_t{}, 44) : 0);
    case BUFFER_INFO_XPADDING:
        return CopyInfoSizeT(out, size, type, isImage ? lead(uint16_t{}, 48) : 0);
    case BUFFER_INFO_YPADDING:
        return CopyInfoSizeT(out, size, type, isImage ? lead(uint16_t{}, 50) : 0);
    case BUFFER_INFO_FRAMEID:
        return CopyInfoUInt64(out, size, type, lead(uint64_t{}, 8));
    case BUFFER_INFO_IMAGEPRESENT:
        return CopyInfoBool8(out, size, type, false);
    case BUFFER_INFO_IMAGEOFFSET:
        return CopyInfoSizeT(out, size, type, 0);
    case BUFFER_INFO_PAYLOADTYPE:
        return CopyInfoSizeT(out, size, type, payloadType);
    case BUFFER_INFO_PIXELFORMAT:
    case BUFFER_INFO_PIXELFORMAT_NAMESPACE:
        return CopyInfoUInt64(out, size, type, isImage ? lead(uint32_t{}, 28) : 0);
    case BUFFER_INFO_DELIVERED_IMAGEHEIGHT:
        return CopyInfoSizeT(out, size, type, isImage ? trail(uint32_t{}, 28) : 0);
    case BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE:
        return CopyInfoSizeT(out, size, type, hasChunks ? trail(uint64_t{}, 20) : 0);
    case BUFFER_INFO_CHUNKLAYOUTID:
        return CopyInfoUInt64(out, size, type, hasChunks ? trail(uint32_t{}, 32) : 0);
    default:
        b.AnswerCommonInfo(cmd, type, out, size);
    }
}

} // namespace GenICam::Client
