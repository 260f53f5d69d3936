// Description of one interface before it is opened: name, device path and display name.
#pragma once

#include "GenTL.h"

#include <memory>
#include <string>

namespace GenICam::Client {

// The interface id is the name, "::" and the device path, one text without blanks. The name is kept
// upper-cased. A copy (Clone) describes the same interface and is what an opened interface owns.
class CInterfaceInfo {
public:
    CInterfaceInfo(const std::string& name, std::string devicePath);
    virtual ~CInterfaceInfo() = default;

    virtual std::unique_ptr<CInterfaceInfo> Clone() const;
    // INTERFACE_INFO: ID, DISPLAYNAME and TLTYPE as STRING; other commands throw invalid_argument
    // "Invalid InterfaceInfoID %d".
    virtual void GetInfo(INTERFACE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) const;
    virtual std::string GetID() const;
    // Does `text` name this interface? Before the first "::" (when present and not empty) the name,
    // after it up to the next "::" the device path, both ignoring case; without "::" the whole text is
    // the device path. An empty path part throws invalid_argument "Invalid Device Name".
    virtual bool IsMatch(const std::string& text) const;
    virtual std::string GetDevicePath() const { return m_devicePath; }
    virtual std::string GetDisplayName() const { return m_displayName; }
    virtual std::string GetName() const { return m_name; }

protected:
    CInterfaceInfo(const CInterfaceInfo&) = default;

private:
    std::string m_name;
    std::string m_devicePath;
    std::string m_displayName;
};

} // namespace GenICam::Client
