// The description of a transport-layer module (system, interface, device) served through its own port.
#pragma once

#include "GenTL.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace GenICam::Client {

// A small register map and its description text, in the standard transport-layer feature names. Every
// feature reads what the module already answers through its info queries, at the moment it is read
// (nothing is cached); a selector (InterfaceSelector, DeviceSelector) picks the entry that the features
// marked as selected describe, and a command runs one module operation (a list update).
//
// Port layout, beside the module's own registers (which lie below 0x1000): feature registers from
// 0x10000, 0x100 bytes apart (texts of at most 255 bytes, numbers as 8 little-endian bytes), the
// selector at 0xF000, its largest value at 0xF008, the command at 0xF010, the description text at
// 0x100000. A read or write must match one register whole (a part of the text is fine); anything else
// is not the description's and is left to the module.
class CModuleDescription {
public:
    using Text = std::function<std::string(uint32_t selector)>;
    using Number = std::function<int64_t(uint32_t selector)>;

    static constexpr uint64_t kSelector = 0xF000;
    static constexpr uint64_t kSelectorMax = 0xF008;
    static constexpr uint64_t kCommand = 0xF010;
    static constexpr uint64_t kFeatures = 0x10000;
    static constexpr uint64_t kFeatureStride = 0x100;
    static constexpr uint64_t kText = 0x100000;

    // `fileName` names the description in its URL ("<producer>_<module>.xml").
    explicit CModuleDescription(std::string fileName) : m_fileName(std::move(fileName)) {}

    // Features, in the order they are listed. `selected`: the value depends on the selector.
    void AddText(const std::string& name, bool selected, Text value);
    void AddNumber(const std::string& name, bool selected, Number value);
    // The selector `name`, from 0 to count() - 1 (count 0 leaves the selected features unreadable).
    void SetSelector(const std::string& name, std::function<uint32_t()> count);
    void SetCommand(const std::string& name, std::function<void()> run);

    // "Local:<file>;<address>;<length>", addresses in hex.
    std::string Url();
    // URL_INFO answers of URL 0; others throw invalid_argument.
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size);
    // A port access the description answers: true when it did (size set), false when the address is
    // not one of its registers. A selector value past the last entry throws invalid_argument.
    bool Read(uint64_t address, void* buffer, size_t* size);
    bool Write(uint64_t address, const void* buffer, size_t* size);

private:
    struct Feature {
        std::string name;
        bool selected;
        Text text;     // texts
        Number number; // numbers
    };
    const std::string& Xml();
    uint32_t Count() const { return m_count ? m_count() : 0; }

    std::string m_fileName;
    std::vector<Feature> m_features;
    std::string m_selectorName;
    std::function<uint32_t()> m_count;
    std::string m_commandName;
    std::function<void()> m_command;
    std::mutex m_lock;
    uint32_t m_selector = 0;
    std::string m_xml;
};

// A module whose port offers a description.
class IDescribedModule {
public:
    virtual CModuleDescription& Description() = 0;

protected:
    ~IDescribedModule() = default;
};

// The text an info query writes, or "" when it fails.
std::string InfoText(const std::function<void(INFO_DATATYPE*, void*, size_t*)>& query);

} // namespace GenICam::Client
