// FramePaths: where the main frame finds the help file and the preference tool.
#pragma once

#include <string>

namespace qorcam::viewer {

/// The folder named by QORCAM_APILIB (at most 260 characters) with trailing
/// 'A', 'P' and 'I' characters removed, followed by tail: an API folder
/// "/opt/qorcam/API" gives "/opt/qorcam/" + tail. No separator is added.
std::string ApiLibSibling(const std::string& apiLib, const std::string& tail);
/// The same for the value of QORCAM_APILIB (empty when unset).
std::string HelpFilePath();
std::string ToolPath();

} // namespace qorcam::viewer
