// TracelogTestSupport: a private runtime root and a small message-channel device for the log tool's tests.
#pragma once

#include "devio/DeviceServer.h"
#include "devio/RequestQueue.h"
#include "devio/Status.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace qorcam::tracelog::test {

/// Points QORCAM_ROOT at a fresh folder for the object's life.
class ScopedRoot {
public:
    ScopedRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tracelog-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
        setenv("QORCAM_ROOT", path_.c_str(), 1);
    }
    ~ScopedRoot() {
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScopedRoot(const ScopedRoot&) = delete;
    ScopedRoot& operator=(const ScopedRoot&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// Polls cond every 2 ms for up to 10 s.
template <class Cond> bool Eventually(Cond cond) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return cond();
}

/// A device that serves a driver's version and message codes as the tool
/// uses them: the version answer at once, enable requests recorded and
/// completed at once, message requests pended until Post completes the
/// oldest one with a record.
class MessageDevice {
public:
    struct Codes {
        std::uint32_t version;
        std::uint32_t enable;
        std::uint32_t message;
        std::size_t minMessageOutput;
    };

    MessageDevice(Codes codes, std::uint32_t version)
        : codes_(codes), version_(version), server_([this](const devio::RequestPtr& r) { Dispatch(r); }) {}
    ~MessageDevice() { Stop(); }

    bool Start(const std::filesystem::path& socket) { return server_.Start(socket) == devio::STATUS_SUCCESS; }
    void Stop() {
        server_.Stop();
        queue_.TakeAll(); // completed as cancelled when dropped
    }

    std::size_t Pending() const { return queue_.Size(); }
    std::vector<std::uint32_t> EnableLevels() const {
        std::lock_guard lock(mutex_);
        return levels_;
    }
    int VersionRequests() const {
        std::lock_guard lock(mutex_);
        return versionRequests_;
    }

    /// Completes the oldest pending message request with these bytes.
    bool Post(const std::vector<std::uint8_t>& record) {
        auto r = queue_.Next();
        if (!r) return false;
        const std::size_t n = std::min(record.size(), r->OutputLength());
        std::memcpy(r->Output().data(), record.data(), n);
        return r->Complete(devio::STATUS_SUCCESS, n, n);
    }
    /// Completes the oldest pending message request with a failure.
    bool Fail(devio::NtStatus status) {
        auto r = queue_.Next();
        return r && r->Complete(status, 0);
    }

private:
    void Dispatch(const devio::RequestPtr& r) {
        if (r->Code() == codes_.version) {
            if (r->OutputLength() < 8) {
                r->Complete(devio::STATUS_BUFFER_TOO_SMALL);
                return;
            }
            std::lock_guard lock(mutex_);
            ++versionRequests_;
            std::memcpy(r->Output().data(), &version_, 4);
            r->Complete(devio::STATUS_SUCCESS, 8);
        } else if (r->Code() == codes_.enable && r->Input().size() >= 4) {
            std::uint32_t level;
            std::memcpy(&level, r->Input().data(), 4);
            {
                std::lock_guard lock(mutex_);
                levels_.push_back(level);
            }
            r->Complete(devio::STATUS_SUCCESS);
        } else if (r->Code() == codes_.message && r->OutputLength() >= codes_.minMessageOutput) {
            queue_.Pend(r);
        } else {
            r->Complete(devio::STATUS_INVALID_DEVICE_REQUEST);
        }
    }

    Codes codes_;
    std::uint32_t version_;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> levels_;
    int versionRequests_ = 0;
    devio::RequestQueue queue_;
    devio::DeviceServer server_;
};

/// A message record: fixed u32 fields, then the text as UTF-16 with its zero.
inline std::vector<std::uint8_t> Record(std::vector<std::uint32_t> fields, const std::u16string& text) {
    std::vector<std::uint8_t> bytes(fields.size() * 4 + (text.size() + 1) * 2, 0);
    if (!fields.empty()) std::memcpy(bytes.data(), fields.data(), fields.size() * 4);
    std::memcpy(bytes.data() + fields.size() * 4, text.data(), text.size() * 2);
    return bytes;
}

} // namespace qorcam::tracelog::test
