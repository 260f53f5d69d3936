// Recorder: record folders on disk (frames, record INI), the record settings and the record budget.
#pragma once

#include "QorCam.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// A ring slot index that names no slot (nothing to save, window still open).
constexpr uint32_t kNoSlot = 0xFFFFFFFF;
/// Frames are "<folder>/QorCam_Viewer0001.bmp" and on; the record INI sits beside them.
inline constexpr char kRecordPrefix[] = "QorCam_Viewer";
inline constexpr char kRecordIniName[] = "QorCam_Viewer.ini";

/// What every camera window's recording reads from the main frame, the
/// record form and the application. The counts and flags may be read on
/// any thread; the folder texts belong to the UI thread (a writer takes
/// copies when it starts).
struct CRecordSettings {
    /// Frames per record (the set count).
    std::atomic<uint32_t> setCount{0};
    /// Frames that fit in the record budget per camera window.
    std::atomic<uint32_t> recordableCount{0};
    /// 1 while any camera window writes recorded frames.
    std::atomic<uint8_t> saving{0};
    /// The application's running byte; writing stops when it is 0.
    std::atomic<uint8_t>* running = nullptr;
    /// Bytes the record ring and playback may hold; 0 asks the system.
    uint64_t memoryBudget = 0;
    /// The folder made for the current record and its name, which is also
    /// the record time text.
    std::string folderPath;
    std::string folderName;
};

/// 80 % of the memory the system has available now, in bytes.
uint64_t RecordMemoryBudget();
/// The budget of the settings, or the system's when it holds none.
uint64_t RecordMemoryBudget(const CRecordSettings& settings);
/// Frames per window that fit the budget when every window records one
/// image of each size given; 0 without windows or sizes.
uint32_t RecordableCount(uint64_t budget, const std::vector<uint32_t>& imageSizes);

/// A window title as one component of a path: a '/' (a camera's user name
/// may hold one) would lead out of the record folder, so it becomes '_'.
std::string PathSafeName(const std::string& title);

/// The "Result" text of a record INI.
std::string RecordResult(uint32_t saved, uint32_t toSave, uint32_t setCount, bool canceled);

/// The values of a record INI.
struct RecordIni {
    std::string cameraName;
    std::string recordTime;
    std::string result;
    uint32_t savedCount = 0;
    uint32_t setCount = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t imageSize = 0;
};
/// Writes the record INI ("File Info", "Folder Info", "BMP Size"); line
/// breaks in the texts become blanks, so a name can't add keys of its own.
bool WriteRecordIni(const std::string& path, const RecordIni& ini);

/// A record folder read back for playback: its description and its frames
/// in memory. The loader fills frames in index order; a frame below the
/// loaded count is complete and is never moved or freed while the window lives.
class CRecInfo {
public:
    std::string cameraName;
    std::string recordTime;
    uint32_t savedCount = 0;
    /// The playback window's bitmap info: 32-bit pixels, rows bottom-up.
    BITMAPINFOHEADER header{};
    std::vector<std::unique_ptr<uint8_t[]>> frames;
    std::atomic<uint32_t> currentFrame{0};
    /// Frames to load, then frames loaded.
    std::atomic<uint32_t> frameCount{0};
    /// Frames whose pixels are complete.
    std::atomic<uint32_t> loaded{0};
    std::atomic<uint8_t> loading{0};
    /// The record folder, ending in '/'.
    std::string folderPath;

    /// Reads a record INI. False when a value is missing or starts with
    /// '-', or when the sizes don't describe a 32-bit picture of at least
    /// one pixel.
    bool ReadRecordInfo(const std::string& iniPath);
    /// The playback window's title: record time, " - ", camera name.
    std::string MakeRecordPath() const;
    /// "<folder>QorCam_Viewer%04d.bmp" for frame number n (from 1).
    std::string FramePath(uint32_t n) const;
};

} // namespace qorcam::viewer
