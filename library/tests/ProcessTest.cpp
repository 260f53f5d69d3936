// ProcessTest: the built library in real processes: trace lines, the shared trace area and process-id table,
// exclusion, the monitor start and the sample.
#include "TempRoot.h"
#include "TraceReader.h"

#include "QorCamShared.h"
#include "os/Process.h"
#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using qorcam::os::Process;

namespace {

using Lines = std::vector<std::string>;

Process Client(const std::vector<std::string>& args) {
    auto p = Process::Spawn(QORCAM_LIBRARY_CLIENT, args);
    EXPECT_TRUE(p.has_value());
    return std::move(*p);
}

// Drains the area until pred holds for everything read so far, or 10 s pass.
template <class Pred> bool DrainUntil(qorcam::testing::TraceReader& reader, Lines& all, Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        for (auto& l : reader.Drain())
            all.push_back(std::move(l));
        if (pred(all)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool Contains(const Lines& lines, const std::string& text) {
    for (const auto& l : lines) {
        if (l.find(text) != std::string::npos) return true;
    }
    return false;
}

// The lines of exports and of attach and detach: without the class lines of
// the library object's callback thread, whose start races with the exports.
Lines WithoutCallbackThread(Lines lines) {
    std::erase_if(lines, [](const std::string& l) {
        return l.find("CQorCamDLL::UserCallBack_Thread") != std::string::npos;
    });
    return lines;
}

std::string Pid(const Process& p) {
    return "ProcessID=" + std::to_string(p.Id()) + "\n";
}

class LibraryProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(reader_.IsValid()); }

    qorcam::testing::TempRoot root_;
    qorcam::testing::TraceReader reader_;
};

TEST_F(LibraryProcessTest, EveryExportCallWritesStartAndEndLinesInTheExactFormat) {
    reader_.SetLevel(1);
    Process client = Client({"trace", "1"});
    ASSERT_EQ(client.Wait(10000), 0);
    const Lines lines = WithoutCallbackThread(reader_.Drain());
    ASSERT_EQ(lines.size(), 6u);

    const std::string stamp = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}'\d{3}  )";
    const std::string pid = std::to_string(client.Id());
    auto exportLine = [&](const char* name, const char* what) {
        char column[64];
        std::snprintf(column, sizeof column, "%-28s %s", name, what);
        return std::regex(stamp + column + " ThreadID=\\d+, ProcessID=" + pid + "\n");
    };
    const std::regex expected[] = {
        std::regex(stamp + "DLL ATTACH ProcessID=" + pid + "\n"),
        exportLine("QORCAMFILTER_Alloc", "Start"),
        exportLine("QORCAMFILTER_Alloc", "End  "),
        exportLine("QORCAMFILTER_Purge", "Start"),
        exportLine("QORCAMFILTER_Purge", "End  "),
        std::regex(stamp + "DLL DETACH ProcessID=" + pid + "\n"),
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], expected[i])) << "line " << i << ": " << lines[i];
    }
}

TEST_F(LibraryProcessTest, LevelZeroWritesNothing) {
    reader_.SetLevel(0);
    Process client = Client({"trace", "3"});
    ASSERT_EQ(client.Wait(10000), 0);
    EXPECT_EQ(reader_.Area().count, 0u);
}

TEST_F(LibraryProcessTest, TwoProcessesShareOneTraceAreaAndOneProcessTable) {
    reader_.SetLevel(1);
    qorcam::os::SharedMemory tableArea(qorcam::shared::kProcessIdTableName,
                                       sizeof(qorcam::shared::ProcessIdTable));
    ASSERT_TRUE(tableArea.IsValid());
    const auto* table = static_cast<const qorcam::shared::ProcessIdTable*>(tableArea.Data());

    Process a = Client({"hold"});
    Process b = Client({"hold"});
    Lines lines;
    ASSERT_TRUE(DrainUntil(reader_, lines, [&](const Lines& l) {
        return Contains(l, "DLL ATTACH " + Pid(a)) && Contains(l, "DLL ATTACH " + Pid(b));
    }));
    const auto start = std::chrono::steady_clock::now();
    while (table->count < 2 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(table->count, 2u);
    ASSERT_TRUE(root_.WaitReady(a.Id()));
    ASSERT_TRUE(root_.WaitReady(b.Id()));
    EXPECT_TRUE((table->id[0] == a.Id() && table->id[1] == b.Id()) ||
                (table->id[0] == b.Id() && table->id[1] == a.Id()));

    a.Kill(SIGTERM);
    ASSERT_EQ(a.Wait(10000), 0);
    EXPECT_EQ(table->count, 1u);
    EXPECT_EQ(table->id[0], b.Id()) << "the remaining entry moved down";
    b.Kill(SIGTERM);
    ASSERT_EQ(b.Wait(10000), 0);
    EXPECT_EQ(table->count, 0u);
    EXPECT_TRUE(DrainUntil(reader_, lines, [&](const Lines& l) {
        return Contains(l, "DLL DETACH " + Pid(a)) && Contains(l, "DLL DETACH " + Pid(b));
    }));
}

TEST_F(LibraryProcessTest, KillingAWriterMidTraceLeavesTheOthersWorking) {
    reader_.SetLevel(1);
    // Several rounds make it likely that one kill lands while the victim holds
    // the log mutex; whatever the moment, the next writer must get through.
    for (int round = 0; round < 5; ++round) {
        Process victim = Client({"loop"});
        Lines lines;
        ASSERT_TRUE(DrainUntil(reader_, lines, [&](const Lines& l) { return l.size() > 50u; }));
        victim.Kill(SIGKILL);
        victim.Wait(10000);
        // The victim may have left a full area behind; the reader empties it
        // as the log tool would, then the next writer must find room.
        reader_.Drain();

        Process next = Client({"trace", "2"});
        ASSERT_EQ(next.Wait(10000), 0);
        lines.clear();
        EXPECT_TRUE(DrainUntil(reader_, lines,
                               [&](const Lines& l) { return Contains(l, "DLL DETACH " + Pid(next)); }))
            << "round " << round;
    }
}

TEST_F(LibraryProcessTest, ExcludedProcessIsNotTracedAndLearnsTheBuildDate) {
    reader_.SetLevel(2);
    FILE* out = popen((std::string(QORCAM_LIBRARY_CLIENT) + " exclude 3; echo exit=$?").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[256] = {};
    std::string text;
    while (std::fgets(buffer, sizeof buffer, out) != nullptr)
        text += buffer;
    pclose(out);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(^[A-Z][a-z]{2} [ 1-3]\d \d{4}\nexit=0\n$)"))) << text;

    const Lines lines = WithoutCallbackThread(reader_.Drain());
    ASSERT_EQ(lines.size(), 1u) << "only the attach line, written before the exclusion";
    EXPECT_NE(lines[0].find("DLL ATTACH"), std::string::npos);

    // The excluded id is one word for all processes: others still trace.
    Process other = Client({"trace", "1"});
    ASSERT_EQ(other.Wait(10000), 0);
    EXPECT_EQ(WithoutCallbackThread(reader_.Drain()).size(), 6u);
}

TEST_F(LibraryProcessTest, AttachStartsTheProgramNamedByMonitorPath) {
    const std::string marker = root_.Path() + "/monitor-started";
    const std::string script = root_.Path() + "/fake-monitor.sh";
    {
        std::ofstream f(script);
        f << "#!/bin/sh\ntouch '" << marker << "'\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    qorcam::os::SettingsStore machine(qorcam::os::SettingsStore::Hive::Machine);
    ASSERT_TRUE(machine.SetString(qorcam::shared::kMonitorKey, qorcam::shared::kMonitorPathValue, script));

    Process client = Client({"trace", "0"});
    ASSERT_EQ(client.Wait(10000), 0);
    const auto start = std::chrono::steady_clock::now();
    while (!std::filesystem::exists(marker) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST_F(LibraryProcessTest, SampleLoadsTheLibraryAndPrintsItsTraceLines) {
    FILE* out = popen((std::string(QORCAM_SAMPLE) + " --library 2>&1; echo exit=$?").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[1100];
    std::string text;
    while (std::fgets(buffer, sizeof buffer, out) != nullptr)
        text += buffer;
    pclose(out);
    EXPECT_NE(text.find("DLL ATTACH"), std::string::npos) << text;
    EXPECT_NE(text.find("exit=0"), std::string::npos) << text;
    if (text.find("camera network up") != std::string::npos) {
        // Where it can build its camera network (root, namespaces) the sample runs its GigE demo instead.
        EXPECT_NE(text.find("images stopped, stream resources released, camera closed"), std::string::npos)
            << text;
        EXPECT_NE(text.find("QORCAM_ImageStart            End   HCAMERA=0x"), std::string::npos) << text;
        return;
    }
    EXPECT_NE(text.find("library revision 10106"), std::string::npos) << text;
    EXPECT_NE(text.find("QORCAMFILTER_OutPut          Start"), std::string::npos) << text;
    EXPECT_NE(text.find("QORCAMFILTER_Flush           Error=2,"), std::string::npos) << text;
}

} // namespace
