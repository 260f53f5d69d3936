// A stand-in for the GigE network service: its device under a private root, scripted cameras, and the
// requests it received, for tests of the producer without a network.
#include "FakeGigeService.h"

#include "devio/DeviceName.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qorcam::testing {

using namespace qorcam::gige;

namespace {

template <class T> T At(std::span<const uint8_t> bytes, size_t offset) {
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}
template <class T> void Store(std::span<uint8_t> bytes, size_t offset, T value) {
    if (offset + sizeof value <= bytes.size()) std::memcpy(bytes.data() + offset, &value, sizeof value);
}

bool Waits(uint32_t code) {
    switch (code) {
    case IOCTL_GIGE_RegisterProcess:
    case IOCTL_GIGE_WaitBusEvent:
    case IOCTL_GIGE_GetStream:
    case IOCTL_GIGE_GetStreamSync:
    case IOCTL_GIGE_GetEvent:
    case IOCTL_GIGE_WaitActionAck:
    case IOCTL_GIGE_GetTestPacket:
        return true;
    default:
        return false;
    }
}

} // namespace

std::string DeviceId(const std::array<uint8_t, 6>& mac) {
    uint64_t number = 0;
    for (uint8_t b : mac)
        number = (number << 8) | b;
    return "GigEVision::" + std::to_string(0x0300000000000000ULL | number);
}

FakeGigeService::FakeGigeService() : m_server([this](const devio::RequestPtr& r) { Dispatch(r); }) {
    std::string pattern = (std::filesystem::temp_directory_path() / "gige-producer-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    m_root = pattern;
    setenv("QORCAM_ROOT", m_root.c_str(), 1);
    m_started = m_server.Start(devio::DevicePath("\\\\.\\QORGIGE")) == devio::STATUS_SUCCESS;
}

FakeGigeService::~FakeGigeService() {
    m_server.Stop();
    unsetenv("QORCAM_ROOT");
    std::error_code ignored;
    if (!m_root.empty()) std::filesystem::remove_all(m_root, ignored);
}

std::vector<FakeGigeService::Logged> FakeGigeService::Log() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_log;
}

std::vector<FakeGigeService::Logged> FakeGigeService::Requests(uint32_t code) {
    std::vector<Logged> found;
    for (auto& entry : Log())
        if (entry.code == code) found.push_back(entry);
    return found;
}

std::vector<std::pair<uint32_t, uint32_t>> FakeGigeService::RegisterWrites() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_writes;
}

std::vector<uint32_t> FakeGigeService::RegisterReads() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reads;
}

size_t FakeGigeService::Pending(uint32_t code) {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::count_if(m_pending.begin(), m_pending.end(), [&](auto& r) { return r->Code() == code; });
}

bool FakeGigeService::WaitPending(uint32_t code, size_t count, int ms) {
    for (int waited = 0; waited < ms; waited += 5) {
        if (Pending(code) >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Pending(code) >= count;
}

bool FakeGigeService::CompletePending(
    uint32_t code, uint32_t status,
    const std::function<uint32_t(std::span<uint8_t>, std::span<const uint8_t>)>& fill) {
    devio::RequestPtr request;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it =
            std::find_if(m_pending.begin(), m_pending.end(), [&](auto& r) { return r->Code() == code; });
        if (it == m_pending.end()) return false;
        request = *it;
        m_pending.erase(it);
    }
    if (!request->ClearCancelRoutine()) return false;
    const uint32_t bytes = fill ? fill(request->Output(), request->Input()) : 0;
    request->Complete(status, bytes, bytes);
    return true;
}

FakeCamera* FakeGigeService::CameraByIp(uint32_t ip) {
    for (auto& camera : cameras)
        if (camera.ip == ip) return &camera;
    return nullptr;
}

void FakeGigeService::Dispatch(const devio::RequestPtr& request) {
    std::unique_lock<std::mutex> held(m_lock);
    m_log.push_back({request->Code(), {request->Input().begin(), request->Input().end()}});
    if (std::find(refused.begin(), refused.end(), request->Code()) != refused.end()) {
        held.unlock();
        request->Complete(STATUS_INVALID_PARAMETER, 0);
        return;
    }
    if (Waits(request->Code())) {
        request->MarkPending();
        m_pending.push_back(request);
        held.unlock();
        std::weak_ptr<devio::Request> weak = request;
        if (!request->SetCancelRoutine([this](const devio::RequestPtr& r) {
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    auto it = std::find(m_pending.begin(), m_pending.end(), r);
                    if (it != m_pending.end()) m_pending.erase(it);
                }
                r->Complete(STATUS_CANCELLED, 0);
            })) {
            std::lock_guard<std::mutex> guard(m_lock);
            auto it = std::find(m_pending.begin(), m_pending.end(), request);
            if (it != m_pending.end()) m_pending.erase(it);
            request->Complete(STATUS_CANCELLED, 0);
        }
        return;
    }
    Answer(request, held);
}

void FakeGigeService::Answer(const devio::RequestPtr& request, std::unique_lock<std::mutex>& held) {
    auto in = request->Input();
    auto out = request->Output();
    uint32_t status = STATUS_SUCCESS;
    size_t bytes = 0;
    switch (request->Code()) {
    case IOCTL_GIGE_GetVersion:
        Store<uint32_t>(out, 0, version);
        bytes = 8;
        break;
    case IOCTL_GIGE_GetDeviceList: {
        const size_t room = out.size() < 4 ? 0 : (out.size() - 4) / sizeof(GigeDeviceRecord);
        const size_t n = std::min(room, cameras.size());
        for (size_t i = 0; i < n; ++i) {
            const FakeCamera& c = cameras[i];
            GigeDeviceRecord r{};
            r.ip = r.ipAgain = c.ip;
            std::memcpy(r.mac, c.mac.data(), 6);
            r.versionMajor = c.versionMajor;
            r.versionMinor = c.versionMinor;
            std::memcpy(r.manufacturerName, c.manufacturer.data(),
                        std::min(c.manufacturer.size(), size_t(31)));
            std::memcpy(r.modelName, c.model.data(), std::min(c.model.size(), size_t(31)));
            std::memcpy(r.serialNumber, c.serial.data(), std::min(c.serial.size(), size_t(15)));
            // The full width: a name without a terminator must not run into the next field.
            std::memset(r.userDefinedName, 'u', sizeof r.userDefinedName);
            std::memcpy(r.userDefinedName, c.userName.data(),
                        std::min(c.userName.size(), sizeof r.userDefinedName));
            if (c.userName.size() < sizeof r.userDefinedName) r.userDefinedName[c.userName.size()] = 0;
            std::memcpy(out.data() + 4 + i * sizeof r, &r, sizeof r);
        }
        Store<uint32_t>(out, 0, listCountClaim >= 0 ? uint32_t(listCountClaim) : uint32_t(n));
        bytes = 4 + n * sizeof(GigeDeviceRecord);
        break;
    }
    case IOCTL_GIGE_GetDeviceInfo: {
        FakeCamera* c = CameraByIp(At<uint32_t>(in, 0));
        if (!c || !c->answersInfo || out.size() < 20) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        GigeDeviceLink link{c->ip, 0, c->linkSpeed, 1500, c->adapterIp};
        std::memcpy(out.data(), &link, sizeof link);
        bytes = sizeof link;
        break;
    }
    case IOCTL_GIGE_DeviceOpen: {
        FakeCamera* c = CameraByIp(At<uint32_t>(in, 4));
        if (!c || c->owner != 0)
            status = STATUS_INVALID_PARAMETER;
        else
            c->owner = At<uint32_t>(in, 0);
        break;
    }
    case IOCTL_GIGE_DeviceClose: {
        FakeCamera* c = CameraByIp(At<uint32_t>(in, 4));
        if (c && c->owner == At<uint32_t>(in, 0))
            c->owner = 0;
        else
            status = STATUS_INVALID_PARAMETER;
        break;
    }
    case IOCTL_GIGE_GetDeviceStatus: {
        FakeCamera* c = CameraByIp(At<uint32_t>(in, 4));
        if (!c) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        Store<uint32_t>(out, 0, c->lost ? 1 : 0);
        bytes = 4;
        break;
    }
    case IOCTL_GIGE_SendCmd:
        return SendCmd(request, held);
    case IOCTL_GIGE_GetStreamStatus:
        for (uint64_t i = 0; i < 3; ++i)
            Store<uint64_t>(out, i * 8, 100 + i);
        bytes = 0;
        held.unlock();
        request->Complete(status, 0, 24);
        return;
    default:
        break;
    }
    held.unlock();
    request->Complete(status, bytes, bytes);
}

void FakeGigeService::SendCmd(const devio::RequestPtr& request, std::unique_lock<std::mutex>& held) {
    auto in = request->Input();
    auto out = request->Output();
    FakeCamera* c = CameraByIp(At<uint32_t>(in, 4));
    uint32_t status = STATUS_SUCCESS;
    size_t bytes = 0;
    if (!c) {
        status = STATUS_INVALID_PARAMETER;
    } else if (c->lost) {
        status = STATUS_GIGE_DEVICE_LOST;
    } else {
        std::fill(out.begin(), out.end(), 0);
        switch (At<uint16_t>(in, 8)) {
        case 1: {
            const uint16_t n = At<uint16_t>(in, 12);
            for (uint16_t i = 0; i < n; ++i) {
                const uint32_t address = At<uint32_t>(in, 14 + 4 * i);
                m_reads.push_back(address);
                Store<uint32_t>(out, 4 + 4 * i, c->registers[address]);
            }
            Store<uint16_t>(out, 2, n);
            bytes = 4 + 4 * n;
            break;
        }
        case 2: {
            const uint32_t address = At<uint32_t>(in, 14), value = At<uint32_t>(in, 282);
            m_writes.emplace_back(address, value);
            if (address == 0xFFFC) {
                Store<uint16_t>(out, 0, 0x8006); // the camera refuses this one
            } else {
                c->registers[address] = value;
            }
            Store<uint16_t>(out, 2, 1);
            bytes = 4;
            break;
        }
        case 3: {
            const uint32_t address = At<uint32_t>(in, 12);
            const uint16_t count = At<uint16_t>(in, 16);
            size_t n = address < c->memory.size() ? std::min<size_t>(count, c->memory.size() - address) : 0;
            std::memcpy(out.data() + 4, c->memory.data() + address, n);
            if (memoryAnswerCount >= 0) n = size_t(memoryAnswerCount);
            Store<uint16_t>(out, 2, uint16_t(n));
            bytes = 4 + n;
            break;
        }
        case 4: {
            const uint32_t address = At<uint32_t>(in, 12);
            const uint16_t count = At<uint16_t>(in, 16);
            const size_t n =
                address < c->memory.size() ? std::min<size_t>(count, c->memory.size() - address) : 0;
            std::memcpy(c->memory.data() + address, in.data() + 18, n);
            Store<uint16_t>(out, 2, uint16_t(n));
            bytes = 4;
            break;
        }
        default:
            break;
        }
    }
    held.unlock();
    request->Complete(status, bytes, out.size());
}

} // namespace qorcam::testing
