// What an interface answers from the devices it lists: their ids, the info every transport shares, and
// the opening of one of them.
#pragma once

#include "GenTLCustom.h"
#include "gentl/CInterface.h"
#include "gentl/InfoFillers.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace GenICam::Client {

// `Info` is a transport's record of one listed camera: GetID(), IsMatch(id) (which may throw
// invalid_argument "Invalid Device Name"), GetManufacturer(), GetModel(), GetDisplayName() and
// GetUserName().

// The id of entry `index`; past the list invalid_argument " Invalid Device Index %d", an empty entry
// runtime_error "Error accessing DevIndex %d".
template <class Info>
std::string ListedDeviceID(const std::vector<std::unique_ptr<Info>>& listed, uint32_t index) {
    if (index >= listed.size()) throw std::invalid_argument(FormatString(" Invalid Device Index %d", index));
    if (!listed[index]) throw std::runtime_error(FormatString("Error accessing DevIndex %d", index));
    return listed[index]->GetID();
}

// The DEVICE_INFO answers that need nothing of the transport: id, vendor, model, display name and user
// name. False for any other command, with nothing written.
template <class Info>
bool AnswerListedDeviceInfo(const Info& info, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                            size_t* size) {
    switch (cmd) {
    case DEVICE_INFO_ID:
        CopyInfoString(buffer, size, type, info.GetID());
        return true;
    case DEVICE_INFO_VENDOR:
        CopyInfoString(buffer, size, type, info.GetManufacturer());
        return true;
    case DEVICE_INFO_MODEL:
        CopyInfoString(buffer, size, type, info.GetModel());
        return true;
    case DEVICE_INFO_DISPLAYNAME:
        CopyInfoString(buffer, size, type, info.GetDisplayName());
        return true;
    case DEVICE_INFO_CUSTOM_USER_NAME:
        CopyInfoString(buffer, size, type, info.GetUserName());
        return true;
    default:
        return false;
    }
}

// Opens the listed device `id` names on `itf`. An id an open device (a `Device`, whose Info() is its
// record) answers to is refused with runtime_error "Device already open", one no listed device answers
// to with "Device not available". `make(info)` builds the device from the first listed record that
// answers; its runtime_error texts reach the caller unchanged (the library tells "Device already open"
// apart), any other failure becomes runtime_error "Device Open Error". The device joins the
// interface's open devices.
template <class Device, class Info, class Make>
CDevice* OpenListedDevice(CInterface& itf, const std::string& id, const std::vector<std::unique_ptr<Info>>& listed,
                          Make make) {
    for (CDevice* open : itf.GetOpenDevices()) {
        if (static_cast<Device*>(open)->Info().IsMatch(id)) throw std::runtime_error("Device already open");
    }
    const Info* found = nullptr;
    for (const auto& entry : listed) {
        if (entry->IsMatch(id)) {
            found = entry.get();
            break;
        }
    }
    if (!found) throw std::runtime_error("Device not available");
    Device* device = nullptr;
    try {
        device = make(*found);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(e.what());
    } catch (...) {
        throw std::runtime_error("Device Open Error");
    }
    itf.AddOpenDevice(device);
    return device;
}

} // namespace GenICam::Client
