// Value fillers shared by every info answer of the producer, and small text helpers.
#pragma once

#include "GenTL.h"

#include <cstdint>
#include <optional>
#include <string>

namespace GenICam::Client {

// Hands out `n` bytes of `source` with the one size rule of all info answers:
// the type is stored first when `type` is not null (also when the call then fails);
// a null size throws invalid_argument "Invalid Size"; a null buffer is a size query (*size = n);
// a buffer with *size below n (0 included) throws invalid_argument "Invalid Buffer Size" and copies
// nothing; otherwise n bytes are copied and *size = n.
void CopyInfoBuffer(void* buffer, size_t* size, INFO_DATATYPE* type, INFO_DATATYPE valueType,
                    const void* source, size_t n);
// A text with its terminating zero, type STRING.
void CopyInfoString(void* buffer, size_t* size, INFO_DATATYPE* type, const std::string& text);
// Four bytes, type INT32.
void CopyInfoInt32(void* buffer, size_t* size, INFO_DATATYPE* type, int32_t value);
void CopyInfoUInt32(void* buffer, size_t* size, INFO_DATATYPE* type, uint32_t value);
void CopyInfoUInt64(void* buffer, size_t* size, INFO_DATATYPE* type, uint64_t value);
void CopyInfoSizeT(void* buffer, size_t* size, INFO_DATATYPE* type, size_t value);
void CopyInfoPtr(void* buffer, size_t* size, INFO_DATATYPE* type, const void* value);
// One byte, type BOOL8.
void CopyInfoBool8(void* buffer, size_t* size, INFO_DATATYPE* type, bool value);

// A copy of the text with every byte upper-cased, for id tests that ignore case.
std::string ToUpperText(const std::string& text);

// printf-style formatting; the result holds at most 255 characters (longer output is cut).
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A text argument of an export: null reads as the empty text.
inline std::string TextArg(const char* text) {
    return text ? std::string(text) : std::string();
}

// The values of one module port's PORT_INFO answer. An absent value leaves that command unanswered:
// nothing is written and the call succeeds.
struct PortInfoValues {
    std::optional<std::string> id, vendor, model, tltype, module, version, portName;
    std::optional<bool> littleEndian, bigEndian, accessRead, accessWrite, accessNA, accessNI;
    // Commands outside 0 to 12 throw invalid_argument "Invalid parameter" when set; else nothing.
    bool refuseUnknown = true;
};
// The values every module port shares: the producer's vendor, model and transport type, the given id,
// module, port name and version text; little-endian, no other flag set.
PortInfoValues ModulePortInfo(std::string id, std::string module, std::string portName, std::string version);
void AnswerPortInfo(const PortInfoValues& values, PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size);

} // namespace GenICam::Client
