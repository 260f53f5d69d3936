// The camera library loaded at run time the way the viewer loads it.
#include "CameraApi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace qorcam::viewer;

TEST(CameraLibrary, LoadsFromTheApiFolderAndAnswersEveryCall) {
    char pattern[] = "/tmp/qorcam-viewer-lib-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    setenv("QORCAM_ROOT", root.c_str(), 1);
    setenv("QORCAM_APILIB", QORCAM_LIBRARY_DIR, 1);
    EXPECT_EQ(CameraLibrary::PathFromEnvironment(), std::string(QORCAM_LIBRARY_DIR) + "/libQorCam.so");
    {
        CameraLibrary library;
        ASSERT_TRUE(library.Load()) << library.ErrorText();
        EXPECT_EQ(library.LoadedFrom(), CameraLibrary::PathFromEnvironment());
        EXPECT_TRUE(library.SetStructVersion(LIBRARY_STRUCT_VERSION));
        QORCAM_LIST list{};
        EXPECT_TRUE(library.GetList(&list)); // no producer here: no camera
        EXPECT_EQ(list.Count, 0u);
        // A bad handle fails whether or not the library offers the export yet.
        BOOL connected = TRUE;
        EXPECT_FALSE(library.Camera(nullptr, &connected));
        const STATUS_RTNCODE error = library.GetLastError();
        EXPECT_TRUE(error == STATUSQORCAM_PARAMETER_ERROR || error == STATUSQORCAM_UNDEF_ERROR) << error;
    }
    // A folder without the library falls back to the plain name.
    setenv("QORCAM_APILIB", root.c_str(), 1);
    CameraLibrary fallback;
    if (fallback.Load()) {
        EXPECT_EQ(fallback.LoadedFrom(), "libQorCam.so");
    }
    unsetenv("QORCAM_APILIB");
    unsetenv("QORCAM_ROOT");
    std::filesystem::remove_all(root);
}
