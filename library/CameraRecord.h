// CameraRecord: the camera record of an opened device, as both camera classes fill it.
#pragma once

#include "GenTL.h"
#include "QorCam.h"

namespace qorcam::library {

class CGenTL;

/// Zeroes info, then fills it from the device's info answers (identifier,
/// vendor, model, bus number, link speed). The first failing call traces
/// the producer's text under name, sets the last error 99 and gives false;
/// the fields filled so far stay.
bool FillCameraRecord(CGenTL& producer, DEV_HANDLE device, QORCAM_CAMERAINFO* info, const char* name);

} // namespace qorcam::library
