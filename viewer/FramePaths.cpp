// FramePaths: where the main frame finds the help file and the preference tool.
#include "FramePaths.h"

#include <cstdlib>

namespace qorcam::viewer {

std::string ApiLibSibling(const std::string& apiLib, const std::string& tail) {
    std::string base = apiLib.substr(0, 260);
    while (!base.empty() && (base.back() == 'A' || base.back() == 'P' || base.back() == 'I'))
        base.pop_back();
    return base + tail;
}

namespace {
std::string FromEnvironment(const char* tail) {
    const char* v = std::getenv("QORCAM_APILIB");
    return ApiLibSibling(v ? v : "", tail);
}
} // namespace

std::string HelpFilePath() {
    return FromEnvironment("Help/QorCamViewer.chm");
}
std::string ToolPath() {
    return FromEnvironment("Tool/QorCamPrefMain");
}

} // namespace qorcam::viewer
