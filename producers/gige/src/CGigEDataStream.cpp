// The GigE data stream module: "DS0" takes the camera's images, "DS1" the service's frame-start notices.
#include "CGigEDataStream.h"

#include "CGigEBufferInfo.h"
#include "CGigEDevice.h"
#include "GenTLCustom.h"
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "GigeService.h"
#include "gentl/InfoFillers.h"
#include "os/Clock.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::gige;

namespace {

constexpr uint32_t kRegStreamPort = 0x0D00;
constexpr uint32_t kRegPacketSize = 0x0D04;
constexpr uint32_t kRegDestination = 0x0D18;
constexpr uint32_t kRegGvspCapability = 0x092C;
constexpr uint32_t kRegGvspConfiguration = 0x0960;
constexpr uint32_t kExtendedIds = 0x40000000;
constexpr size_t kInfoBytes = sizeof(GigeBlockInfo);
constexpr int kSlots = 10;

// Room behind an image buffer's data for the block information and the missing-packet bitmap, when
// the consumer sized the buffer for the payload alone: an 8-aligned gap, the information, two spare
// bytes and one bit for every 64 bytes of payload (no camera sends smaller packets).
size_t LayoutRoom(size_t size) {
    return 16 + kInfoBytes + 2 + size / 512 + 1;
}

// The stream whose completions this thread takes now: its wait thread, or a consumer fetching (null on
// every other thread).
thread_local const CGigEDataStream* t_waitingStream = nullptr;

// How long the wait thread leaves the completions to consumers after one last fetched: a consumer that
// takes a buffer and comes back for the next within this time is the one the service's answers wake.
// At most 50 ms, and no more than the time of half the slots' frames: a consumer held up in its callback
// leaves the service buffers for the other half while the wait thread catches up (unread completions
// hold their slots).
constexpr int64_t kConsumerGraceMs = 50;
constexpr int64_t kMinConsumerGraceNs = 2000000;
constexpr int64_t kGraceFrames = kSlots / 2;
// Buffers queued while a consumer fetches wait in the input queue until this many slots are free, and
// then go to the service together, in one write that its request loop reads in one wake-up rather than
// one each: the service still holds the other slots' buffers meanwhile (at least six of ten).
constexpr uint32_t kHandBackBatch = 4;

int64_t SteadyNs() {
    return static_cast<int64_t>(os::Clock::Real().NowNs());
}

struct Mark {
    explicit Mark(const CGigEDataStream* stream) : previous(t_waitingStream) { t_waitingStream = stream; }
    ~Mark() { t_waitingStream = previous; }
    const CGigEDataStream* previous;
};

} // namespace

CGigEDataStream::CGigEDataStream(CGigEDevice* device, uint32_t index, std::string id)
    : CThreadedDataStream(device, index, std::move(id)), m_device(device) {}

CGigEDataStream::~CGigEDataStream() {
    StopAcquisition(ACQ_STOP_FLAGS_KILL);
}

std::unique_ptr<devio::Region> CGigEDataStream::MapConsumerMemory(void* buffer, size_t size) {
    const int named = m_bufferMemory.exchange(-1);
    if (named < 0 || !buffer) return nullptr;
    const int fd = fcntl(named, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    auto view = devio::Region::Adopt(fd);
    const uint64_t needed = uint64_t(size) + (m_layoutWritten ? 0 : LayoutRoom(size));
    if (!view || view->Size() < needed) return nullptr;
    // The file must be that memory, from its first byte: a byte changed through the view shows there.
    volatile uint8_t* mine = view->Data();
    volatile uint8_t* theirs = static_cast<uint8_t*>(buffer);
    const uint8_t before = theirs[0];
    mine[0] = static_cast<uint8_t>(~before);
    const bool same = theirs[0] == static_cast<uint8_t>(~before);
    mine[0] = before;
    return same ? std::move(view) : nullptr;
}

CBufferInfo* CGigEDataStream::MakeBuffer(void* buffer, size_t size, void* userPointer) {
    // Only image buffers of "DS0" get shared memory; "DS1" buffers carry nothing. Consumer memory that is
    // a memory file the consumer named is written by the service in place; other consumer memory gets a
    // shadow.
    const bool shared = GetIndex() == 0 && size != 0;
    CGigEBufferInfo* made = nullptr;
    if (shared) {
        if (auto view = MapConsumerMemory(buffer, size))
            made = new CGigEBufferInfo(buffer, size, userPointer, std::move(view), m_device->Driver());
    }
    if (!made)
        made = new CGigEBufferInfo(buffer, size, userPointer, shared ? &m_device->Driver() : nullptr,
                                   shared ? LayoutRoom(size) : 0);
    // The wait thread takes every completion through GetOverlappedResult; nobody waits on the event.
    made->overlapped.LeaveEventAlone();
    return made;
}

size_t CGigEDataStream::InputCount() {
    size_t count = 0, size = sizeof count;
    GetInfo(STREAM_INFO_NUM_QUEUED, nullptr, &count, &size);
    return count;
}

void CGigEDataStream::Read(uint64_t address, void* buffer, size_t* size) {
    if (address == DS_REG_PORT && *size == 4) {
        const uint32_t port = m_port;
        std::memcpy(buffer, &port, 4);
        return;
    }
    if (address == DS_REG_STATISTICS && *size == 24 && m_port != 0) {
        uint8_t in[10] = {};
        Put<uint16_t>(in, 0, static_cast<uint16_t>(m_port));
        uint8_t counters[24] = {};
        CallService(m_device->Driver(), IOCTL_GIGE_GetStreamStatus, in, sizeof in, counters, sizeof counters);
        std::memcpy(buffer, counters, sizeof counters);
        return;
    }
    *size = 0;
}

void CGigEDataStream::Write(uint64_t address, const void* buffer, size_t* size) {
    if (*size != 4) {
        *size = 0;
        return;
    }
    uint32_t value;
    std::memcpy(&value, buffer, 4);
    switch (address) {
    case DS_REG_PORT:
        m_port = value;
        return;
    case DS_REG_STREAM_ENABLE:
        if (m_port == 0) break;
        {
            uint8_t in[4] = {};
            Put<uint16_t>(in, 0, static_cast<uint16_t>(m_port));
            in[2] = value != 0;
            CallService(m_device->Driver(), IOCTL_GIGE_SetStreamEnable, in, sizeof in);
        }
        return;
    case DS_REG_FLAG_103:
        m_resendEnable = value != 0;
        return;
    case DS_REG_DESTINATION:
        m_destinationWritten = true;
        m_device->Port().WriteRegister(kRegDestination, value);
        return;
    case DS_REG_INFO_OFFSET:
        m_infoOffset = value;
        m_layoutWritten = true;
        return;
    case DS_REG_PACKET_COUNT:
        m_packetCount = value;
        m_layoutWritten = true;
        return;
    case DS_REG_BUFFER_MEMORY:
        if (GetIndex() != 0) break;
        m_bufferMemory = static_cast<int>(value);
        return;
    default:
        break;
    }
    *size = 0;
}

void CGigEDataStream::GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                                    size_t* size) {
    RequireOwnBuffer(buffer);
    if (buffer->AnswerCommonInfo(cmd, type, out, size)) return;
    // The block information lies in the buffer at the info offset (behind the consumer's part of it when
    // the stream laid the buffer out itself); a buffer too small to hold it, or a stream that takes no
    // blocks, answers 0.
    const uint8_t* info = BlockInfo(*static_cast<CGigEBufferInfo*>(buffer));
    const bool readable = info != nullptr;
    auto field32 = [&](size_t offset) -> uint32_t { return readable ? Get<uint32_t>(info, offset) : 0; };
    auto field64 = [&](size_t offset) -> uint64_t { return readable ? Get<uint64_t>(info, offset) : 0; };
    auto field16 = [&](size_t offset) -> uint16_t { return readable ? Get<uint16_t>(info, offset) : 0; };
    const uint32_t payloadType = field32(0);
    const bool image = payloadType == 1 || payloadType == 5;
    switch (cmd) {
    case BUFFER_INFO_TIMESTAMP:
        return CopyInfoUInt64(out, size, type, field64(12));
    case BUFFER_INFO_WIDTH:
        return CopyInfoSizeT(out, size, type, image ? field32(24) : 0);
    case BUFFER_INFO_HEIGHT:
        return CopyInfoSizeT(out, size, type, image ? field32(28) : 0);
    case BUFFER_INFO_XOFFSET:
        return CopyInfoSizeT(out, size, type, image ? field32(32) : 0);
    case BUFFER_INFO_YOFFSET:
        return CopyInfoSizeT(out, size, type, image ? field32(36) : 0);
    case BUFFER_INFO_XPADDING:
        return CopyInfoSizeT(out, size, type, image ? field16(40) : 0);
    case BUFFER_INFO_YPADDING:
        return CopyInfoSizeT(out, size, type, image ? field16(42) : 0);
    case BUFFER_INFO_FRAMEID:
        return CopyInfoUInt64(out, size, type, field64(4));
    case BUFFER_INFO_IMAGEPRESENT:
        return CopyInfoBool8(out, size, type, false);
    case BUFFER_INFO_IMAGEOFFSET:
        return CopyInfoSizeT(out, size, type, 0);
    case BUFFER_INFO_PAYLOADTYPE:
        return CopyInfoSizeT(out, size, type, payloadType);
    case BUFFER_INFO_PIXELFORMAT:
    case BUFFER_INFO_PIXELFORMAT_NAMESPACE:
        return CopyInfoUInt64(out, size, type, image ? field32(20) : 0);
    case BUFFER_INFO_DELIVERED_IMAGEHEIGHT:
        return CopyInfoSizeT(out, size, type,
                             payloadType == 1   ? field32(44)
                             : payloadType == 5 ? field32(48)
                                                : 0);
    case BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE:
        return CopyInfoSizeT(out, size, type, payloadType == 5 ? field32(48) : 0);
    case BUFFER_INFO_CHUNKLAYOUTID:
        return CopyInfoUInt64(out, size, type, payloadType == 5 ? field32(52) : 0);
    default:
        if (type) *type = INFO_DATATYPE_UNKNOWN;
        return;
    }
}

const uint8_t* CGigEDataStream::BlockInfo(const CGigEBufferInfo& buffer) const {
    if (m_layoutWritten) {
        if (m_packetCount != 0 && buffer.GetBase() && uint64_t(m_infoOffset) + kInfoBytes <= buffer.GetSize())
            return buffer.GetBase() + m_infoOffset;
    } else if (buffer.packets != 0 && uint64_t(buffer.infoOffset) + kInfoBytes <= buffer.TargetSize()) {
        return buffer.Target() + buffer.infoOffset;
    }
    return nullptr;
}

bool CGigEDataStream::SetUpStream() {
    CDevicePort& camera = m_device->Port();
    const bool controls = m_device->Controls();
    std::string failure;
    uint32_t packetSize = 0, destination = 0;
    bool allocated = false, joined = false;
    auto step = [&](const char* text, auto&& action) {
        if (!failure.empty()) return;
        try {
            if (!action()) failure = text;
        } catch (...) {
            failure = text;
        }
    };
    // A consumer that never named a destination gets the images sent to the adapter that faces the
    // camera, unless the camera streams to a multicast group.
    if (controls && !m_layoutWritten && !m_destinationWritten) {
        const uint32_t adapter = m_device->Info().GetAdapterAddress();
        step("ReadReg 0x0d18 error", [&] { return (destination = camera.Reg(kRegDestination)), true; });
        if ((destination >> 24) != 239 && adapter != 0)
            step("WriteReg 0x0d18 error", [&] { return camera.WriteRegister(kRegDestination, adapter), true; });
    }
    // The packet size is the register's low 16 bits; the flag bits above them are not part of it.
    step("ReadReg 0x0D04 error", [&] { return (packetSize = camera.Reg(kRegPacketSize) & 0xFFFF), true; });
    step("ReadReg 0x0d18 error", [&] { return (destination = camera.Reg(kRegDestination)), true; });
    const bool multicast = (destination >> 24) == 239;
    if (controls) {
        step("DataExec_Thread socket error", [&] {
            m_socket = HeldUdpPort::HoldRandom(multicast ? 0xA000 : 0x8000);
            return m_socket.IsBound();
        });
        step("DataExec_Thread IOCTL_GIGE_PortAlloc error", [&] {
            GigePortRecord record{ProcessId(), m_socket.Port(), {uint8_t(multicast ? 2 : 1), 0}};
            return allocated = CallService(m_device->Driver(), IOCTL_GIGE_PortAlloc, &record,
                                           sizeof record) == gige::STATUS_SUCCESS;
        });
        step("WriteReg 0x0d00 error",
             [&] { return camera.WriteRegister(kRegStreamPort, m_socket.Port()), true; });
    } else {
        uint32_t port = 0;
        step("ReadReg 0x0d00 error", [&] { return (port = camera.Reg(kRegStreamPort)), true; });
        step("DataExec_Thread socket error", [&] {
            m_socket = HeldUdpPort::Hold(static_cast<uint16_t>(port));
            return m_socket.IsBound();
        });
    }
    if (failure.empty()) m_port = m_socket.Port();
    uint8_t group[sizeof(GigeRequestBlock)] = {};
    Put<uint32_t>(group, 0, ProcessId());
    Put<uint16_t>(group, 4, m_socket.Port());
    Put<uint32_t>(group, 6, htonl(destination));
    if (multicast) {
        step("DataExec_Thread IOCTL_GIGE_AddMultiCast error", [&] {
            return joined = CallService(m_device->Driver(), IOCTL_GIGE_AddMultiCast, group, sizeof group) ==
                            gige::STATUS_SUCCESS;
        });
    }
    // Extended (64-bit) block ids lengthen every packet header by 12 bytes; a camera uses them only when
    // it offers them and they are switched on.
    uint32_t overhead = 36;
    if (m_device->Info().GetVersionMajor() >= 2) {
        uint32_t capability = 0, configuration = 0;
        step("ReadReg 0x092c error", [&] { return (capability = camera.Reg(kRegGvspCapability)), true; });
        if (capability & kExtendedIds) {
            step("ReadReg 0x0960 error",
                 [&] { return (configuration = camera.Reg(kRegGvspConfiguration)), true; });
            if (configuration & kExtendedIds) overhead = 48;
        }
    }
    step("DataExec_Thread IOCTL_GIGE_SetStreamInfo error", [&] {
        if (packetSize <= overhead) return false;
        uint8_t setup[sizeof(GigeRequestBlock)] = {};
        Put<uint32_t>(setup, 0, ProcessId());
        Put<uint32_t>(setup, 4, m_device->Info().GetCameraAddress());
        Put<uint16_t>(setup, 8, m_socket.Port());
        Put<uint16_t>(setup, 10, 0);
        Put<uint32_t>(setup, 12, packetSize - overhead);
        setup[16] = m_resendEnable != 0;
        return CallService(m_device->Driver(), IOCTL_GIGE_SetStreamInfo, setup, sizeof setup) ==
               gige::STATUS_SUCCESS;
    });
    if (failure.empty()) m_packetPayload = packetSize - overhead;
    // Nobody will switch the service's stream on through the stream register: it takes blocks at once.
    if (!m_layoutWritten) {
        step("DataExec_Thread IOCTL_GIGE_SetStreamEnable error", [&] {
            uint8_t in[4] = {};
            Put<uint16_t>(in, 0, m_socket.Port());
            in[2] = 1;
            return CallService(m_device->Driver(), IOCTL_GIGE_SetStreamEnable, in, sizeof in) ==
                   gige::STATUS_SUCCESS;
        });
    }
    m_multicastGroup = joined ? htonl(destination) : 0;
    if (failure.empty()) return true;

    if (joined) CallService(m_device->Driver(), IOCTL_GIGE_DelMultiCast, group, sizeof group);
    m_multicastGroup = 0;
    if (controls) {
        if (allocated) {
            GigePortRecord record{ProcessId(), m_socket.Port(), {0, 0}};
            CallService(m_device->Driver(), IOCTL_GIGE_PortFree, &record, sizeof record);
        }
        try {
            camera.WriteRegister(kRegStreamPort, 0);
        } catch (...) {
        }
    }
    m_port = 0;
    m_socket.Close();
    ReportError(failure);
    return false;
}

void CGigEDataStream::TearDownStream() {
    const uint16_t port = m_socket.Port();
    if (m_multicastGroup) {
        uint8_t group[sizeof(GigeRequestBlock)] = {};
        Put<uint32_t>(group, 0, ProcessId());
        Put<uint16_t>(group, 4, port);
        Put<uint32_t>(group, 6, m_multicastGroup);
        CallService(m_device->Driver(), IOCTL_GIGE_DelMultiCast, group, sizeof group);
        m_multicastGroup = 0;
    }
    if (m_device->Controls()) {
        GigePortRecord record{ProcessId(), port, {0, 0}};
        CallService(m_device->Driver(), IOCTL_GIGE_PortFree, &record, sizeof record);
        try {
            m_device->Port().WriteRegister(kRegStreamPort, 0);
        } catch (...) {
        }
    }
    m_socket.Close();
    m_port = 0;
}

CGigEDataStream::BlockLayout CGigEDataStream::LayoutFor(const CGigEBufferInfo& buffer) const {
    if (m_layoutWritten) return {m_infoOffset, m_packetCount};
    // The block is as large as the buffer (a consumer sizes its buffers by the camera's payload size);
    // its information follows it, 8-aligned with at least 8 bytes between.
    const uint64_t size = buffer.GetSize();
    const uint32_t perPacket = m_packetPayload;
    if (perPacket == 0 || size == 0 || size > UINT32_MAX - 16) return {};
    return {static_cast<uint32_t>((size + 15) & ~uint64_t{7}), static_cast<uint32_t>((size + perPacket - 1) / perPacket)};
}

bool CGigEDataStream::ReadyHandOver(CGigEBufferInfo* buffer, devio::PostedRequest* request,
                                    devio::RegionSpan* span) {
    std::memset(buffer->block, 0, sizeof buffer->block);
    Put<uint16_t>(buffer->block, 0, static_cast<uint16_t>(m_port));
    *request = devio::PostedRequest{};
    request->input = buffer->block;
    request->inputLength = sizeof buffer->block;
    request->overlapped = &buffer->overlapped;
    if (GetIndex() != 0) {
        request->code = IOCTL_GIGE_GetStreamSync;
        return true;
    }
    const BlockLayout layout = LayoutFor(*buffer);
    const uint32_t infoOffset = layout.infoOffset, packets = layout.packets;
    const uint64_t bitmapBytes = (uint64_t(packets) + 7) / 8;
    const uint64_t needed = uint64_t(infoOffset) + kInfoBytes + 2 + bitmapBytes;
    buffer->infoOffset = infoOffset;
    buffer->packets = packets;
    uint8_t* target = buffer->Target();
    // The service needs the block information, two spare bytes and the bitmap behind the payload;
    // a buffer without that room is never written here nor handed over.
    if (!target || needed > (m_layoutWritten ? buffer->GetSize() : buffer->TargetSize())) {
        HandOverFailed(buffer, devio::STATUS_BUFFER_TOO_SMALL);
        return false;
    }
    uint8_t* info = target + infoOffset;
    std::memset(info, 0, kInfoBytes + 2);
    std::memset(info + kInfoBytes, 0xFF, packets / 8);
    if (packets % 8) info[kInfoBytes + packets / 8] = static_cast<uint8_t>(0xFF00u >> (packets % 8));
    Put<uint32_t>(buffer->block, 2, infoOffset);
    Put<uint32_t>(buffer->block, 6, packets);
    *span = devio::RegionSpan{buffer->RegionId(), 0, std::max<uint64_t>(buffer->GetSize(), needed)};
    request->code = IOCTL_GIGE_GetStream;
    request->region = span;
    return true;
}

void CGigEDataStream::HandOverFailed(CGigEBufferInfo* buffer, uint32_t status) {
    buffer->status = status;
    buffer->bytes = 0;
    buffer->incomplete = true;
    ReportError(GetIndex() == 0 ? "DataExec_Thread IOCTL_GIGE_GetStream error"
                                : "SyncExec_Thread IOCTL_GIGE_GetStream error");
    Deliver(buffer, false);
    m_slots.Release();
}

void CGigEDataStream::HandOver(std::span<CGigEBufferInfo*> buffers) {
    std::array<devio::PostedRequest, kSlots> requests;
    std::array<devio::RegionSpan, kSlots> spans;
    std::array<CGigEBufferInfo*, kSlots> ready;
    size_t count = 0;
    for (CGigEBufferInfo* buffer : buffers.first(std::min<size_t>(buffers.size(), kSlots)))
        if (ReadyHandOver(buffer, &requests[count], &spans[count])) ready[count++] = buffer;
    if (count == 0) return;
    // Sent without waiting for the service's first answers, all in one write: every result, also a
    // refusal, arrives in the buffer's record, where the wait thread or a fetching consumer takes it.
    m_device->Driver().PostDeviceIoControls(std::span(requests.data(), count));
    bool handed = false;
    for (size_t i = 0; i < count; ++i) {
        if (requests[i].status == devio::STATUS_PENDING) {
            AddToDriver(ready[i]);
            handed = true;
        } else {
            HandOverFailed(ready[i], requests[i].status);
        }
    }
    // The wait thread looks for buffers with the service again after every hand-over of its own or
    // of a fetching consumer's (unless it sleeps until woken): only another thread's wakes it (an
    // event set and read again is two system calls a frame).
    if (handed && (t_waitingStream != this || m_waitSleepsLong.load(std::memory_order_seq_cst)))
        m_requestPending.Set();
}

void CGigEDataStream::Complete(CGigEBufferInfo* buffer) {
    buffer->status = buffer->overlapped.Status();
    // A hand-over the service refused comes back here, its request never having been taken.
    switch (buffer->status) {
    case devio::STATUS_INVALID_PARAMETER:
    case devio::STATUS_INVALID_DEVICE_REQUEST:
    case devio::STATUS_ACCESS_DENIED:
    case devio::STATUS_INSUFFICIENT_RESOURCES:
        ReportError(GetIndex() == 0 ? "DataExec_Thread IOCTL_GIGE_GetStream error"
                                    : "SyncExec_Thread IOCTL_GIGE_GetStream error");
        break;
    default:
        break;
    }
    buffer->bytes = static_cast<uint32_t>(std::min<uint64_t>(buffer->overlapped.Information(), UINT32_MAX));
    // Consumer memory receives the image from its shared shadow: the one copy it costs.
    if (buffer->HasShadow() && devio::NtSuccess(buffer->status))
        std::memcpy(buffer->GetBase(), buffer->Target(), buffer->GetSize());
    // A block still missing packets when it ended is incomplete, as is a buffer whose request failed.
    const uint8_t* info = GetIndex() == 0 ? BlockInfo(*buffer) : nullptr;
    const uint32_t missing = info ? Get<uint32_t>(info, offsetof(GigeBlockInfo, missingPackets)) : 0;
    buffer->incomplete = !devio::NtSuccess(buffer->status) || missing != 0;
    Deliver(buffer, true);
}

bool CGigEDataStream::HoldBack() const {
    // Only while a consumer takes completions as they come (the service's answers then keep it busy
    // enough that it holds the rest of the slots' buffers), and never longer than the time of a few
    // frames at the stream's rate.
    if (m_slots.Free() >= kHandBackBatch || !ConsumerFetches()) return false;
    const int64_t since = m_heldSinceNs.load(std::memory_order_relaxed);
    return since == 0 || SteadyNs() - since < HoldBackNs();
}

int64_t CGigEDataStream::FramesNs(int64_t frames) const {
    const int64_t gap = m_completionGapNs.load(std::memory_order_relaxed);
    if (gap == 0) return kConsumerGraceMs * 1000000;
    return std::clamp<int64_t>(gap * frames, kMinConsumerGraceNs, kConsumerGraceMs * 1000000);
}

int64_t CGigEDataStream::HoldBackNs() const {
    return FramesNs(kHandBackBatch);
}

void CGigEDataStream::PumpHandOvers() {
    // One thread hands buffers over at a time. A thread that finds another at it leaves the work to
    // that one, which looks again before it stops: a consumer queueing a buffer never sleeps on the
    // lock while the wait thread sends a request (a switch and two system calls a frame).
    m_pumpsAsked.fetch_add(1, std::memory_order_seq_cst);
    while (!m_pumping.exchange(true, std::memory_order_seq_cst)) {
        const uint32_t asked = m_pumpsAsked.load(std::memory_order_seq_cst);
        {
            std::lock_guard lock(m_handOverMutex);
            if (m_handOversOpen.load(std::memory_order_acquire)) {
                if (HoldBack()) {
                    // Queued buffers wait in the input queue, where a cancel, a flush or a stop finds them
                    // as any queued buffer.
                    if (m_heldSinceNs.load(std::memory_order_relaxed) == 0 && InputCount() != 0)
                        m_heldSinceNs.store(SteadyNs(), std::memory_order_relaxed);
                } else {
                    std::array<CGigEBufferInfo*, kSlots> batch;
                    size_t count = 0;
                    while (count < batch.size() && m_slots.TryAcquire()) {
                        CBufferInfo* next = PopInput();
                        if (!next) {
                            m_slots.Release();
                            break;
                        }
                        batch[count++] = static_cast<CGigEBufferInfo*>(next);
                    }
                    if (count != 0) {
                        m_heldSinceNs.store(0, std::memory_order_relaxed);
                        HandOver(std::span(batch.data(), count));
                    }
                }
            }
        }
        m_pumping.store(false, std::memory_order_seq_cst);
        // A thread that asked while this one was at it, and found it so, is served now.
        if (m_pumpsAsked.load(std::memory_order_seq_cst) == asked) return;
    }
}

void CGigEDataStream::CancelWithDriver() {
    for (CBufferInfo* buffer : BuffersWithDriver())
        m_device->Driver().CancelIoEx(static_cast<CGigEBufferInfo*>(buffer)->overlapped);
}

void CGigEDataStream::OnBufferQueued() {
    if (m_handOversOpen.load(std::memory_order_acquire))
        PumpHandOvers();
    else
        CThreadedDataStream::OnBufferQueued();
}

void CGigEDataStream::ExecThread() {
    const std::string name = ExecName();
    if (GetIndex() == 0 && !SetUpStream()) {
        m_execStarted.Set();
        return;
    }
    // From here on the consumer's and the wait thread's hand buffers over; this thread takes what was
    // queued before, and what a queueing thread left to it (one that came just before the opening).
    m_handOversOpen = true;
    PumpHandOvers();
    m_execStarted.Set();
    for (;;) {
        // The cancel request is not reset here: one set while the thread was busy would be lost.
        const int woke = os::WaitAny({&m_execStop, &m_cancelRequest, &m_bufferQueued}, os::kInfinite);
        if (woke < 0) ReportError(name + " WaitForMultipleObjects error");
        if (woke <= 0) break;
        if (woke == 1) {
            {
                std::lock_guard lock(m_handOverMutex);
                CancelWithDriver();
            }
            // The cancelled buffers come back through the wait thread unless a consumer fetches them.
            m_consumerLeftNs = 0;
            m_requestPending.Set();
            m_bufferQueued.Reset();
            m_cancelDone.Set();
            continue;
        }
        PumpHandOvers();
    }
    {
        std::lock_guard lock(m_handOverMutex);
        m_handOversOpen = false;
        CancelWithDriver();
    }
    // With hand-overs closed the wait thread takes every completion, whatever consumers do.
    m_requestPending.Set();
    if (GetIndex() == 0) TearDownStream();
}

bool CGigEDataStream::TakeOldest(const std::atomic<bool>* stop, std::chrono::steady_clock::time_point until) {
    auto* oldest = static_cast<CGigEBufferInfo*>(OldestWithDriver());
    if (!oldest) return false;
    if (stop) m_device->Driver().GetOverlappedResult(oldest->overlapped, nullptr, *stop, until);
    if (oldest->overlapped.IsPending()) return false;
    Complete(oldest);
    // The time between completions, smoothed: what a frame takes at the stream's rate.
    const int64_t now = SteadyNs();
    const int64_t last = m_lastCompletionNs.exchange(now, std::memory_order_relaxed);
    if (last != 0) {
        const int64_t gap = now - last, mean = m_completionGapNs.load(std::memory_order_relaxed);
        m_completionGapNs.store(mean == 0 ? gap : mean + (gap - mean) / 8, std::memory_order_relaxed);
    }
    m_slots.Release();
    if (m_handOversOpen.load(std::memory_order_acquire)) PumpHandOvers();
    return true;
}

int64_t CGigEDataStream::ConsumerGraceNs() const {
    return FramesNs(kGraceFrames);
}

bool CGigEDataStream::ConsumerFetches() const {
    if (!m_handOversOpen.load(std::memory_order_acquire)) return false;
    if (m_consumersFetching.load(std::memory_order_seq_cst) != 0) return true;
    const int64_t left = m_consumerLeftNs.load(std::memory_order_acquire);
    return left != 0 && SteadyNs() - left < ConsumerGraceNs();
}

uint32_t CGigEDataStream::ConsumerGraceLeftMs() const {
    const int64_t grace = ConsumerGraceNs();
    if (m_consumersFetching.load(std::memory_order_seq_cst) != 0) return static_cast<uint32_t>(grace / 1000000);
    const int64_t left = m_consumerLeftNs.load(std::memory_order_acquire);
    int64_t rest = left == 0 ? 0 : (grace - (SteadyNs() - left) + 999999) / 1000000;
    // Buffers held back go over at the next look once their time is up, also while a consumer is held up
    // in its callback: the service then runs on the slots it kept for no longer than that.
    const int64_t held = m_heldSinceNs.load(std::memory_order_relaxed);
    if (held != 0) rest = std::min<int64_t>(rest, (HoldBackNs() - (SteadyNs() - held) + 999999) / 1000000);
    return static_cast<uint32_t>(std::clamp<int64_t>(rest, 1, kConsumerGraceMs));
}

uint32_t CGigEDataStream::CollectOnWaitThread() {
    // Buffers held back go over at this look once no consumer fetches any more, or they waited long enough.
    if (m_heldSinceNs.load(std::memory_order_relaxed) != 0 && m_handOversOpen.load(std::memory_order_acquire))
        PumpHandOvers();
    while (!m_stopWaiting.load(std::memory_order_acquire)) {
        if (!OldestWithDriver()) {
            if (ConsumerFetches()) return ConsumerGraceLeftMs();
            // Asleep until another thread hands a buffer over; marked before the look, so a hand-over
            // either is seen here or sees the mark (and wakes this thread).
            m_waitSleepsLong.store(true, std::memory_order_seq_cst);
            if (!OldestWithDriver()) return os::kInfinite;
            m_waitSleepsLong.store(false, std::memory_order_seq_cst);
            continue;
        }
        if (!m_collectRole.TryTake()) return ConsumerGraceLeftMs(); // a consumer fetches
        HeldRole held{m_collectRole};
        m_waitThreadHolds.store(true, std::memory_order_seq_cst);
        // Seen after the mark: a consumer that came meanwhile finds the mark and asks this thread to let go.
        const bool consumer = ConsumerFetches();
        // No consumer fetches any more: buffers held back go over before this thread waits (nothing else
        // might hand them over while no block comes).
        if (!consumer && m_heldSinceNs.load(std::memory_order_relaxed) != 0) PumpHandOvers();
        // While consumers fetch, only what the handle's reader took meanwhile; else waiting for it.
        const bool took = TakeOldest(consumer ? nullptr : &m_interruptWait, std::chrono::steady_clock::time_point::max());
        m_waitThreadHolds.store(false, std::memory_order_seq_cst);
        if (took) continue;
        if (consumer) return ConsumerGraceLeftMs();
        if (m_stopWaiting.load(std::memory_order_acquire)) break;
        // A consumer asked for the socket.
        m_interruptWait.store(false, std::memory_order_seq_cst);
        return ConsumerGraceLeftMs();
    }
    return 0;
}

void CGigEDataStream::WaitThread() {
    Mark mark(this);
    uint32_t sleepMs = os::kInfinite;
    for (;;) {
        const int woke = os::WaitAny({&m_waitStop, &m_requestPending}, sleepMs);
        m_waitSleepsLong.store(false, std::memory_order_seq_cst);
        if (woke != os::kWaitTimeout || sleepMs == os::kInfinite) {
            if (woke < 0) ReportError("Wait_Thread WaitForMultipleObjects error");
            if (woke <= 0) break;
        }
        sleepMs = CollectOnWaitThread();
        if (sleepMs == 0) return; // stopped
    }
}

void CGigEDataStream::FetchForConsumer(std::chrono::steady_clock::time_point until) {
    if (!m_handOversOpen.load(std::memory_order_acquire) || m_stopWaiting.load(std::memory_order_acquire)) return;
    m_consumersFetching.fetch_add(1, std::memory_order_seq_cst);
    struct Leave {
        CGigEDataStream* self;
        ~Leave() {
            self->m_consumerLeftNs.store(SteadyNs(), std::memory_order_release);
            self->m_consumersFetching.fetch_sub(1, std::memory_order_seq_cst);
        }
    } leave{this};
    if (!m_collectRole.TryTake()) {
        if (m_waitThreadHolds.load(std::memory_order_seq_cst)) {
            m_interruptWait.store(true, std::memory_order_seq_cst);
            m_device->Driver().WakeWaiters();
        }
        const auto bound = std::min(until, std::chrono::steady_clock::now() + std::chrono::hours(1));
        if (!m_collectRole.TakeUntil(bound)) return;
    }
    HeldRole held{m_collectRole};
    if (!m_handOversOpen.load(std::memory_order_acquire) || m_stopWaiting.load(std::memory_order_acquire)) return;
    // A buffer delivered while this thread waited for its turn goes first.
    size_t awaiting = 0, size = sizeof awaiting;
    GetInfo(STREAM_INFO_NUM_AWAIT_DELIVERY, nullptr, &awaiting, &size);
    if (awaiting != 0) return;
    Mark mark(this);
    TakeOldest(&m_stopWaiting, until);
}

void CGigEDataStream::OnStarting() {
    m_handOversOpen = false;
    m_stopWaiting = false;
    m_interruptWait = false;
    m_consumerLeftNs = 0;
    m_heldSinceNs = 0;
    m_lastCompletionNs = 0;
    m_completionGapNs = 0;
    for (int i = 0; i < kSlots; ++i)
        m_slots.Release();
}

void CGigEDataStream::OnWaitStop() {
    m_stopWaiting = true;
    m_interruptWait = true;
    m_device->Driver().WakeWaiters();
}

void CGigEDataStream::ReturnAfterStop(CBufferInfo* buffer) {
    // A consumer that was fetching has let go (it stops at m_stopWaiting); what it took is no longer here.
    while (!m_collectRole.TakeUntil(std::chrono::steady_clock::now() + std::chrono::hours(1))) {
    }
    HeldRole held{m_collectRole};
    if (OldestWithDriver() != buffer) return;
    auto* gige = static_cast<CGigEBufferInfo*>(buffer);
    m_device->Driver().GetOverlappedResult(gige->overlapped, nullptr, true);
    Complete(gige);
    m_slots.Release();
}

} // namespace GenICam::Client
