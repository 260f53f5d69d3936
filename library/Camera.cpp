// Camera: CCamera, an opened camera with its GenTL handles, its node map and its state flags.
#include "Camera.h"

#include "CConv.h"
#include "CameraRecord.h"
#include "ErrorText.h"
#include "GenTLCustom.h"
#include "GenTLInterface.h"
#include "GenTLProducer.h"
#include "QorCamDLL.h"
#include "TraceLog.h"

#include <algorithm>
#include <cstring>

namespace qorcam::library {

namespace {

constexpr std::size_t kStreamIdSize = 2048;
// Texts an open reports are kept to its 128-byte error text.
constexpr std::size_t kErrorTextMax = 127;

std::string Cut(std::string text) {
    if (text.size() > kErrorTextMax) text.resize(kErrorTextMax);
    return text;
}

} // namespace

std::uint64_t CameraNumberOf(const std::string& id) {
    return CInterface::CameraNumber(id);
}

CCamera::CCamera(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device,
                 std::uint32_t urlIndex, bool watch)
    : producer_(producer), interface_(iface), id_(std::move(id)), device_(device), urlIndex_(urlIndex),
      watch_(watch) {
    try {
        OpenStreams();
        LoadNodeMap();
    } catch (const CErrorText&) {
        ReleaseNodeMap();
        CloseStreams();
        throw;
    } catch (...) {
        ReleaseNodeMap();
        CloseStreams();
        throw CErrorText("Other Error");
    }
}

void CCamera::OpenStreams() {
    auto failed = [this] { throw CErrorText(Cut(producer_.LastErrorText())); };
    if (producer_.fn.DevGetPort(device_, &port_) != GC_ERR_SUCCESS) failed();
    std::uint32_t count = 0;
    if (producer_.fn.DevGetNumDataStreams(device_, &count) != GC_ERR_SUCCESS) failed();
    if (count < 2) throw CErrorText("DataStreams Error");
    for (std::uint32_t index = 0; index < 2; ++index) {
        char id[kStreamIdSize] = {};
        std::size_t size = sizeof id;
        if (producer_.fn.DevGetDataStreamID(device_, index, id, &size) != GC_ERR_SUCCESS) failed();
        id[sizeof id - 1] = '\0';
        if (producer_.fn.DevOpenDataStream(device_, id, &stream_[index]) != GC_ERR_SUCCESS) {
            stream_[index] = nullptr;
            failed();
        }
    }
}

void CCamera::LoadNodeMap() {
    const std::string folder = description::DescriptionFolder();
    try {
        if (!description::LoadNodeMap(*this, urlIndex_, watch_, folder, binding_)) {
            // No installed copy: the description comes from the device.
            urlIndex_ = 0;
            description::LoadNodeMap(*this, urlIndex_, watch_, folder, binding_);
        }
    } catch (const description::DescriptionError& error) {
        throw CErrorText(Cut(error.what()));
    }
}

void CCamera::ReleaseNodeMap() {
    binding_.nodeMap.reset(); // the node map goes before its port
    binding_ = {};
}

void CCamera::CloseStreams() {
    for (int index = 1; index >= 0; --index) {
        if (stream_[index] == nullptr) continue;
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_INPUT_TO_OUTPUT);
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_OUTPUT_DISCARD);
        producer_.fn.DSClose(stream_[index]);
        stream_[index] = nullptr;
    }
}

CCamera::~CCamera() {
    CloseStreams();
    ReleaseNodeMap();
    producer_.fn.DevClose(device_);
    interface_.RemoveCamera(this);
    std::lock_guard<std::mutex> guard(convLock_);
    conv_.reset();
}

bool CCamera::CheckState(std::uint32_t mask) {
    struct Condition {
        std::uint32_t bit;
        bool holds;
        std::uint32_t code;
    };
    const Condition conditions[] = {
        {kPresent, present_.load(), STATUSQORCAM_CANNOT_FOUND},
        {kWatch, watch_, STATUSQORCAM_NO_OPEN},
        {kNormal, !watch_, STATUSQORCAM_NO_OPEN},
        {kResources, HasResources(), STATUSQORCAM_NOTRESOURCE_ERROR},
        {kNoResources, !HasResources(), STATUSQORCAM_RESOURCE_ERROR},
        {kStarted, started_, STATUSQORCAM_NOTSTART_ERROR},
        {kNotStarted, !started_, STATUSQORCAM_STARTED_ERROR},
        {kMulticast, multicast_, STATUSQORCAM_NOTSTART_ERROR},
    };
    for (const Condition& c : conditions) {
        if ((mask & c.bit) != 0 && !c.holds) {
            producer_.Library().SetLastErrorCode(c.code);
            return false;
        }
    }
    return true;
}

void CCamera::SetVisibleFlag() {
    bool8_t visible = 0;
    std::size_t size = sizeof visible;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (producer_.fn.DevGetInfo(device_, DEVICE_INFO_CUSTOM_VISIBLE, &type, &visible, &size) !=
        GC_ERR_SUCCESS) {
        InfoFailed("CCamera::SetVisibleFlag");
        present_ = false;
        return;
    }
    present_ = visible != 0;
}

bool CCamera::RefreshPresence() {
    SetVisibleFlag();
    return present_.load();
}

bool CCamera::DeviceInfo(std::int32_t command, void* buffer, std::size_t size) {
    std::memset(buffer, 0, size);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    return producer_.fn.DevGetInfo(device_, command, &type, buffer, &size) == GC_ERR_SUCCESS;
}

bool CCamera::TextInfo(std::int32_t command, char* field, std::size_t size) {
    char text[1024];
    if (!DeviceInfo(command, text, sizeof text)) return false;
    std::memcpy(field, text, std::min(size, sizeof text));
    return true;
}

void CCamera::InfoFailed(const char* name) {
    TraceClass(1, name, LastErrorText().c_str());
    producer_.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
}

bool CCamera::CameraInfo(QORCAM_CAMERAINFO* info) {
    return FillCameraRecord(producer_, device_, info, "CCamera::CameraInfo");
}

bool CCamera::ConvMode(const QORCAM_COLORCONVMODE& mode, const QORCAM_COLORVALUE& value) {
    std::lock_guard<std::mutex> guard(convLock_);
    conv_.reset();
    try {
        conv_ = std::make_unique<conversion::CConv>(mode, value);
    } catch (...) {
        return false;
    }
    return true;
}

std::uint32_t CCamera::EndianMode() const {
    return producer_.Type() == kProducerIIDC ? QORCAM_BIGENDIAN : QORCAM_LITTLEENDIAN;
}

std::int32_t CCamera::GetNumPortURLs(std::uint32_t& count) {
    return producer_.fn.GCGetNumPortURLs(port_, &count);
}

std::int32_t CCamera::GetPortURLInfo(std::uint32_t index, std::int32_t infoCommand, void* buffer,
                                     std::size_t& size) {
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    return producer_.fn.GCGetPortURLInfo(port_, index, infoCommand, &type, buffer, &size);
}

std::int32_t CCamera::ReadPort(std::uint64_t address, void* buffer, std::size_t& size) {
    return producer_.fn.GCReadPort(port_, address, buffer, &size);
}

std::int32_t CCamera::WritePort(std::uint64_t address, const void* buffer, std::size_t& size) {
    return producer_.fn.GCWritePort(port_, address, buffer, &size);
}

std::string CCamera::LastErrorText() {
    return producer_.LastErrorText();
}

} // namespace qorcam::library
