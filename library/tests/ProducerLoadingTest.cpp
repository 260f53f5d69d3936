// ProducerLoadingTest: the built library loading producers: where it finds them, the camera list, bus
// events and the monitor's event reaching the system callback, reloading, failing producers, and
// unloading with producers loaded (by a call and at process exit).
#include "TempRoot.h"
#include "TraceReader.h"

#include "QorCam.h"
#include "QorCamShared.h"
#include "os/NamedEvent.h"
#include "os/Process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

constexpr char kGigEScript[] = "prefix GigEVision\n"
                               "interface if0\n"
                               "interface if1\n"
                               "device if1 73588229205 VendorG ModelG1 - 3232235777 1000\n"
                               "device if1 5 VendorG ModelG2 cam2 7 100\n";

const std::string kLongModel(300, 'M');

std::string UsbScript() {
    return "prefix USB3Vision\n"
           "interface usb0\n"
           "device usb0 12 VendorU " +
           kLongModel +
           " userA 2 512\n"
           "device usb0 13 VendorU ModelU2 userB 2 1024\n";
}

// The system callback's calls, as the test sees them.
class Recorder {
public:
    static void Call(STATUS_SYSTEMCODE code, void* context) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard<std::mutex> guard(self->lock_);
        self->codes_.push_back(code);
        self->changed_.notify_all();
    }
    // Waits (up to 10 s) until `code` has been called at least `times` times.
    bool WaitFor(int code, int times = 1) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return Count(code) >= times; });
    }
    int Calls(int code) {
        std::lock_guard<std::mutex> guard(lock_);
        return Count(code);
    }

private:
    int Count(int code) const {
        int n = 0;
        for (int c : codes_)
            n += c == code;
        return n;
    }
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<int> codes_;
};

// One QORCAM_LIST with room for n entries.
struct CameraList {
    explicit CameraList(std::uint32_t n)
        : bytes(offsetof(QORCAM_LIST, Info) + sizeof(QORCAM_CAMERAINFO) * (n == 0 ? 1 : n)) {
        List()->Count = n;
    }
    QORCAM_LIST* List() { return reinterpret_cast<QORCAM_LIST*>(bytes.data()); }
    QORCAM_CAMERAINFO& Entry(std::size_t i) {
        return *reinterpret_cast<QORCAM_CAMERAINFO*>(bytes.data() + offsetof(QORCAM_LIST, Info) +
                                                     sizeof(QORCAM_CAMERAINFO) * i);
    }
    std::vector<char> bytes;
};

class ProducerLoadingTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("GENICAM_ROOT_V2_4");
        ASSERT_TRUE(reader_.IsValid());
        reader_.SetLevel(1);
        UseFolder("lib");
        // The area holds 32 lines: take them as they come.
        drainer_ = std::thread([this] {
            while (!stopDraining_) {
                Drain();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void TearDown() override {
        Unload();
        unsetenv("GENICAM_ROOT_V2_4");
        stopDraining_ = true;
        drainer_.join();
    }

    // A fresh folder with a copy of the library in it. Producers stay loaded
    // for the life of the process once they have been loaded (the system keeps
    // them), so every library and producer a test loads has a path of its own.
    void UseFolder(const std::string& name) {
        folder_ = fs::path(root_.Path()) / name;
        gige_ = folder_ / "QorGigEGenTL.cti";
        usb_ = folder_ / "QorUSBGenTL.cti";
        fs::create_directories(folder_);
        fs::copy_file(QORCAM_LIBRARY_PATH, folder_ / "libQorCam.so");
    }

    // Puts the scripted producer at `file` with its script beside it.
    static void Install(const fs::path& file, const std::string& script) {
        fs::create_directories(file.parent_path());
        fs::copy_file(SCRIPTED_PRODUCER_PATH, file);
        std::ofstream(file.string() + ".script") << script;
    }

    void Load(const fs::path& library) {
        handle_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        SetStructVersion = Fn<decltype(&QORCAM_SetStructVersion)>("QORCAM_SetStructVersion");
        SetCallBack = Fn<decltype(&QORCAM_SetCallBack)>("QORCAM_SetCallBack");
        GetLastError = Fn<decltype(&QORCAM_GetLastError)>("QORCAM_GetLastError");
        GetLibraryRevision = Fn<decltype(&QORCAM_GetLibraryRevision)>("QORCAM_GetLibraryRevision");
        GetList = Fn<decltype(&QORCAM_GetList)>("QORCAM_GetList");
        ReDetection = Fn<decltype(&QORCAM_ReDetection)>("QORCAM_ReDetection");
        Reset = Fn<decltype(&QORCAM_Reset)>("QORCAM_Reset");
        CloseAll = Fn<decltype(&QORCAM_CloseAll)>("QORCAM_CloseAll");
    }
    void Load() { Load(folder_ / "libQorCam.so"); }
    // Both scripted producers beside the library, loaded.
    void LoadBothProducers() {
        Install(gige_, kGigEScript);
        Install(usb_, UsbScript());
        Load();
        ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    }
    void Unload() {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = nullptr;
    }

    template <class F> F Fn(const char* name) {
        void* address = dlsym(handle_, name);
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<F>(address);
    }

    // A test hook of the producer loaded from `file` (which must be loaded).
    template <class F> static F Hook(const fs::path& file, const char* name) {
        void* producer = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (producer == nullptr) return nullptr;
        void* address = dlsym(producer, name);
        dlclose(producer); // the library still holds it
        return reinterpret_cast<F>(address);
    }
    static int PushBusEvent(const fs::path& file, const char* path, std::uint32_t code) {
        auto push = Hook<int (*)(const char*, std::uint32_t)>(file, "ScriptedGenTL_PushBusEvent");
        return push != nullptr ? push(path, code) : -2;
    }
    static int UpdateCount(const fs::path& file, const char* path) {
        auto count = Hook<int (*)(const char*)>(file, "ScriptedGenTL_UpdateCount");
        return count != nullptr ? count(path) : -2;
    }

    void Drain() {
        Lines fresh = reader_.Drain();
        std::lock_guard<std::mutex> guard(linesLock_);
        for (auto& line : fresh)
            lines_.push_back(std::move(line));
    }
    // Every trace line written so far (since the last ForgetLines).
    Lines Traced() {
        Drain();
        std::lock_guard<std::mutex> guard(linesLock_);
        return lines_;
    }
    void ForgetLines() {
        Drain();
        std::lock_guard<std::mutex> guard(linesLock_);
        lines_.clear();
    }
    bool Traced(const std::string& name, const std::string& text) {
        for (const auto& line : Traced()) {
            if (line.find(name) != std::string::npos && line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    // Waits (up to 10 s) for a line that holds both texts.
    bool WaitTraced(const std::string& name, const std::string& text) {
        for (int i = 0; i < 2000; ++i) {
            if (Traced(name, text)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::uint32_t CameraCount() {
        CameraList list(0);
        EXPECT_TRUE(GetList(list.List()));
        return list.List()->Count;
    }

    qorcam::testing::TempRoot root_;
    qorcam::testing::TraceReader reader_;
    fs::path folder_;
    fs::path gige_;
    fs::path usb_;
    void* handle_ = nullptr;
    Recorder recorder_;
    std::mutex linesLock_;
    Lines lines_;
    std::atomic<bool> stopDraining_{false};
    std::thread drainer_;

    decltype(&QORCAM_SetStructVersion) SetStructVersion = nullptr;
    decltype(&QORCAM_SetCallBack) SetCallBack = nullptr;
    decltype(&QORCAM_GetLastError) GetLastError = nullptr;
    decltype(&QORCAM_GetLibraryRevision) GetLibraryRevision = nullptr;
    decltype(&QORCAM_GetList) GetList = nullptr;
    decltype(&QORCAM_ReDetection) ReDetection = nullptr;
    decltype(&QORCAM_Reset) Reset = nullptr;
    decltype(&QORCAM_CloseAll) CloseAll = nullptr;
};

TEST_F(ProducerLoadingTest, ListsEveryCameraOfBothProducersInProducerAndInterfaceOrder) {
    ASSERT_NO_FATAL_FAILURE(LoadBothProducers());

    CameraList size(0);
    ASSERT_TRUE(GetList(size.List()));
    EXPECT_EQ(size.List()->Count, 4u);

    CameraList small(3);
    EXPECT_FALSE(GetList(small.List()));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_BUFFER_SHORT);
    EXPECT_EQ(small.List()->Count, 3u);

    EXPECT_FALSE(GetList(nullptr));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_PARAMETER_ERROR);

    CameraList list(6);
    std::memset(&list.Entry(4), 0x5A, sizeof(QORCAM_CAMERAINFO));
    ASSERT_TRUE(GetList(list.List()));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_COMPLETE);
    ASSERT_EQ(list.List()->Count, 4u);
    struct Expected {
        std::uint64_t uid;
        std::uint32_t bus, type, speed;
        const char* vendor;
        std::string model;
    };
    const Expected expected[] = {
        {73588229205u, 3232235777u, QORCAM_CTYPE_GIGE, QORCAM_S1000M, "VendorG", "ModelG1"},
        {5, 7, QORCAM_CTYPE_GIGE, QORCAM_S100M, "VendorG", "ModelG2"},
        {12, 2, QORCAM_CTYPE_USB, QORCAM_SUSB2, "VendorU", kLongModel.substr(0, 255)},
        {13, 2, QORCAM_CTYPE_USB, QORCAM_SUSB3, "VendorU", "ModelU2"},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QORCAM_CAMERAINFO& entry = list.Entry(i);
        EXPECT_EQ(std::uint64_t{entry.UID}, expected[i].uid);
        EXPECT_EQ(entry.BusNumber, expected[i].bus);
        EXPECT_EQ(entry.CameraType, expected[i].type);
        EXPECT_EQ(entry.Speed, expected[i].speed);
        EXPECT_STREQ(entry.VendorName, expected[i].vendor);
        EXPECT_EQ(std::string(entry.ModelName, strnlen(entry.ModelName, sizeof entry.ModelName)),
                  expected[i].model);
    }
    // Room beyond the cameras is left alone.
    EXPECT_EQ(static_cast<unsigned char>(list.Entry(4).VendorName[0]), 0x5Au);
    EXPECT_TRUE(Traced("CInterface::GetDevCount", "GigE Camera Count DUMP=0x0000000000000000"));
    EXPECT_TRUE(Traced("CInterface::GetDevCount", "USB Camera Count DUMP=0x0000000000000002"));
}

TEST_F(ProducerLoadingTest, ADeviceWhoseInformationFailsIsLeftOutAndNotCounted) {
    Install(usb_, UsbScript());
    Load();
    ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    auto fail = Hook<int (*)(const char*, std::uint64_t, int)>(usb_, "ScriptedGenTL_SetInfoFailure");
    ASSERT_NE(fail, nullptr);
    ASSERT_EQ(fail("usb0", 12, 1), 0);

    CameraList list(2);
    ASSERT_TRUE(GetList(list.List()));
    ASSERT_EQ(list.List()->Count, 1u);
    EXPECT_EQ(std::uint64_t{list.Entry(0).UID}, 13u);
    EXPECT_TRUE(Traced("CInterface::GetDevInfo", "Info Read Error"));
}

TEST_F(ProducerLoadingTest, StructureVersionLoadsTheProducersOnceAndRefusesOtherVersions) {
    Install(gige_, kGigEScript);
    Load();
    // Nothing is loaded before the structure version is set.
    EXPECT_EQ(CameraCount(), 0u);

    EXPECT_FALSE(SetStructVersion(LIBRARY_STRUCT_VERSION + 1));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_STRUCTVERSION_ERROR);
    EXPECT_EQ(GetLibraryRevision(), static_cast<std::uint32_t>(LIBRARY_STRUCT_VERSION));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_COMPLETE);

    ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    const int refreshes = UpdateCount(gige_, "if1");
    ASSERT_GT(refreshes, 0);
    EXPECT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    EXPECT_EQ(UpdateCount(gige_, "if1"), refreshes) << "the second call loaded again";

    EXPECT_FALSE(SetStructVersion(LIBRARY_STRUCT_VERSION - 1));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_STRUCTVERSION_ERROR);
    EXPECT_EQ(CameraCount(), 2u);
    EXPECT_TRUE(Reset());
    EXPECT_TRUE(Traced("QORCAM_SetStructVersion", "Error=16"));
    EXPECT_TRUE(Traced("QORCAM_Reset", "End  "));
}

TEST_F(ProducerLoadingTest, TheGenICamFolderIsSearchedWhenNoProducerLiesBesideTheLibrary) {
    const fs::path genicam = fs::path(root_.Path()) / "genicam";
    const fs::path file = genicam / "bin" / "Win64_x64" / "TLIs" / "QorUSBGenTL.cti";
    Install(file, UsbScript());
    setenv("GENICAM_ROOT_V2_4", genicam.c_str(), 1);
    Load();
    ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    EXPECT_EQ(CameraCount(), 2u);
    EXPECT_TRUE(Traced("CQorCamDLL::CreateDrvList", "GenTL Module Not Found"))
        << "the GigE producer is missing";
}

TEST_F(ProducerLoadingTest, AFailingProducerIsTracedAndSkippedWhileTheOtherOneWorks) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        const char* traceName;
        const char* traceText;
    };
    const Case cases[] = {
        {"missing GenTL functions", [](const fs::path& f) { fs::copy_file(BROKEN_PRODUCER_PATH, f); },
         "CQorCamDLL::CreateDrvList", "GenTL Load Entry Error"},
        {"not a shared object", [](const fs::path& f) { std::ofstream(f) << "not a plug-in"; },
         "CQorCamDLL::CreateDrvList", "GenTL Module Not Found"},
        {"interface list unreadable",
         [](const fs::path& f) {
             Install(f, "prefix GigEVision\ninterface if0\nfail_interfaces List Read Error\n");
         },
         "CGenTL::UpdateInterface", "List Read Error"},
        {"interface open failing",
         [](const fs::path& f) {
             Install(f, std::string(kGigEScript) + "fail_open_interface CreateFile Error\n");
         },
         "CGenTL::UpdateInterface", "CreateFile Error"},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseFolder("case" + std::to_string(++number));
        c.make(gige_);
        Install(usb_, UsbScript());
        ForgetLines();
        Load();
        ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
        EXPECT_TRUE(Traced(c.traceName, c.traceText));
        EXPECT_EQ(CameraCount(), 2u);
        Unload();
    }
}

TEST_F(ProducerLoadingTest, BusResetAndPowerUpReachTheSystemCallback) {
    ASSERT_NO_FATAL_FAILURE(LoadBothProducers());
    Recorder& recorder = recorder_; // outlives the library
    SetCallBack(&recorder, &Recorder::Call);

    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    EXPECT_TRUE(recorder.WaitFor(STATUSQORCAM_BUSRESET));
    EXPECT_TRUE(WaitTraced("CInterface::BusEventGet_Thread", "BusReset Event"));

    // A power-up of the first producer is reported as such (and refreshes the list).
    ASSERT_EQ(PushBusEvent(gige_, "if0", 2), 0);
    EXPECT_TRUE(recorder.WaitFor(STATUSQORCAM_POWERUP));
    EXPECT_TRUE(WaitTraced("CQorCamDLL::PowerUpEvent", "PowerWakeUP Detection"));

    // The same wake-up seen by the second producer is only a bus reset.
    const int resets = recorder.Calls(STATUSQORCAM_BUSRESET);
    ASSERT_EQ(PushBusEvent(usb_, "usb0", 2), 0);
    EXPECT_TRUE(recorder.WaitFor(STATUSQORCAM_BUSRESET, resets + 1));
    EXPECT_TRUE(WaitTraced("CInterface::BusEventGet_Thread", "PowerUP Event"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(recorder.Calls(STATUSQORCAM_POWERUP), 1);

    // Without a callback, reports are dropped.
    SetCallBack(nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int before = recorder.Calls(STATUSQORCAM_BUSRESET);
    ForgetLines();
    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    EXPECT_TRUE(WaitTraced("CInterface::BusReset_Thread", "BusReset"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(recorder.Calls(STATUSQORCAM_BUSRESET), before);
    EXPECT_FALSE(Traced("CQorCamDLL::UserCallBack_Thread", "BusReset User Proc Start"));

    // The thread kept running: a callback set again is called again.
    SetCallBack(&recorder, &Recorder::Call);
    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    EXPECT_TRUE(recorder.WaitFor(STATUSQORCAM_BUSRESET, before + 1));
}

// A system callback that stays inside its first call until released.
struct HeldCallback {
    static void Call(STATUS_SYSTEMCODE, void* context) {
        auto* self = static_cast<HeldCallback*>(context);
        std::unique_lock<std::mutex> guard(self->lock);
        if (self->calls++ > 0) return;
        self->changed.notify_all();
        self->changed.wait(guard, [&] { return self->released; });
    }
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0;
    bool released = false;
};

// An application frees its context once SetCallBack has replaced the callback: a call running
// with it must have ended by then. From inside the callback, SetCallBack returns at once.
TEST_F(ProducerLoadingTest, SetCallBackReturnsOnlyOnceTheRunningCallHasEnded) {
    ASSERT_NO_FATAL_FAILURE(LoadBothProducers());
    static HeldCallback held; // outlives the library
    {
        std::lock_guard<std::mutex> guard(held.lock);
        held.calls = 0;
        held.released = false;
    }
    SetCallBack(&held, &HeldCallback::Call);
    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    {
        std::unique_lock<std::mutex> guard(held.lock);
        ASSERT_TRUE(held.changed.wait_for(guard, std::chrono::seconds(10), [&] { return held.calls > 0; }));
    }
    std::atomic<bool> returned{false};
    std::thread replacing([&] {
        SetCallBack(nullptr, nullptr);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned) << "SetCallBack returned while the replaced callback was still running";
    {
        std::lock_guard<std::mutex> guard(held.lock);
        held.released = true;
        held.changed.notify_all();
    }
    replacing.join();
    EXPECT_TRUE(returned);

    // The callback replacing itself from inside its call.
    using SetCallBackFn = decltype(&QORCAM_SetCallBack);
    static SetCallBackFn setFromInside = nullptr;
    static Recorder inside;
    setFromInside = SetCallBack;
    SetCallBack(&inside, [](STATUS_SYSTEMCODE code, void* context) {
        setFromInside(nullptr, nullptr);
        Recorder::Call(code, context);
    });
    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    EXPECT_TRUE(inside.WaitFor(STATUSQORCAM_BUSRESET));
}

// The system callback may free the library: the callback thread then ends without touching it
// again (under the sanitizers, a use of the freed library object shows here).
TEST_F(ProducerLoadingTest, FreeLibraryFromInsideTheSystemCallbackEndsItsThread) {
    ASSERT_NO_FATAL_FAILURE(LoadBothProducers());
    static decltype(&QORCAM_FreeLibrary) freeLibrary = nullptr;
    freeLibrary = Fn<decltype(&QORCAM_FreeLibrary)>("QORCAM_FreeLibrary");
    ASSERT_NE(freeLibrary, nullptr);
    static Recorder freed; // outlives the library
    SetCallBack(&freed, [](STATUS_SYSTEMCODE code, void* context) {
        freeLibrary();
        Recorder::Call(code, context);
    });
    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    EXPECT_TRUE(freed.WaitFor(STATUSQORCAM_BUSRESET));
    EXPECT_TRUE(WaitTraced("CQorCamDLL::UserCallBack_Thread", "End  "));
    // The thread is gone before the library is unloaded.
    auto callbackThreads = [] {
        int n = 0;
        std::error_code ec;
        for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
            std::string name;
            std::ifstream(task.path() / "comm") >> name;
            n += name == "QorCamCallback";
        }
        return n;
    };
    for (int i = 0; i < 2000 && callbackThreads() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(callbackThreads(), 0);
    // The library object is gone for the rest of the process: lists fail without an error code.
    CameraList list(0);
    EXPECT_FALSE(GetList(list.List()));
    EXPECT_EQ(GetLastError(), STATUSQORCAM_COMPLETE);
}

TEST_F(ProducerLoadingTest, TheMonitorsEventRefreshesTheUsbDeviceList) {
    Install(usb_, UsbScript());
    Load();
    ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    Recorder& recorder = recorder_; // outlives the library
    SetCallBack(&recorder, &Recorder::Call);
    auto add = Hook<int (*)(const char*, std::uint64_t, const char*, const char*, const char*, std::uint32_t,
                            std::uint32_t)>(usb_, "ScriptedGenTL_AddDevice");
    ASSERT_NE(add, nullptr);
    ASSERT_EQ(add("usb0", 14, "VendorU", "ModelU3", "userC", 2, 1024), 0);
    const int refreshes = UpdateCount(usb_, "usb0");

    qorcam::os::NamedEvent monitor(std::string(qorcam::shared::kUsbEventPrefix) +
                                       std::to_string(qorcam::os::Process::CurrentId()),
                                   qorcam::os::ResetMode::Auto);
    ASSERT_TRUE(monitor.IsValid());
    monitor.Set();
    EXPECT_TRUE(recorder.WaitFor(STATUSQORCAM_BUSRESET));
    EXPECT_GT(UpdateCount(usb_, "usb0"), refreshes);
    EXPECT_TRUE(WaitTraced("CInterface::BusReset_Thread", "BusReset"));
    EXPECT_EQ(CameraCount(), 3u);
}

TEST_F(ProducerLoadingTest, ReDetectionLoadsTheMissingProducerAndKeepsTheLoadedOne) {
    Install(gige_, kGigEScript);
    Load();
    ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    EXPECT_EQ(CameraCount(), 2u);
    const int refreshes = UpdateCount(gige_, "if1");
    ASSERT_GT(refreshes, 0);

    Install(usb_, UsbScript());
    ReDetection();
    EXPECT_EQ(GetLastError(), STATUSQORCAM_COMPLETE);
    EXPECT_EQ(CameraCount(), 4u);
    // The GigE interface is the same object: its refresh count went on.
    EXPECT_GT(UpdateCount(gige_, "if1"), refreshes);
    EXPECT_TRUE(Traced("QORCAM_ReDetection", "End  "));

    // An interface the producer no longer lists goes, with its threads.
    auto remove = Hook<int (*)(const char*)>(gige_, "ScriptedGenTL_RemoveInterface");
    ASSERT_NE(remove, nullptr);
    ASSERT_EQ(remove("if1"), 0);
    ForgetLines();
    ReDetection();
    EXPECT_EQ(UpdateCount(gige_, "if1"), -1) << "the interface is still open";
    EXPECT_TRUE(Traced("CInterface::BusEventGet_Thread", "End  "));
    EXPECT_EQ(CameraCount(), 2u);
    CloseAll();
    EXPECT_TRUE(Traced("QORCAM_CloseAll", "End  "));
}

TEST_F(ProducerLoadingTest, UnloadingWithRunningInterfacesStopsTheirThreads) {
    ASSERT_NO_FATAL_FAILURE(LoadBothProducers());
    Recorder& recorder = recorder_; // outlives the library
    SetCallBack(&recorder, &Recorder::Call);
    ASSERT_EQ(PushBusEvent(gige_, "if1", 1), 0);
    Unload();
    int ended = 0;
    for (const auto& line : Traced()) {
        if (line.find("CInterface::BusEventGet_Thread") != std::string::npos &&
            line.find("End  ") != std::string::npos)
            ++ended;
    }
    EXPECT_EQ(ended, 3); // one per interface
    EXPECT_TRUE(Traced("CQorCamDLL::UserCallBack_Thread", "End  "));
    EXPECT_TRUE(Traced("DLL DETACH", ""));
}

TEST_F(ProducerLoadingTest, AProcessThatEndsWithProducersLoadedExitsCleanly) {
    Install(gige_, kGigEScript);
    Install(usb_, UsbScript());
    for (const char* mode : {"", "free"}) {
        SCOPED_TRACE(mode);
        ForgetLines();
        std::vector<std::string> args{"producers"};
        if (*mode) args.push_back(mode);
        auto client = qorcam::os::Process::Spawn(QORCAM_LIBRARY_CLIENT, args, {{"LD_LIBRARY_PATH", folder_}});
        ASSERT_TRUE(client.has_value());
        const auto code = client->Wait(20000);
        ASSERT_TRUE(code.has_value()) << "the process did not end";
        EXPECT_EQ(*code, 0);
        EXPECT_TRUE(Traced("CInterface::BusReset_Thread", "End  "));
        EXPECT_TRUE(Traced("DLL DETACH", ""));
    }
}

TEST_F(ProducerLoadingTest, TheGigEProducerLoadsButItsInterfaceFailsWithoutTheGigEService) {
#ifndef REAL_GIGE_PRODUCER_PATH
    GTEST_SKIP() << "the GigE producer is not part of this build";
#else
    const fs::path real = REAL_GIGE_PRODUCER_PATH;
    if (!fs::exists(real)) GTEST_SKIP() << "the GigE producer is not built";
    // The library as built, with the producer beside it.
    ASSERT_EQ(fs::path(QORCAM_LIBRARY_PATH).parent_path(), real.parent_path());
    Load(QORCAM_LIBRARY_PATH);
    ASSERT_TRUE(SetStructVersion(LIBRARY_STRUCT_VERSION));
    EXPECT_TRUE(Traced("CGenTL::UpdateInterface", "CreateFile Error"));
    EXPECT_EQ(CameraCount(), 0u);
    ReDetection();
    EXPECT_EQ(CameraCount(), 0u);
#endif
}

} // namespace
