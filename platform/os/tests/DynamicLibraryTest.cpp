// Tests of run-time loading of shared objects.
#include "os/DynamicLibrary.h"
#include "os/Paths.h"

#include <gtest/gtest.h>

namespace qorcam::os {
namespace {

TEST(DynamicLibrary, LoadsByPathAndByPlainNameAndResolvesFunctions) {
    for (const char* name : {OS_TEST_MODULE_PATH, OS_TEST_MODULE_NAME}) {
        DynamicLibrary lib;
        ASSERT_TRUE(lib.Open(name)) << name << ": " << lib.ErrorText();
        auto answer = lib.Function<int (*)()>("qorcam_os_test_answer");
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(lib.Symbol("no_such_symbol"), nullptr);
        EXPECT_FALSE(lib.ErrorText().empty());
    }
}

TEST(DynamicLibrary, FailuresKeepTheLoadersMessage) {
    DynamicLibrary lib;
    EXPECT_FALSE(lib.Open("qorcam_no_such_library.so"));
    EXPECT_NE(lib.ErrorText().find("qorcam_no_such_library.so"), std::string::npos) << lib.ErrorText();
    EXPECT_FALSE(lib.Open(""));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_EQ(lib.Symbol("qorcam_os_test_answer"), nullptr);
}

TEST(DynamicLibrary, ProgramFilesIsTheFolderOfOurBinaries) {
    // The test module is built next to this program.
    const std::string module = OS_TEST_MODULE_PATH;
    EXPECT_EQ(Paths::ProgramFiles(), module.substr(0, module.rfind('/')));
}

} // namespace
} // namespace qorcam::os
