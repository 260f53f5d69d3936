// Value fillers shared by every info answer of the producer, and small text helpers.
#include "gentl/InfoFillers.h"

#include "gentl/Producer.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

void CopyInfoBuffer(void* buffer, size_t* size, INFO_DATATYPE* type, INFO_DATATYPE valueType,
                    const void* source, size_t n) {
    if (type) *type = valueType;
    if (!size) throw std::invalid_argument("Invalid Size");
    if (!buffer) {
        *size = n;
        return;
    }
    if (*size < n) throw std::invalid_argument("Invalid Buffer Size");
    if (n) std::memcpy(buffer, source, n);
    *size = n;
}

void CopyInfoString(void* buffer, size_t* size, INFO_DATATYPE* type, const std::string& text) {
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_STRING, text.c_str(), text.size() + 1);
}

void CopyInfoInt32(void* buffer, size_t* size, INFO_DATATYPE* type, int32_t value) {
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_INT32, &value, sizeof value);
}

void CopyInfoUInt32(void* buffer, size_t* size, INFO_DATATYPE* type, uint32_t value) {
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_UINT32, &value, sizeof value);
}

void CopyInfoUInt64(void* buffer, size_t* size, INFO_DATATYPE* type, uint64_t value) {
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_UINT64, &value, sizeof value);
}

void CopyInfoSizeT(void* buffer, size_t* size, INFO_DATATYPE* type, size_t value) {
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_SIZET, &value, sizeof value);
}

void CopyInfoPtr(void* buffer, size_t* size, INFO_DATATYPE* type, const void* value) {
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_PTR, &value, sizeof value);
}

void CopyInfoBool8(void* buffer, size_t* size, INFO_DATATYPE* type, bool value) {
    const bool8_t byte = value ? 1 : 0;
    CopyInfoBuffer(buffer, size, type, INFO_DATATYPE_BOOL8, &byte, 1);
}

std::string ToUpperText(const std::string& text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string FormatString(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return std::string();
    return std::string(text);
}

PortInfoValues ModulePortInfo(std::string id, std::string module, std::string portName, std::string version) {
    PortInfoValues values;
    values.id = std::move(id);
    values.vendor = GetProducerVendorName();
    values.model = GetProducerModelName();
    values.tltype = GetProducerTLType();
    values.module = std::move(module);
    values.littleEndian = true;
    values.bigEndian = values.accessRead = values.accessWrite = values.accessNA = values.accessNI = false;
    values.version = std::move(version);
    values.portName = std::move(portName);
    return values;
}

void AnswerPortInfo(const PortInfoValues& values, PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size) {
    auto text = [&](const std::optional<std::string>& value) {
        if (value) CopyInfoString(buffer, size, type, *value);
    };
    auto flag = [&](const std::optional<bool>& value) {
        if (value) CopyInfoBool8(buffer, size, type, *value);
    };
    switch (cmd) {
    case PORT_INFO_ID:
        return text(values.id);
    case PORT_INFO_VENDOR:
        return text(values.vendor);
    case PORT_INFO_MODEL:
        return text(values.model);
    case PORT_INFO_TLTYPE:
        return text(values.tltype);
    case PORT_INFO_MODULE:
        return text(values.module);
    case PORT_INFO_LITTLE_ENDIAN:
        return flag(values.littleEndian);
    case PORT_INFO_BIG_ENDIAN:
        return flag(values.bigEndian);
    case PORT_INFO_ACCESS_READ:
        return flag(values.accessRead);
    case PORT_INFO_ACCESS_WRITE:
        return flag(values.accessWrite);
    case PORT_INFO_ACCESS_NA:
        return flag(values.accessNA);
    case PORT_INFO_ACCESS_NI:
        return flag(values.accessNI);
    case PORT_INFO_VERSION:
        return text(values.version);
    case PORT_INFO_PORTNAME:
        return text(values.portName);
    default:
        if (values.refuseUnknown) throw std::invalid_argument("Invalid parameter");
    }
}

} // namespace GenICam::Client
