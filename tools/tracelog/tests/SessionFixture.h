// SessionFixture: a log session over a private root, and the records of the files it writes.
#pragma once

#include "LogSession.h"
#include "RingLogFile.h"
#include "TraceArea.h"
#include "TracelogTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorcam::tracelog::test {

/// The records of a ring file's current lap (between header and end
/// marker), without their line ends.
inline std::vector<std::string> RingRecords(const std::filesystem::path& file) {
    const std::string content = ReadFile(file);
    std::vector<std::string> lines;
    if (content.size() < kLogFileHeaderSize) return lines;
    const std::size_t end = content.find(kEndMarker, kLogFileHeaderSize);
    for (std::size_t at = kLogFileHeaderSize; at < end;) {
        const std::size_t eol = content.find("\r\n", at);
        lines.push_back(content.substr(at, eol - at));
        at = eol + 2;
    }
    return lines;
}

/// A session whose files go to <root>/logs, with its messages collected.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(area_.Map()); }

    SessionOptions Options(std::uint32_t sysLevel, std::uint32_t dllLevel) const {
        SessionOptions o;
        o.sysLevel = sysLevel;
        o.dllLevel = dllLevel;
        o.createMode = CreateMode::Fixation;
        o.folder = (root_.Path() / "logs").string();
        o.identity = {1, 1, 6, "Dec 10 2026"};
        return o;
    }
    std::filesystem::path File(const char* name) const { return root_.Path() / "logs" / name; }

    ScopedRoot root_;
    CTraceArea area_;
    std::vector<std::string> messages_;
    CLogSession session_{area_, [this](const std::string& m) { messages_.push_back(m); }};
};

} // namespace qorcam::tracelog::test
