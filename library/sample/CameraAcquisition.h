// CameraAcquisition: drives one camera through libQorCam.so loaded at run time (list, open, stream
// resources, image callback, start, conversion to a bitmap, stop, release, close). Shared by the
// sample program and the end-to-end acquisition test.
#pragma once

#include "QorCam.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::sample {

// One callback as it arrived: the sizes the library gave, the block information and the bytes.
struct Frame {
    uint32_t length = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasInfo = false;
    QORCAM_IMAGEDATAINFO info{};
    std::vector<uint8_t> bytes;
};

// A device-independent bitmap as the library describes it: its BITMAPINFO block and the bits.
struct Bitmap {
    std::vector<uint8_t> info; // BITMAPINFOHEADER plus any colour table
    std::vector<uint8_t> bits;
    const BITMAPINFOHEADER& Header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(info.data()); }
};

// A BMP file: the 14-byte file header, the info block and the bits.
std::vector<uint8_t> BmpFile(const Bitmap& bitmap);

class CameraAcquisition {
public:
    // Loads libQorCam.so from `libraryPath`; Loaded() tells whether it and every export it needs were found.
    explicit CameraAcquisition(const std::string& libraryPath);
    ~CameraAcquisition();
    CameraAcquisition(const CameraAcquisition&) = delete;
    CameraAcquisition& operator=(const CameraAcquisition&) = delete;

    bool Loaded() const { return library_ != nullptr; }
    // What went wrong last: the step and the library's error code.
    const std::string& Error() const { return error_; }

    bool SetStructVersion(uint32_t version);
    // The cameras the library lists (up to 16); empty with Error() set when the list fails.
    std::vector<QORCAM_CAMERAINFO> List();
    bool Open(uint64_t uid);
    // Writes a 32-bit big-endian register of the camera.
    bool WriteRegister(uint32_t address, uint32_t value);
    // Allocates the stream resources, asks for 24-bit bitmaps, registers the image callback with
    // `buffers` buffers and starts the images.
    bool Start(uint32_t buffers);
    // Waits (at most `timeout`) until `count` callbacks arrived; true when they did.
    bool WaitFrames(size_t count, std::chrono::milliseconds timeout);
    std::vector<Frame> Frames();
    // Converts a frame with the camera's conversion into a bitmap of the camera's header.
    bool ToBitmap(const Frame& frame, Bitmap& bitmap);
    // Whether the library still counts the open camera as connected (false too when it can't tell).
    bool Connected();
    // Stops, unregisters the callback, releases and closes, as far as each was reached.
    bool Finish();

    // The open camera's handle (null before Open).
    HCAMERA Camera() const { return camera_; }
    // The library's export by name (null when missing).
    void* Symbol(const char* name) const;

private:
    static void OnImage(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t width, uint32_t height,
                        QORCAM_IMAGEDATAINFO* info, void* context);
    bool Fail(const std::string& step);
    template <typename F> F Fn(const char* name) const {
        F fn = nullptr;
        void* symbol = Symbol(name);
        std::memcpy(&fn, &symbol, sizeof fn);
        return fn;
    }

    void* library_ = nullptr;
    std::string error_;
    HCAMERA camera_ = nullptr;
    bool resources_ = false, callback_ = false, started_ = false;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<Frame> frames_;
};

} // namespace qorcam::sample
