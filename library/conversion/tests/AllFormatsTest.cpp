// Every accepted camera pixel format, through its classification, in every
// output mode, against the model.
#include "ClassifyPixelFormat.h"
#include "TestSupport.h"

namespace qorcam::conversion::test {
namespace {

TEST(AllFormats, EveryAcceptedCodeConvertsInEveryMode) {
    std::mt19937 rng(30);
    const auto codes = AcceptedCodes();
    ASSERT_EQ(codes.size(), 73u);
    for (uint32_t code : codes)
        for (uint32_t dib : {Dib32, Dib24})
            for (uint32_t store = 0; store < 4; ++store) {
                Case c;
                uint32_t bits = 0;
                c.id = ClassifyPixelFormat(code, &c.phase, &bits);
                c.width = 37, c.height = 5, c.storeMode = store, c.dibMode = dib, c.endian = store % 2;
                c.shift = static_cast<int32_t>(AutoShiftFor(c.id, bits));
                c.revision = store == 1;
                ASSERT_TRUE(MatchesReference(c, rng)) << std::hex << code;
            }
}

} // namespace
} // namespace qorcam::conversion::test
