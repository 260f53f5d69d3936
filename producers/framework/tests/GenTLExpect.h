// Expectations shared by the producer tests.
#pragma once

#include "GenTLConsumer.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace qorcam::testing {

// An export's result together with the last-error code and text it left.
inline void ExpectLastError(const GenTLConsumer& gc, GC_ERROR result, GC_ERROR code,
                            const std::string& text) {
    EXPECT_EQ(result, code);
    auto [lastCode, lastText] = gc.LastError();
    EXPECT_EQ(lastCode, code);
    EXPECT_EQ(lastText, text);
}

// The same STRING answers from GCGetInfo and from TLGetInfo on `tl`.
inline void ExpectLibraryInfo(const GenTLConsumer& gc, TL_HANDLE tl,
                              const std::vector<std::pair<TL_INFO_CMD, std::string>>& expected) {
    for (const auto& [cmd, value] : expected) {
        SCOPED_TRACE(cmd);
        EXPECT_EQ(
            gc.InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) { return gc.GCGetInfo(cmd, t, b, s); }),
            value);
        EXPECT_EQ(
            gc.InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) { return gc.TLGetInfo(tl, cmd, t, b, s); }),
            value);
    }
}

} // namespace qorcam::testing
