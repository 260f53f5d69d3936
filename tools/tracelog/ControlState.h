// ControlState: which of the dialog's setting controls are enabled for given settings.
#pragma once

#include "LogSettings.h"

#include <string>

namespace qorcam::tracelog {

/// The enabled state of the dialog's controls while idle, and the folder the
/// log files go to. Kept apart from the widgets so the rules are tested
/// without a display.
struct ControlState {
    bool outputRadios = false; // "Streamiing" and "File"
    bool url = false;
    bool fileNameMode = false;
    bool maxSize = false;
    bool cache = false;
    bool pathRadios = false; // "Default" and "Custom"
    bool browse = false;
    bool start = false;

    bool operator==(const ControlState&) const = default;

    /// The rules: nothing but the levels while both levels are off; the URL
    /// for streaming; the file controls for file output, Browse only with a
    /// custom folder.
    static ControlState For(const LogSettings& settings);
};

/// The folder the log files of a Start go to: the custom folder or the default one.
inline std::string FolderInUse(const LogSettings& settings, const std::string& defaultFolder) {
    return settings.pathMode == PathMode::Custom ? settings.path : defaultFolder;
}

} // namespace qorcam::tracelog
