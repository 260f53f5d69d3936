// The window module of QorGigEPref: its entry points, loaded by name where there is a display.
#pragma once

#include "QorGigEPrefDlg.h"

namespace qorcam::driverselect {

/// The module's file name, looked for beside the program (build tree) and in
/// the installed module folder.
inline constexpr const char* kPrefWindowModule = "QorGigEPrefWindow.so";

/// Opens the display: an application object, or null where there is none
/// (nothing started). argc must outlive the object.
using PrefOpenDisplayFn = void* (*)(int* argc, char** argv);
/// A message box over the open display.
using PrefMessageFn = void (*)(void* display, const char* text);
/// Runs the selection window until OK or Cancel.
using PrefRunWindowFn = void (*)(void* display, const PrefEnvironment* environment);
/// Closes the display.
using PrefCloseDisplayFn = void (*)(void* display);

} // namespace qorcam::driverselect
