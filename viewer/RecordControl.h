// RecordControl: the record form's hold on the camera windows' rings and playback frames.
#pragma once

#include "ControlForms.h"

namespace qorcam::viewer {

class CMainFrame;

/// The record form's calls carried to the windows of the main frame: the
/// rings, triggers and writers of camera windows in record mode and the
/// frames and step timer of playback windows. A window that no longer
/// belongs to the frame is left alone and reads as idle.
class CRecordControl : public IRecordControl {
public:
    explicit CRecordControl(CMainFrame& main) : main_(main) {}

    RecordStatus Status(CChildFrame* child) override;
    void Freeze(CChildFrame* child) override;
    void Trigger(CChildFrame* child, RecordTrigger where) override;
    void StartRecordWriter(CChildFrame* child) override;
    bool ShowFrame(CChildFrame* child, uint32_t index) override;
    void RestartPlayback(CChildFrame* child, unsigned ms) override;
    uint32_t UpdateRecordableCount() override;
    void SetRing(CChildFrame* child, bool on) override;

private:
    /// child while it is a window of the frame, else null.
    CChildFrame* Window(CChildFrame* child);

    CMainFrame& main_;
};

} // namespace qorcam::viewer
