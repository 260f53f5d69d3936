// FramePaths: where the main frame finds the help and the configuration tools.
#include "FramePaths.h"

#include "os/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

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

bool IsFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
} // namespace

std::string HelpFilePath() {
    return FromEnvironment("Help/QorCamViewer.chm");
}
std::string ToolPath() {
    return FromEnvironment("Tool/QorCamPrefMain");
}

std::string InstalledHelpPage(const std::string& programFolder) {
    const std::size_t slash = programFolder.rfind('/');
    const std::string prefix = slash == std::string::npos ? std::string(".") : programFolder.substr(0, slash);
    return prefix + "/share/qorcam/help/QorCamViewer.html";
}

HelpTarget FindHelp(const std::string& apiLibHelp, const std::string& installedPage) {
    HelpTarget target;
    if (IsFile(apiLibHelp)) {
        target.kind = HelpTarget::ApiLibFile;
        target.path = apiLibHelp;
    } else if (IsFile(installedPage)) {
        target.kind = HelpTarget::InstalledPage;
        target.path = installedPage;
    }
    target.looked = {apiLibHelp, installedPage};
    return target;
}

std::vector<ConfigTool> ExistingTools(const std::vector<ConfigTool>& candidates) {
    std::vector<ConfigTool> found;
    for (const ConfigTool& tool : candidates)
        if (IsFile(tool.path) && ::access(tool.path.c_str(), X_OK) == 0) found.push_back(tool);
    return found;
}

std::vector<ConfigTool> ConfigToolCandidates() {
    return {{ToolPath(), "Camera preferences"},
            {os::Paths::Program("QorGigECPref"), "GigE cameras: find them and set their addresses (QorGigECPref)"},
            {os::Paths::Program("QorGigEPref"),
             "GigE network service: the adapters it serves (QorGigEPref)"}};
}

std::string NoConfigToolText(const std::vector<ConfigTool>& candidates) {
    std::string text = "No configuration tool is installed. Looked for:";
    for (const ConfigTool& tool : candidates)
        text += "\n" + tool.path;
    return text;
}

} // namespace qorcam::viewer
