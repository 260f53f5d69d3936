// FeatureAccess: reads and writes of camera features that never let a node-map exception out.
#pragma once

#include "genapi/Pointer.h"

#include <cstdint>
#include <string>

namespace qorcam::viewer {

namespace genapi = qorcam::genapi;

/// The getters answer only while the application's active camera window is
/// live (it exists, has an open camera and still belongs to the main frame);
/// the application installs the test once at start-up. No guard installed:
/// every getter answers its neutral value without touching the node.
void SetFeatureGuard(bool (*guard)());

/// Where the failure text of a caught exception goes ("[name]\n\r<label>
/// error\n\rTryNum:<n>"); null keeps it only as LastFeatureFailure().
void SetFeatureFailureSink(void (*sink)(const std::string& text));
/// The failure text formed last on the calling thread (empty when none).
const std::string& LastFeatureFailure();

// Guarded getters: the value, or the neutral value (0, false, empty) when the
// guard fails or the node map throws. Value reads neither verify nor bypass
// the cache.
int64_t SafeGetIntValue(genapi::CIntegerPtr p);
bool SafeGetBoolValue(genapi::CBooleanPtr p);
double SafeGetFloatValue(genapi::CFloatPtr p);
std::string SafeGetStringValue(genapi::CStringPtr p);
int64_t SafeGetEnumEntryValue(genapi::CEnumEntryPtr p);
std::string SafeGetRegister(genapi::CRegisterPtr p);
std::string SafeValueToString(genapi::CValuePtr p);
std::string SafeStringToString(genapi::CStringPtr p);
int64_t SafeGetIntMin(genapi::CIntegerPtr p);
int64_t SafeGetIntMax(genapi::CIntegerPtr p);
int64_t SafeGetIntInc(genapi::CIntegerPtr p);
double SafeGetFloatMin(genapi::CFloatPtr p);
double SafeGetFloatMax(genapi::CFloatPtr p);
double SafeGetFloatInc(genapi::CFloatPtr p);
bool SafeFloatHasInc(genapi::CFloatPtr p);
genapi::CEnumEntryPtr SafeGetEnumCurrentEntry(genapi::CEnumerationPtr p);
genapi::ERepresentation SafeGetIntRepresentation(genapi::CIntegerPtr p);
std::string SafeGetEnumEntrySymbolic(genapi::CEnumEntryPtr p);
/// The text an enumeration entry is shown and chosen by: its own display
/// name when the description gives one, else its symbolic name ("Mono8",
/// not the node name "EnumEntry_PixelFormat_Mono8").
std::string EnumEntryText(genapi::INode* entry);
int64_t SafeGetRegisterLength(genapi::CRegisterPtr p);
int64_t SafeGetStringMaxLength(genapi::CStringPtr p);

/// The node's access mode; _UndefinedAccesMode when it can't be read. Not guarded.
genapi::EAccessMode SafeGetAccessMode(genapi::INode* node);
/// Whether the node is available (neither NI, NA nor undefined).
bool SafeIsAvailable(genapi::INode* node);
/// Whether the node selects other features; false when it can't be read.
bool SafeIsSelector(genapi::INode* node);

// One-attempt setters: true on success, false on a caught failure. They do
// not test the camera window; the caller does.
bool TrySetIntValue(genapi::CIntegerPtr p, int64_t value);
bool TrySetBoolValue(genapi::CBooleanPtr p, bool value);
bool TrySetFloatValue(genapi::CFloatPtr p, double value);
bool TrySetStringValue(genapi::CStringPtr p, const std::string& value);
bool TrySetEnumValue(genapi::CEnumerationPtr p, const std::string& symbolic);
bool TryGetEnumEntries(genapi::CEnumerationPtr p, genapi::NodeList_t& entries);
bool TryGetRegister(genapi::CRegisterPtr p, uint8_t* buffer, int64_t length);
bool TrySetRegister(genapi::CRegisterPtr p, const uint8_t* buffer, int64_t length);
/// retryAllowed is the caller's say (denied for reset commands); the retry
/// decision answers no all the same, so a command runs at most once.
bool TryExecuteCommand(genapi::CCommandPtr p, bool retryAllowed);
/// Whether a command's display name is one of the reset commands, after
/// which the camera goes away ("DeviceReset", "Device Reset", "Camerareset",
/// "Camera Reset"): no retry is allowed for them.
bool IsResetCommand(const std::string& displayName);

} // namespace qorcam::viewer
