// FramePaths: where the main frame finds the help and the configuration tools.
#pragma once

#include <string>
#include <vector>

namespace qorcam::viewer {

/// The folder named by QORCAM_APILIB (at most 260 characters) with trailing
/// 'A', 'P' and 'I' characters removed, followed by tail: an API folder
/// "/opt/qorcam/API" gives "/opt/qorcam/" + tail. No separator is added.
std::string ApiLibSibling(const std::string& apiLib, const std::string& tail);
/// The same for the value of QORCAM_APILIB (empty when unset).
std::string HelpFilePath();
std::string ToolPath();

/// The viewer's help page as this system installs it: share/qorcam/help
/// beside the program folder (the build tree lays it out the same way).
std::string InstalledHelpPage(const std::string& programFolder);

/// What Help opens: the help file beside the API folder when it exists, else
/// the installed help page when it exists; none when neither does.
struct HelpTarget {
    enum Kind { None, ApiLibFile, InstalledPage } kind = None;
    std::string path;
    /// The places looked at, for the message when there is none.
    std::vector<std::string> looked;
};
HelpTarget FindHelp(const std::string& apiLibHelp, const std::string& installedPage);

/// A configuration program Config can start.
struct ConfigTool {
    std::string path;
    std::string label; ///< what it is for, as the choice shows it
};
/// The candidates that exist as executable files, in the order given.
std::vector<ConfigTool> ExistingTools(const std::vector<ConfigTool>& candidates);
/// Config's candidates: the tool beside the API folder, then our GigE
/// tools where the installed tree (or the build tree) has them.
std::vector<ConfigTool> ConfigToolCandidates();
/// The message when none of them exists.
std::string NoConfigToolText(const std::vector<ConfigTool>& candidates);

} // namespace qorcam::viewer
