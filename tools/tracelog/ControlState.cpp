// ControlState: the enabling rules of the dialog's controls.
#include "ControlState.h"

namespace qorcam::tracelog {

ControlState ControlState::For(const LogSettings& s) {
    ControlState c;
    if (s.sysLevel == 0 && s.dllLevel == 0) return c;
    c.outputRadios = true;
    c.start = true;
    if (s.outPutMode == OutputMode::Streaming) {
        c.url = true;
        return c;
    }
    c.fileNameMode = c.maxSize = c.cache = c.pathRadios = true;
    c.browse = s.pathMode == PathMode::Custom;
    return c;
}

} // namespace qorcam::tracelog
