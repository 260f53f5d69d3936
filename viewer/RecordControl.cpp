// RecordControl: the record form's hold on the camera windows' rings and playback frames.
#include "RecordControl.h"

#include "CameraWindow.h"
#include "MainFrame.h"

namespace qorcam::viewer {

CChildFrame* CRecordControl::Window(CChildFrame* child) {
    return main_.IsChildOfFrame(child) ? child : nullptr;
}

RecordStatus CRecordControl::Status(CChildFrame* child) {
    RecordStatus s;
    CChildFrame* w = Window(child);
    if (!w) return s;
    s.written = w->written;
    s.collected = w->collected;
    s.saved = w->saved;
    s.hasRing = w->recordMode && w->ringCount > 0;
    s.counting = w->counting != 0;
    s.frozen = w->frozen != 0;
    s.pendingWrite = w->pendingWrite != 0;
    s.frameIndex = w->recInfo.currentFrame;
    s.frameCount = w->recInfo.frameCount;
    s.loading = w->recInfo.loading != 0;
    return s;
}

void CRecordControl::Freeze(CChildFrame* child) {
    // Only a ring can stand still; a window without one has nothing to keep.
    if (CChildFrame* w = Window(child); w && w->recordMode && w->ringCount) w->frozen = 1;
}

void CRecordControl::Trigger(CChildFrame* child, RecordTrigger where) {
    CChildFrame* w = Window(child);
    if (!w) return;
    switch (where) {
    case RecordTrigger::Start:
        w->TriggerRecordStart();
        break;
    case RecordTrigger::Center:
        w->TriggerRecordCenter();
        break;
    case RecordTrigger::End:
        w->TriggerRecord();
        break;
    }
}

void CRecordControl::StartRecordWriter(CChildFrame* child) {
    if (CChildFrame* w = Window(child)) w->StartRecordWriter();
}

bool CRecordControl::ShowFrame(CChildFrame* child, uint32_t index) {
    CChildFrame* w = Window(child);
    return w && w->playback && w->ShowFrame(index);
}

void CRecordControl::RestartPlayback(CChildFrame* child, unsigned ms) {
    if (CChildWindow* window = main_.WindowOf(Window(child))) window->RestartPlayback(ms);
}

uint32_t CRecordControl::UpdateRecordableCount() {
    main_.UpdateRecordableCount();
    return main_.recordSettings.recordableCount;
}

void CRecordControl::SetRing(CChildFrame* child, bool on) {
    CChildFrame* w = Window(child);
    if (!w || w->playback) return;
    if (on && !w->recordMode) w->AllocRecordBuffers(main_.recordSettings.recordableCount);
    if (!on && w->recordMode) w->FreeRecordBuffers();
}

} // namespace qorcam::viewer
