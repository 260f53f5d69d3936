// OutputWnd: the lines of the information output pane: camera or record, image, selected feature.
#pragma once

#include "ChildFrame.h"

#include "genapi/Interfaces.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::viewer {

class CQorViewerApp;

/// What a playback window tells about its record.
struct RecordView {
    std::string cameraName;
    std::string recordTime;
    std::string folder;
    uint32_t savedCount = 0;  ///< frames the record holds
    uint32_t loadedCount = 0; ///< frames read into memory so far
    uint32_t frameIndex = 0;  ///< the frame shown (or read last while loading)
    uint32_t frameCount = 0;  ///< frames to read, then frames read
    bool loading = false;
};

/// "    <label> : <frame> / <count>", both as wide as the count needs (2 to 5 digits).
std::string ProgressLine(const std::string& label, uint32_t frame, uint32_t count);
/// The interface line's text of a node: its interface and, for writable
/// integers and floats, their limits as read through the guarded getters.
std::string InterfaceText(genapi::INode* node);
std::string AccessModeText(genapi::EAccessMode mode);
std::string VisibilityText(genapi::EVisibility visibility);

/// The three lists of the pane. Each is rewritten whole when its subject
/// changes; a list whose subject is gone (no active window of the frame)
/// stays empty. Runs on the UI thread.
class COutputWnd {
public:
    enum Tab { kCamera = 0, kFeature = 1, kImage = 2 };

    explicit COutputWnd(CQorViewerApp& app) : app_(app) {}

    /// Rewrites the camera list and empties the other two.
    void ShowCameraInfo();
    /// Rewrites the image list.
    void ShowImageInfo();
    /// WM_OUTPUT_NODE_INFO: rewrites the feature list for node (camera mode only).
    void ShowNodeInfo(genapi::INode* node);

    const std::vector<std::string>& Lines(Tab tab) const { return lines_[tab]; }

private:
    /// The application's active window while it still belongs to the frame.
    CChildFrame* ActiveWindow();
    /// The record a playback window shows; false for a camera window.
    static bool RecordOf(const CChildFrame& window, RecordView& record);

    CQorViewerApp& app_;
    std::vector<std::string> lines_[3];
};

} // namespace qorcam::viewer
