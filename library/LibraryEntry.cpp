// LibraryEntry: the shared object's load and unload entry points.
#include "LibraryProcess.h"

namespace {

__attribute__((constructor)) void QorCamProcessAttach() {
    qorcam::library::CLibraryProcess::Attach();
}

__attribute__((destructor)) void QorCamProcessDetach() {
    qorcam::library::CLibraryProcess::Detach();
}

} // namespace
