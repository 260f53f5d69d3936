// CameraAcquisition: the calls into libQorCam.so, in the order an application makes them.
#include "CameraAcquisition.h"

#include <dlfcn.h>

namespace qorcam::sample {
namespace {

// Frames past this many keep their sizes and information but not their bytes.
constexpr size_t kFramesWithBytes = 8;

#pragma pack(push, 2)
struct BmpFileHeader {
    uint16_t type;
    uint32_t size;
    uint16_t reserved1;
    uint16_t reserved2;
    uint32_t offBits;
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14);

} // namespace

std::vector<uint8_t> BmpFile(const Bitmap& bitmap) {
    BmpFileHeader file{};
    file.type = 0x4D42; // "BM"
    file.offBits = static_cast<uint32_t>(sizeof file + bitmap.info.size());
    file.size = static_cast<uint32_t>(file.offBits + bitmap.bits.size());
    std::vector<uint8_t> out(file.size);
    std::memcpy(out.data(), &file, sizeof file);
    std::memcpy(out.data() + sizeof file, bitmap.info.data(), bitmap.info.size());
    std::memcpy(out.data() + file.offBits, bitmap.bits.data(), bitmap.bits.size());
    return out;
}

CameraAcquisition::CameraAcquisition(const std::string& libraryPath) {
    library_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* why = dlerror();
        error_ = "libQorCam.so can't be loaded: " + std::string(why != nullptr ? why : libraryPath);
    }
}

CameraAcquisition::~CameraAcquisition() {
    Finish();
    if (library_ != nullptr) dlclose(library_);
}

void* CameraAcquisition::Symbol(const char* name) const {
    return library_ != nullptr ? dlsym(library_, name) : nullptr;
}

bool CameraAcquisition::Fail(const std::string& step) {
    auto lastError = Fn<decltype(&QORCAM_GetLastError)>("QORCAM_GetLastError");
    error_ = step + " failed, error " + std::to_string(lastError != nullptr ? lastError() : -1);
    return false;
}

bool CameraAcquisition::SetStructVersion(uint32_t version) {
    auto fn = Fn<decltype(&QORCAM_SetStructVersion)>("QORCAM_SetStructVersion");
    return (fn != nullptr && fn(version)) || Fail("QORCAM_SetStructVersion");
}

std::vector<QORCAM_CAMERAINFO> CameraAcquisition::List() {
    constexpr uint32_t kRoom = 16;
    auto fn = Fn<decltype(&QORCAM_GetList)>("QORCAM_GetList");
    // The list is declared with one entry; the caller gives room for Count entries.
    std::vector<uint8_t> block(offsetof(QORCAM_LIST, Info) + kRoom * sizeof(QORCAM_CAMERAINFO));
    auto* list = reinterpret_cast<QORCAM_LIST*>(block.data());
    list->Count = kRoom;
    if (fn == nullptr || !fn(list)) {
        Fail("QORCAM_GetList");
        return {};
    }
    std::vector<QORCAM_CAMERAINFO> cameras;
    for (uint32_t i = 0; i < list->Count && i < kRoom; ++i)
        cameras.push_back(list->Info[i]);
    return cameras;
}

bool CameraAcquisition::Open(uint64_t uid) {
    auto fn = Fn<decltype(&QORCAM_Open)>("QORCAM_Open");
    return (fn != nullptr && fn(uid, &camera_)) || Fail("QORCAM_Open");
}

bool CameraAcquisition::WriteRegister(uint32_t address, uint32_t value) {
    auto fn = Fn<decltype(&QORCAM_WritePort)>("QORCAM_WritePort");
    uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    uint32_t length = 4;
    return (fn != nullptr && fn(camera_, address, bytes, &length)) ||
           Fail("QORCAM_WritePort at 0x" + [&] {
               char text[16];
               std::snprintf(text, sizeof text, "%X", address);
               return std::string(text);
           }());
}

bool CameraAcquisition::Start(uint32_t buffers) {
    auto alloc = Fn<decltype(&QORCAM_ResourceAlloc)>("QORCAM_ResourceAlloc");
    auto convMode = Fn<decltype(&QORCAM_ConvMode)>("QORCAM_ConvMode");
    auto setCallback = Fn<decltype(&QORCAM_SetImageCallBack)>("QORCAM_SetImageCallBack");
    auto start = Fn<decltype(&QORCAM_ImageStart)>("QORCAM_ImageStart");
    if (alloc == nullptr || !alloc(camera_)) return Fail("QORCAM_ResourceAlloc");
    resources_ = true;
    QORCAM_COLORCONVMODE mode{QORCAM_BMPmode, QORCAM_SFTAUTO, QORCAM_DIB24, FALSE, FALSE};
    if (convMode == nullptr || !convMode(camera_, &mode, nullptr)) return Fail("QORCAM_ConvMode");
    if (setCallback == nullptr || !setCallback(camera_, this, &OnImage, buffers, TRUE))
        return Fail("QORCAM_SetImageCallBack");
    callback_ = true;
    if (start == nullptr || !start(camera_)) return Fail("QORCAM_ImageStart");
    started_ = true;
    return true;
}

void CameraAcquisition::OnImage(HCAMERA, uint8_t* buffer, uint32_t length, uint32_t width, uint32_t height,
                                QORCAM_IMAGEDATAINFO* info, void* context) {
    auto* self = static_cast<CameraAcquisition*>(context);
    Frame frame;
    frame.length = length;
    frame.width = width;
    frame.height = height;
    frame.hasInfo = info != nullptr;
    if (info != nullptr) frame.info = *info;
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        if (buffer != nullptr && self->frames_.size() < kFramesWithBytes) frame.bytes.assign(buffer, buffer + length);
        self->frames_.push_back(std::move(frame));
    }
    self->arrived_.notify_all();
}

bool CameraAcquisition::WaitFrames(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    if (arrived_.wait_for(guard, timeout, [&] { return frames_.size() >= count; })) return true;
    error_ = std::to_string(frames_.size()) + " of " + std::to_string(count) + " images arrived in " +
             std::to_string(timeout.count()) + " ms";
    return false;
}

std::vector<Frame> CameraAcquisition::Frames() {
    std::lock_guard<std::mutex> guard(lock_);
    return frames_;
}

bool CameraAcquisition::ToBitmap(const Frame& frame, Bitmap& bitmap) {
    auto getBmp = Fn<decltype(&QORCAM_GetBMPINFO)>("QORCAM_GetBMPINFO");
    auto conv = Fn<decltype(&QORCAM_BufferConvExec)>("QORCAM_BufferConvExec");
    uint32_t size = 0;
    if (getBmp == nullptr || !getBmp(camera_, nullptr, &size, FALSE)) return Fail("QORCAM_GetBMPINFO (size)");
    if (size < sizeof(BITMAPINFOHEADER)) {
        error_ = "QORCAM_GetBMPINFO gave a header of " + std::to_string(size) + " bytes";
        return false;
    }
    bitmap.info.assign(size, 0);
    if (!getBmp(camera_, reinterpret_cast<BITMAPINFO*>(bitmap.info.data()), &size, FALSE))
        return Fail("QORCAM_GetBMPINFO");
    const BITMAPINFOHEADER& header = bitmap.Header();
    const uint64_t width = static_cast<uint64_t>(header.biWidth < 0 ? -int64_t{header.biWidth} : header.biWidth);
    const uint64_t height = static_cast<uint64_t>(header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight);
    // Room for the widest output the conversion writes (32 bits a pixel), whatever the header says.
    const uint64_t room = std::max<uint64_t>(header.biSizeImage, width * height * 4);
    if (width == 0 || height == 0 || room > (uint64_t{1} << 30)) {
        error_ = "the camera's header describes " + std::to_string(width) + " x " + std::to_string(height);
        return false;
    }
    if (frame.bytes.empty()) {
        error_ = "the frame kept no bytes";
        return false;
    }
    std::vector<uint8_t> in(frame.bytes);
    in.resize(std::max<size_t>(in.size(), width * height * 8)); // never read past a short frame
    bitmap.bits.assign(room, 0);
    if (conv == nullptr || !conv(camera_, in.data(), bitmap.bits.data())) return Fail("QORCAM_BufferConvExec");
    const uint64_t stride = (width * header.biBitCount + 31) / 32 * 4;
    bitmap.bits.resize(stride * height);
    return true;
}

bool CameraAcquisition::Connected() {
    auto fn = Fn<decltype(&QORCAM_Camera)>("QORCAM_Camera");
    BOOL connected = FALSE;
    if (fn == nullptr || !fn(camera_, &connected)) return Fail("QORCAM_Camera");
    return connected != FALSE;
}

bool CameraAcquisition::Finish() {
    if (library_ == nullptr || camera_ == nullptr) return true;
    bool ok = true;
    if (started_) {
        auto stop = Fn<decltype(&QORCAM_ImageStop)>("QORCAM_ImageStop");
        ok = (stop != nullptr && stop(camera_)) || Fail("QORCAM_ImageStop");
        started_ = false;
    }
    if (callback_) {
        auto setCallback = Fn<decltype(&QORCAM_SetImageCallBack)>("QORCAM_SetImageCallBack");
        ok = ((setCallback != nullptr && setCallback(camera_, nullptr, nullptr, 0, FALSE)) ||
              Fail("QORCAM_SetImageCallBack (stop)")) &&
             ok;
        callback_ = false;
    }
    if (resources_) {
        auto release = Fn<decltype(&QORCAM_ResourceRelease)>("QORCAM_ResourceRelease");
        ok = ((release != nullptr && release(camera_)) || Fail("QORCAM_ResourceRelease")) && ok;
        resources_ = false;
    }
    auto close = Fn<decltype(&QORCAM_Close)>("QORCAM_Close");
    ok = ((close != nullptr && close(camera_)) || Fail("QORCAM_Close")) && ok;
    camera_ = nullptr;
    return ok;
}

} // namespace qorcam::sample
