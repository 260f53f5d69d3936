// The GigE device module: one opened camera, claimed in the service and, with control access, controlled.
#include "CGigEDevice.h"

#include "CGigEDataStream.h"
#include "CGigEInterface.h"
#include "GenTLCustom.h"
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "GigeService.h"
#include "gentl/InfoFillers.h"

#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::gige;

namespace {

constexpr uint32_t kRegHeartbeatTimeout = 0x0938;
constexpr uint32_t kRegControl = 0x0A00;
constexpr uint32_t kRegStreamPort = 0x0D00;
constexpr uint32_t kRegPacketSize = 0x0D04;

struct PidAndCamera {
    uint32_t processId;
    uint32_t cameraIp;
};

} // namespace

CGigEDevice::CGigEDevice(CTL* tl, CGigEInterface* parent, std::string id, std::unique_ptr<CDeviceInfo> info,
                         DEVICE_ACCESS_FLAGS access)
    : CDevice(tl, parent, std::move(id), access), m_interface(parent), m_info(std::move(info)) {
    m_commandPort = HeldUdpPort::HoldRandom(0xC000);
    if (!m_commandPort.IsBound()) throw std::runtime_error("socket Error");
    GigePortRecord port{ProcessId(), m_commandPort.Port(), {0, 0}};
    if (CallService(Driver(), IOCTL_GIGE_PortAlloc, &port, sizeof port) != gige::STATUS_SUCCESS)
        throw std::runtime_error("IOCTL_GIGE_PortAlloc Error");
    const PidAndCamera claim{ProcessId(), m_info->GetCameraAddress()};
    // A read-only open watches: it shares the camera with whoever controls it.
    const uint32_t open[3] = {claim.processId, claim.cameraIp, kGigeOpenWatch};
    if (CallService(Driver(), IOCTL_GIGE_DeviceOpen, open, Controls() ? sizeof claim : sizeof open) !=
        gige::STATUS_SUCCESS) {
        CallService(Driver(), IOCTL_GIGE_PortFree, &port, sizeof port);
        throw std::runtime_error("Device already open");
    }
    m_port = std::make_unique<CDevicePort>(*this);
    m_eventData = std::make_unique<CEventData>(*this);
    if (!Controls()) return;
    try {
        TakeControl();
    } catch (...) {
        // The camera may have granted control before a later step failed
        // (or only its answer was lost): hand it back, so that the next open
        // need not wait for the camera's heartbeat time-out.
        ReleaseControl();
        CallService(Driver(), IOCTL_GIGE_DeviceClose, &claim, sizeof claim);
        CallService(Driver(), IOCTL_GIGE_PortFree, &port, sizeof port);
        m_eventData.reset();
        m_port.reset();
        throw std::runtime_error("Device Open Error");
    }
}

// Stops the service's heartbeat and hands control of the camera back.
void CGigEDevice::ReleaseControl() {
    const PidAndCamera claim{ProcessId(), m_info->GetCameraAddress()};
    uint8_t block[sizeof(GigeRequestBlock)] = {};
    std::memcpy(block, &claim, sizeof claim);
    Put<uint16_t>(block, 16, CommandPort());
    CallService(Driver(), IOCTL_GIGE_StopHeartbeat, block, sizeof block);
    try {
        m_port->WriteRegister(kRegControl, 0);
    } catch (...) {
    }
}

void CGigEDevice::TakeControl() {
    if (m_port->Reg(kRegControl) != 0) throw std::runtime_error("controlled elsewhere");
    const uint32_t timeout = m_port->Reg(kRegHeartbeatTimeout);
    m_port->WriteRegister(kRegControl, 2);
    if (m_port->Reg(kRegControl) != 2) throw std::runtime_error("control refused");
    uint8_t block[sizeof(GigeRequestBlock)] = {};
    Put<uint32_t>(block, 0, ProcessId());
    Put<uint32_t>(block, 4, m_info->GetCameraAddress());
    Put<uint32_t>(block, 8, std::max<uint32_t>(timeout / 10, 50));
    Put<uint32_t>(block, 12, timeout + 50);
    Put<uint16_t>(block, 16, CommandPort());
    CallService(Driver(), IOCTL_GIGE_StartHeartbeat, block, sizeof block);
    m_port->Reg(kRegControl);
    m_port->Reg(kRegControl);
    m_port->WriteRegister(kRegPacketSize, m_port->Reg(kRegPacketSize) & 0xFFFF);
}

CGigEDevice::~CGigEDevice() {
    m_eventData.reset();
    const PidAndCamera claim{ProcessId(), m_info->GetCameraAddress()};
    if (Controls()) ReleaseControl();
    DestroyDataStreams();
    if (m_interface) m_interface->RemoveDevice(this);
    if (Controls()) CallService(Driver(), IOCTL_GIGE_DeviceClose, &claim, sizeof claim);
    GigePortRecord port{ProcessId(), m_commandPort.Port(), {0, 0}};
    CallService(Driver(), IOCTL_GIGE_PortFree, &port, sizeof port);
    m_commandPort.Close();
}

devio::DeviceHandle& CGigEDevice::Driver() {
    return m_interface->Driver();
}

CDataStream* CGigEDevice::CreateDataStream(uint32_t index, const std::string& id) {
    return new CGigEDataStream(this, index, id);
}

CEventObj* CGigEDevice::EventSource(EVENT_TYPE type) {
    return type == EVENT_CUSTOM_DEVICE_EVENT ? m_eventData.get() : nullptr;
}

void CGigEDevice::GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    switch (cmd) {
    case DEVICE_INFO_ID:
        return CopyInfoString(buffer, size, type, GetID());
    case DEVICE_INFO_VENDOR:
        return CopyInfoString(buffer, size, type, m_info->GetManufacturer());
    case DEVICE_INFO_MODEL:
        return CopyInfoString(buffer, size, type, m_info->GetModel());
    case DEVICE_INFO_TLTYPE:
        return CopyInfoString(buffer, size, type, "GEV");
    case DEVICE_INFO_DISPLAYNAME:
        return CopyInfoString(buffer, size, type, m_info->GetDisplayName());
    case DEVICE_INFO_ACCESS_STATUS:
        return CopyInfoInt32(buffer, size, type, 1);
    case DEVICE_INFO_CUSTOM_VISIBLE: {
        if (m_visible) {
            // A request the service does not answer leaves the process id in the word: not visible.
            uint32_t word[2] = {ProcessId(), m_info->GetCameraAddress()};
            CallService(Driver(), IOCTL_GIGE_GetDeviceStatus, word, sizeof word, word, 4);
            m_visible = word[0] == 0;
            // A camera that no longer grants this process control is lost to it, whatever the service's
            // entry says by now: once the service has declared the camera lost and let it go, the
            // camera's next discovery answer clears the entry's lost state.
            if (m_visible && Controls()) {
                try {
                    if ((m_port->Reg(kRegControl) & 3) == 0) m_visible = false;
                } catch (...) {
                    // Unanswered: the service's word decides.
                }
            }
        }
        return CopyInfoBool8(buffer, size, type, m_visible);
    }
    case DEVICE_INFO_CUSTOM_SPEED:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(m_info->GetLinkSpeed()));
    case DEVICE_INFO_CUSTOM_BUS_NUMBER:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(m_info->GetAdapterAddress()));
    case DEVICE_INFO_CUSTOM_SPEC_MAJOR:
        return CopyInfoInt32(buffer, size, type, m_info->GetVersionMajor());
    case DEVICE_INFO_CUSTOM_SPEC_MINOR:
        return CopyInfoInt32(buffer, size, type, m_info->GetVersionMinor());
    case DEVICE_INFO_CUSTOM_DEV_MODE:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(m_info->GetDeviceMode()));
    case DEVICE_INFO_CUSTOM_DEV_VERSION:
        return CopyInfoString(buffer, size, type, m_info->GetDeviceVersion());
    case DEVICE_INFO_CUSTOM_VENDOR_INFO:
        return CopyInfoString(buffer, size, type, m_info->GetManufacturerInfo());
    case DEVICE_INFO_CUSTOM_SERIAL_NUMBER:
        return CopyInfoString(buffer, size, type, m_info->GetSerialNumber());
    case DEVICE_INFO_CUSTOM_USER_NAME:
        return CopyInfoString(buffer, size, type, m_info->GetUserName());
    default:
        throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
    }
}

void CGigEDevice::Read(uint64_t address, void* buffer, size_t* size) {
    if (address == DEV_REG_TEST_PACKET && *size == 4) {
        const uint32_t result = TestPacket();
        std::memcpy(buffer, &result, 4);
        return;
    }
    *size = 0;
}

void CGigEDevice::SendAction(const uint32_t keys[3], bool wait, size_t* size) {
    uint8_t block[sizeof(GigeRequestBlock)] = {};
    Put<uint32_t>(block, 0, ProcessId());
    Put<uint32_t>(block, 4, m_info->GetCameraAddress());
    Put<uint16_t>(block, 8, 5);
    Put<uint16_t>(block, 10, CommandPort());
    Put<uint32_t>(block, 12, keys[0]);
    Put<uint32_t>(block, 16, keys[1]);
    Put<uint32_t>(block, 20, keys[2]);
    if (!wait) {
        CallService(Driver(), IOCTL_GIGE_SendActionCmd, block, sizeof block);
        return;
    }
    const uint32_t status =
        CallService(Driver(), IOCTL_GIGE_SendCmd, block, sizeof block, block, sizeof block);
    if (status == STATUS_GIGE_DEVICE_LOST) m_visible = false;
    if (status != gige::STATUS_SUCCESS) *size = 0;
}

void CGigEDevice::Write(uint64_t address, const void* buffer, size_t* size) {
    const size_t given = *size;
    uint32_t value = 0;
    if (given == 4) std::memcpy(&value, buffer, 4);
    switch (address) {
    case DEV_REG_TEST_TIMEOUT:
        if (given != 4) break;
        m_testTimeout = value;
        return;
    case DEV_REG_102:
        if (given != 4) break;
        m_messageDestination = value;
        return;
    case DEV_REG_HEARTBEAT:
        if (given != 4) break;
        if (Controls()) {
            uint8_t block[sizeof(GigeRequestBlock)] = {};
            Put<uint32_t>(block, 0, ProcessId());
            Put<uint32_t>(block, 4, m_info->GetCameraAddress());
            if (value > 0) {
                Put<uint32_t>(block, 8, std::max<uint32_t>(value / 10, 50));
                Put<uint32_t>(block, 12, value + 50);
                Put<uint16_t>(block, 16, CommandPort());
                CallService(Driver(), IOCTL_GIGE_StartHeartbeat, block, sizeof block);
            } else {
                Put<uint16_t>(block, 16, CommandPort());
                CallService(Driver(), IOCTL_GIGE_StopHeartbeat, block, sizeof block);
            }
            for (int i = 0; i < 2; ++i) {
                try {
                    m_port->Reg(kRegControl);
                } catch (...) {
                }
            }
        }
        return;
    case DEV_REG_CMD_TIMEOUT: {
        if (given != 4) break;
        const uint32_t in[3] = {ProcessId(), m_info->GetCameraAddress(), value};
        CallService(Driver(), IOCTL_GIGE_SetCmdTimeout, in, sizeof in);
        return;
    }
    case DEV_REG_ACTION:
    case DEV_REG_ACTION_NOWAIT: {
        if (given != 12) break;
        uint32_t keys[3];
        std::memcpy(keys, buffer, sizeof keys);
        SendAction(keys, address == DEV_REG_ACTION, size);
        return;
    }
    default:
        break;
    }
    *size = 0;
}

uint32_t CGigEDevice::TestPacket() {
    if (!Controls()) return 6;
    HeldUdpPort socket = HeldUdpPort::HoldRandom(0x8000);
    if (!socket.IsBound()) return 99;
    GigePortRecord port{ProcessId(), socket.Port(), {1, 0}};
    if (CallService(Driver(), IOCTL_GIGE_PortAlloc, &port, sizeof port) != gige::STATUS_SUCCESS) return 99;

    uint32_t result = 7;
    uint32_t packetSize = 0;
    try {
        m_port->WriteRegister(kRegStreamPort, socket.Port());
        packetSize = m_port->Reg(kRegPacketSize) & 0xFFFF;
        std::vector<uint8_t> packet(packetSize + 48);
        uint8_t setup[sizeof(GigeRequestBlock)] = {};
        Put<uint32_t>(setup, 0, ProcessId());
        Put<uint32_t>(setup, 4, m_info->GetCameraAddress());
        Put<uint16_t>(setup, 8, socket.Port());
        Put<uint32_t>(setup, 12, packetSize);
        if (CallService(Driver(), IOCTL_GIGE_SetStreamInfo, setup, sizeof setup) != gige::STATUS_SUCCESS) {
            result = 99;
        } else {
            uint8_t form[10] = {};
            Put<uint16_t>(form, 0, socket.Port());
            Put<uint32_t>(form, 2, packetSize);
            Put<uint32_t>(form, 6, 1);
            devio::Overlapped wait;
            if (Driver().DeviceIoControl(IOCTL_GIGE_GetTestPacket, form, sizeof form, packet.data(),
                                         packet.size(), wait) == devio::STATUS_PENDING) {
                try {
                    m_port->WriteRegister(kRegPacketSize, packetSize | 0xC0000000u);
                    if (!wait.CompletionEvent().Wait(m_testTimeout)) {
                        result = 13;
                    } else {
                        result = devio::NtSuccess(wait.Status()) ? 0 : 7;
                        m_port->WriteRegister(kRegPacketSize, packetSize);
                    }
                } catch (...) {
                    result = 7;
                }
                if (wait.IsPending()) {
                    Driver().CancelIo();
                    Driver().GetOverlappedResult(wait, nullptr, true);
                }
            }
        }
    } catch (...) {
        result = 7;
    }
    try {
        // A camera that has just left its test mode takes a while before its stream port may be cleared.
        if (m_port->Reg(kRegStreamPort) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        m_port->WriteRegister(kRegStreamPort, 0);
    } catch (...) {
    }
    CallService(Driver(), IOCTL_GIGE_PortFree, &port, sizeof port);
    return result;
}

void CGigEDevice::DescribeDevice(CModuleDescription& description) {
    description.AddNumber("GevDeviceIPAddress", false,
                          [this](uint32_t) { return int64_t{ntohl(m_info->GetCameraAddress())}; });
    description.AddNumber("GevDeviceMACAddress", false,
                          [this](uint32_t) { return static_cast<int64_t>(m_info->GetMac()); });
}

} // namespace GenICam::Client
