// ChildFrame: what the panes and the camera-list thread know of one camera window.
#pragma once

#include "QorCam.h"

#include "genapi/Interfaces.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace qorcam::viewer {

/// The state of one camera window that the feature grid, the main frame and
/// the camera-list thread share. The window itself (image view, streaming)
/// builds on it. Guarantees: the grid flag may be read from any thread.
class CChildFrame {
public:
    HCAMERA hCamera = nullptr;
    uint64_t cameraId = 0;
    uint32_t cameraType = 0;
    std::string title;
    uint32_t running = 0;
    uint32_t recover = 0;
    uint32_t connected = 0;
    /// Owned by the library; valid while the camera is open.
    genapi::INodeMap* nodeMap = nullptr;
    /// 1 while the feature grid may read this window's features.
    std::atomic<uint8_t> gridFlag{0};
    /// Group name to 0 (collapsed) or non-zero (expanded), per window.
    std::map<std::string, uint32_t> expansionStates;
};

} // namespace qorcam::viewer
