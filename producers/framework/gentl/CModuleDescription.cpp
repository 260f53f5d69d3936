// The description of a transport-layer module served through its own port.
#include "gentl/CModuleDescription.h"

#include "gentl/InfoFillers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

namespace {

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Register(const std::string& kind, const std::string& name, uint64_t address, uint64_t length,
                     const char* access, const std::string& extra = {}) {
    std::string xml = "  <" + kind + " Name=\"" + name + "\" NameSpace=\"Standard\">\n" + extra +
                      "    <Address>" + Hex(address) + "</Address>\n    <Length>" + std::to_string(length) +
                      "</Length>\n    <AccessMode>" + access +
                      "</AccessMode>\n    <pPort>Device</pPort>\n    <Cachable>NoCache</Cachable>\n";
    if (kind == "IntReg") xml += "    <Sign>Unsigned</Sign>\n    <Endianess>LittleEndian</Endianess>\n";
    return xml + "  </" + kind + ">\n";
}

} // namespace

void CModuleDescription::AddText(const std::string& name, bool selected, Text value) {
    m_features.push_back({name, selected, std::move(value), nullptr});
}

void CModuleDescription::AddNumber(const std::string& name, bool selected, Number value) {
    m_features.push_back({name, selected, nullptr, std::move(value)});
}

void CModuleDescription::SetSelector(const std::string& name, std::function<uint32_t()> count) {
    m_selectorName = name;
    m_count = std::move(count);
}

void CModuleDescription::SetCommand(const std::string& name, std::function<void()> run) {
    m_commandName = name;
    m_command = std::move(run);
}

const std::string& CModuleDescription::Xml() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_xml.empty()) return m_xml;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<RegisterDescription ModelName=\"" +
        Escaped(m_fileName) +
        "\" VendorName=\"QorCam\" StandardNameSpace=\"None\""
        " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\""
        " MajorVersion=\"1\" MinorVersion=\"0\" SubMinorVersion=\"0\""
        " ProductGuid=\"3C0E6B52-8A41-4F0D-9E27-1B5D7C3A9F10\""
        " VersionGuid=\"3C0E6B52-8A41-4F0D-9E27-1B5D7C3A9F11\""
        " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
        "  <Category Name=\"Root\" NameSpace=\"Standard\">\n";
    if (!m_commandName.empty()) xml += "    <pFeature>" + m_commandName + "</pFeature>\n";
    if (!m_selectorName.empty()) xml += "    <pFeature>" + m_selectorName + "</pFeature>\n";
    for (const Feature& f : m_features)
        xml += "    <pFeature>" + f.name + "</pFeature>\n";
    xml += "  </Category>\n";
    if (!m_commandName.empty()) {
        xml += "  <Command Name=\"" + m_commandName + "\" NameSpace=\"Standard\">\n    <pValue>" +
               m_commandName + "Reg</pValue>\n    <CommandValue>1</CommandValue>\n  </Command>\n" +
               Register("IntReg", m_commandName + "Reg", kCommand, 8, "WO");
    }
    if (!m_selectorName.empty()) {
        xml += "  <Integer Name=\"" + m_selectorName + "\" NameSpace=\"Standard\">\n";
        for (const Feature& f : m_features) {
            if (f.selected) xml += "    <pSelected>" + f.name + "</pSelected>\n";
        }
        xml += "    <pValue>" + m_selectorName + "Reg</pValue>\n    <Min>0</Min>\n    <pMax>" + m_selectorName +
               "Max</pMax>\n  </Integer>\n" + Register("IntReg", m_selectorName + "Reg", kSelector, 8, "RW") +
               Register("IntReg", m_selectorName + "Max", kSelectorMax, 8, "RO");
    }
    for (size_t i = 0; i < m_features.size(); ++i) {
        const Feature& f = m_features[i];
        const uint64_t address = kFeatures + i * kFeatureStride;
        xml += f.text ? Register("StringReg", f.name, address, kFeatureStride, "RO")
                      : Register("IntReg", f.name, address, 8, "RO");
    }
    xml += "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n</RegisterDescription>\n";
    m_xml = std::move(xml);
    return m_xml;
}

std::string CModuleDescription::Url() {
    const size_t length = Xml().size();
    char text[64];
    std::snprintf(text, sizeof text, ";%llx;%llx", static_cast<unsigned long long>(kText),
                  static_cast<unsigned long long>(length));
    return "Local:" + m_fileName + text;
}

void CModuleDescription::GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                                    size_t* size) {
    if (index != 0) throw std::invalid_argument(FormatString("URL Index %ld is out of range", long(index)));
    switch (cmd) {
    case URL_INFO_URL:
        return CopyInfoString(buffer, size, type, Url());
    case URL_INFO_SCHEMA_VER_MAJOR:
    case URL_INFO_SCHEMA_VER_MINOR:
    case URL_INFO_FILE_VER_MAJOR:
        return CopyInfoInt32(buffer, size, type, 1);
    case URL_INFO_FILE_VER_MINOR:
    case URL_INFO_FILE_VER_SUBMINOR:
    case URL_INFO_SCHEME: // Local
        return CopyInfoInt32(buffer, size, type, 0);
    case URL_INFO_FILE_REGISTER_ADDRESS:
        return CopyInfoUInt64(buffer, size, type, kText);
    case URL_INFO_FILE_SIZE:
        return CopyInfoUInt64(buffer, size, type, Xml().size());
    case URL_INFO_FILENAME:
        return CopyInfoString(buffer, size, type, m_fileName);
    default:
        throw std::invalid_argument("Invalid parameter");
    }
}

bool CModuleDescription::Read(uint64_t address, void* buffer, size_t* size) {
    const size_t n = *size;
    auto put64 = [&](int64_t value) {
        std::memcpy(buffer, &value, 8);
        return true;
    };
    if (address >= kText) {
        const std::string& xml = Xml();
        if (address - kText > xml.size() || n > xml.size() - (address - kText)) return false;
        std::memcpy(buffer, xml.data() + (address - kText), n);
        return true;
    }
    uint32_t selector;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        selector = m_selector;
    }
    if (!m_selectorName.empty() && n == 8 && address == kSelector) return put64(selector);
    if (!m_selectorName.empty() && n == 8 && address == kSelectorMax) {
        const uint32_t count = Count();
        return put64(count == 0 ? 0 : count - 1);
    }
    if (address < kFeatures || (address - kFeatures) % kFeatureStride != 0) return false;
    const uint64_t i = (address - kFeatures) / kFeatureStride;
    if (i >= m_features.size()) return false;
    const Feature& f = m_features[i];
    if (f.selected && selector >= Count()) throw std::invalid_argument("Invalid selector value");
    if (f.text) {
        if (n != kFeatureStride) return false;
        const std::string value = f.text(selector);
        std::memset(buffer, 0, n);
        std::memcpy(buffer, value.data(), std::min(value.size(), n - 1));
        return true;
    }
    return n == 8 && put64(f.number(selector));
}

bool CModuleDescription::Write(uint64_t address, const void* buffer, size_t* size) {
    if (*size != 8) return false;
    int64_t value = 0;
    std::memcpy(&value, buffer, 8);
    if (!m_selectorName.empty() && address == kSelector) {
        if (value < 0 || static_cast<uint64_t>(value) >= std::max<uint32_t>(Count(), 1))
            throw std::invalid_argument("Invalid selector value");
        std::lock_guard<std::mutex> guard(m_lock);
        m_selector = static_cast<uint32_t>(value);
        return true;
    }
    if (!m_commandName.empty() && address == kCommand) {
        m_command();
        return true;
    }
    return false;
}

std::string InfoText(const std::function<void(INFO_DATATYPE*, void*, size_t*)>& query) {
    try {
        INFO_DATATYPE type = 0;
        size_t size = 0;
        query(&type, nullptr, &size);
        if (size == 0 || size > 4096) return {};
        std::string text(size, '\0');
        query(&type, text.data(), &size);
        text.resize(strnlen(text.data(), text.size()));
        return text;
    } catch (...) {
        return {};
    }
}

} // namespace GenICam::Client
