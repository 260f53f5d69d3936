// LibraryFixture: a test fixture that loads a private copy of the built library under a temporary root,
// with scripted producers beside it, and collects its trace lines.
#pragma once

#include "TempRoot.h"
#include "TraceReader.h"

#include "QorCam.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace qorcam::testing {

// The standard features, Width on a big-endian register at 0x100, the stop command on a write-only one.
inline std::string CameraXml(bool withLocked = true) {
    return std::string(
               "<?xml version='1.0'?><RegisterDescription SchemaMajorVersion='1' SchemaMinorVersion='1'>"
               "<Integer Name='Width'><pValue>WidthReg</pValue></Integer>"
               "<IntReg Name='WidthReg'><Address>0x100</Address><Length>4</Length>"
               "<AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable>"
               "<Endianess>BigEndian</Endianess></IntReg>"
               "<Integer Name='Height'><Value>480</Value></Integer>"
               "<IntSwissKnife Name='PayloadSize'><pVariable Name='W'>Width</pVariable>"
               "<pVariable Name='H'>Height</pVariable><Formula>W*H</Formula></IntSwissKnife>"
               "<Enumeration Name='PixelFormat'><EnumEntry Name='Mono8'><Value>17301505</Value>"
               "</EnumEntry><Value>17301505</Value></Enumeration>") +
           (withLocked ? "<Integer Name='TLParamsLocked'><Value>0</Value></Integer>" : "") +
           "<Command Name='AcquisitionStart'><pValue>Acq</pValue><CommandValue>1</CommandValue></Command>"
           "<Command Name='AcquisitionStop'><pValue>Acq</pValue><CommandValue>0</CommandValue></Command>"
           "<IntReg Name='Acq'><Address>0x124</Address><Length>4</Length><AccessMode>WO</AccessMode>"
           "<pPort>Device</pPort></IntReg><Port Name='Device'/></RegisterDescription>";
}

class LibraryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("GENICAM_ROOT_V2_4");
        ASSERT_TRUE(reader_.IsValid());
        reader_.SetLevel(2);
        folder_ = std::filesystem::path(root_.Path()) / "lib";
        std::filesystem::create_directories(folder_);
        std::filesystem::copy_file(QORCAM_LIBRARY_PATH, folder_ / "libQorCam.so");
        drainer_ = std::thread([this] {
            // The trace area holds 32 lines and writers drop what does not fit: on a
            // loaded machine the drainer runs ahead of the test's threads where it may.
            sched_param realtime{};
            realtime.sched_priority = 1;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
            while (!stop_) {
                Drain();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void TearDown() override {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = nullptr;
        stop_ = true;
        drainer_.join();
    }

    /// Puts the scripted producer beside the library under `file` with its script.
    void Install(const std::string& file, const std::string& script) {
        std::filesystem::copy_file(SCRIPTED_PRODUCER_PATH, folder_ / file);
        std::ofstream((folder_ / file).string() + ".script") << script;
    }
    /// A file in the temporary root (for descriptions the scripts name).
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const auto path = std::filesystem::path(root_.Path()) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    void Load() {
        handle_ = dlopen((folder_ / "libQorCam.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    /// Loads the library and passes the structure version (which loads the producers).
    void LoadAndStart() {
        ASSERT_NO_FATAL_FAILURE(Load());
        ASSERT_TRUE(
            Fn<decltype(&QORCAM_SetStructVersion)>("QORCAM_SetStructVersion")(LIBRARY_STRUCT_VERSION));
    }

    template <class F> F Fn(const char* name) {
        void* address = dlsym(handle_, name);
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<F>(address);
    }
#define QORCAM_FN(name) Fn<decltype(&name)>(#name)

    STATUS_RTNCODE LastError() {
        return QORCAM_FN(QORCAM_GetLastError)();
    }

    /// A test hook of the scripted producer installed as `file` (loaded by the library).
    template <class F> F Hook(const std::string& file, const char* name) {
        void* producer = dlopen((folder_ / file).c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (producer == nullptr) return nullptr;
        void* address = dlsym(producer, name);
        dlclose(producer);
        return reinterpret_cast<F>(address);
    }

    void Drain() {
        auto fresh = reader_.Drain();
        std::lock_guard<std::mutex> guard(linesLock_);
        for (auto& line : fresh)
            lines_.push_back(std::move(line));
    }
    /// True when a line written so far holds every one of the texts.
    bool Traced(const std::vector<std::string>& texts) {
        Drain();
        std::lock_guard<std::mutex> guard(linesLock_);
        for (const auto& line : lines_) {
            bool all = true;
            for (const auto& text : texts)
                all = all && line.find(text) != std::string::npos;
            if (all) return true;
        }
        return false;
    }
    void ForgetLines() {
        Drain();
        std::lock_guard<std::mutex> guard(linesLock_);
        lines_.clear();
    }

    TempRoot root_;
    TraceReader reader_;
    std::filesystem::path folder_;
    void* handle_ = nullptr;

private:
    std::mutex linesLock_;
    std::vector<std::string> lines_;
    std::atomic<bool> stop_{false};
    std::thread drainer_;
};

} // namespace qorcam::testing
