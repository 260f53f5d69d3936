// PropertyFile: a camera's features saved to an INI file and loaded back into a camera.
#pragma once

#include "ChildFrame.h"

#include "genapi/Interfaces.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace qorcam::viewer {

/// The largest property file that is read; larger files are refused whole.
inline constexpr size_t kMaxPropertyFileSize = 16 * 1024 * 1024;

/// The file holds a section "CameraProperty : File Info" (keys "Model Name"
/// and "Camera Name") and one section per feature, "<category> : <feature>"
/// by display names ("Root" for the features listed directly under the
/// root), with one key named by the feature's kind ("Integer", "Boolean",
/// "Float", "String", "Register", "Enumeration") and its value as text.
struct PropertyFileResult {
    bool ok = false;       ///< the file was written or read, and the camera's features walked
    unsigned features = 0; ///< feature sections written, or features set
};

/// Writes the readable features of map (from its category "Root") into a
/// new file at path, replacing any file there. The values are read through
/// the guarded getters, which answer only for the active camera window: map
/// must be its node map. Not ok when there is no map or "Root", or the file
/// can't be written.
PropertyFileResult SaveCameraProperties(genapi::INodeMap* map, const std::string& path,
                                        const std::string& modelName, const std::string& cameraName);

/// Sets the writable features of map from the file at path. The file is
/// untrusted: a feature whose section or key is missing, whose text does not
/// read as a value of the feature, or whose value is out of range, is left
/// as it is, and loading goes on with the next. pixelFormatSet runs after
/// "PixelFormat" was set. Not ok when there is no map or "Root", or the
/// file is missing, unreadable or larger than kMaxPropertyFileSize.
PropertyFileResult LoadCameraProperties(genapi::INodeMap* map, const std::string& path,
                                        const std::function<void()>& pixelFormatSet = {});

/// What the property file command asks of the camera window and the main frame.
class IPropertyFileHost {
public:
    virtual ~IPropertyFileHost() = default;
    /// The file dialog (filter "INI File|*.ini", extension "ini"): a save
    /// dialog that asks before overwriting, or an open dialog for an existing
    /// file, starting at defaultName. Empty when cancelled.
    virtual std::string AskPropertyFilePath(bool save, const std::string& defaultName) = 0;
    /// WM_CHILD_STOP and WM_CHILD_START, sent to the window (the start is
    /// a restart: the user asked for none).
    virtual void StopChild(CChildFrame* child) = 0;
    virtual void StartChild(CChildFrame* child, CChildFrame::StartReason reason) = 0;
    /// The mode-set form's buttons follow the windows' states.
    virtual void RefreshModeForm() = 0;
    /// WM_FRAME_GRID_RESET to the main frame, posted.
    virtual void PostGridReset(int wParam) = 0;
    /// WM_CHILD_PIXELFORMAT_CHECK to the window, posted.
    virtual void PostPixelFormatCheck(CChildFrame* child) = 0;
};

/// "CameraProperty.<model>.ini"; characters that would leave the folder are replaced.
std::string DefaultPropertyFileName(const std::string& modelName);

/// A camera window's save or load: a running window is stopped first and
/// started again afterwards; a load into a stopped window rebuilds the
/// feature grid (WM_FRAME_GRID_RESET 4).
PropertyFileResult SavePropertyFile(CChildFrame& child, const std::string& path, IPropertyFileHost& host);
PropertyFileResult LoadPropertyFile(CChildFrame& child, const std::string& path, IPropertyFileHost& host);

/// WM_CHILD_PROPERTY_FILE: asks for the file, then saves (save) or loads.
/// Nothing when the dialog is cancelled.
std::optional<PropertyFileResult> OnPropertyFile(CChildFrame& child, bool save, IPropertyFileHost& host);

} // namespace qorcam::viewer
