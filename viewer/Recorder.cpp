// Recorder: record folders on disk (frames, record INI), the record settings and the record budget.
#include "Recorder.h"

#include "ImageFiles.h"
#include "IniFile.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace qorcam::viewer {
namespace {

/// "MemAvailable" of /proc/meminfo, else the free pages.
uint64_t AvailableMemory() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    std::string unit;
    while (in >> key >> kib) {
        std::getline(in, unit);
        if (key == "MemAvailable:") return kib * 1024;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : 0;
}

/// A number as a record INI holds it: leading blanks, a sign, digits; the
/// rest is ignored and a value beyond the range is cut to it.
int64_t ParseNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        if ((v = v * 10 + (text[i] - '0')) > INT32_MAX) v = INT32_MAX + int64_t{1};
    v = negative ? -v : v;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v;
}

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

} // namespace

uint64_t RecordMemoryBudget() {
    // Memory is handed out lazily here, so a trial allocation says nothing:
    // the budget is taken from what the system reports available.
    return AvailableMemory() / 100 * 80;
}

uint64_t RecordMemoryBudget(const CRecordSettings& settings) {
    return settings.memoryBudget ? settings.memoryBudget : RecordMemoryBudget();
}

uint32_t RecordableCount(uint64_t budget, const std::vector<uint32_t>& imageSizes) {
    uint64_t sum = 0;
    for (uint32_t s : imageSizes)
        sum += s;
    if (sum == 0) return 0;
    const uint64_t n = budget / sum;
    return n > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
}

std::string PathSafeName(const std::string& title) {
    std::string s = title;
    for (char& c : s)
        if (c == '/') c = '_';
    if (s.empty() || s == "." || s == "..") s.insert(s.begin(), '_');
    return s;
}

std::string RecordResult(uint32_t saved, uint32_t toSave, uint32_t setCount, bool canceled) {
    std::string result = canceled          ? "ERROR!!! BMP Saving is canceled"
                         : saved == toSave ? "Success"
                                           : "ERROR!!!";
    if (toSave < setCount) result += " & Recording is canceled";
    return result;
}

bool WriteRecordIni(const std::string& path, const RecordIni& ini) {
    std::ofstream out(path, std::ios::trunc);
    out << "[File Info]\n"
        << "Camera Name=" << OneLine(ini.cameraName) << "\n"
        << "Rec Time=" << OneLine(ini.recordTime) << "\n"
        << "[Folder Info]\n"
        << "Result=" << OneLine(ini.result) << "\n"
        << "Save num=" << static_cast<int32_t>(ini.savedCount) << "\n"
        << "Set num=" << static_cast<int32_t>(ini.setCount) << "\n"
        << "[BMP Size]\n"
        << "Width=" << ini.width << "\n"
        << "Height=" << ini.height << "\n"
        << "ImageSize=" << static_cast<int32_t>(ini.imageSize) << "\n";
    out.close();
    return static_cast<bool>(out);
}

bool CRecInfo::ReadRecordInfo(const std::string& iniPath) {
    std::string values[6];
    static const char* const keys[6][2] = {{"File Info", "Camera Name"}, {"File Info", "Rec Time"},
                                           {"Folder Info", "Save num"},  {"BMP Size", "ImageSize"},
                                           {"BMP Size", "Width"},        {"BMP Size", "Height"}};
    for (int i = 0; i < 6; ++i) {
        values[i] = IniFile::ReadString(iniPath, keys[i][0], keys[i][1], "-", 64);
        if (!values[i].empty() && values[i][0] == '-') return false;
    }
    const int64_t saved = ParseNumber(values[2]), size = ParseNumber(values[3]);
    const int64_t width = ParseNumber(values[4]), height = ParseNumber(values[5]);
    // The frames are 32-bit pictures: sizes that can't describe one would
    // load nothing or draw beyond the frames.
    if (saved < 0 || width <= 0 || height <= 0 || size <= 0 ||
        uint64_t(size) != Bgrx32Size(static_cast<int32_t>(width), static_cast<int32_t>(height)))
        return false;
    cameraName = values[0];
    recordTime = values[1];
    savedCount = static_cast<uint32_t>(saved);
    header = {};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biSizeImage = static_cast<uint32_t>(size);
    // The folder is everything up to the last '/', which it keeps.
    const size_t slash = iniPath.find_last_of('/');
    folderPath = slash == std::string::npos ? std::string() : iniPath.substr(0, slash + 1);
    return true;
}

std::string CRecInfo::MakeRecordPath() const {
    return recordTime + " - " + cameraName;
}

std::string CRecInfo::FramePath(uint32_t n) const {
    char number[16];
    std::snprintf(number, sizeof number, "%04u", n);
    return folderPath + kRecordPrefix + number + ".bmp";
}

} // namespace qorcam::viewer
