// ViewerFixture: a small camera description over a memory port, and recording stand-ins of the library and
// the frame.
#pragma once

#include "MemoryPort.h"

#include "CameraApi.h"
#include "ChildFrame.h"
#include "FeatureAccess.h"
#include "ViewerHost.h"

#include "genapi/NodeMap.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qorcam::viewer::testing {

using genapi::testing::Description;
using genapi::testing::MemoryPort;

inline std::string Reg(const char* name, int address, const char* extra = "") {
    return std::string("<IntReg Name='") + name + "'><Address>" + std::to_string(address) +
           "</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>" + extra +
           "</IntReg>";
}

/// Four top-level categories, one of them for experts only, with one feature
/// of every kind the grid shows; registers at 0x00-0x2F of the port.
inline std::string CameraDescription() {
    return Description(
        "<Category Name='Root'><pFeature>ImageFormat</pFeature><pFeature>Acquisition</pFeature>"
        "<pFeature>ExpertCat</pFeature><pFeature>DeviceControl</pFeature><pFeature>Width</pFeature></"
        "Category>"
        "<Category Name='ImageFormat'><DisplayName>Image Format</DisplayName><pFeature>Width</pFeature>"
        "<pFeature>PixelFormat</pFeature><pFeature>Gain</pFeature><pFeature>Sub</pFeature></Category>"
        "<Category Name='Sub'><pFeature>Flip</pFeature></Category>"
        "<Category Name='Acquisition'><pFeature>GainSelector</pFeature><pFeature>GainRaw</pFeature>"
        "<pFeature>Temperature</pFeature><pFeature>AcquisitionStart</pFeature><pFeature>DeviceReset</"
        "pFeature>"
        "</Category>"
        "<Category Name='ExpertCat'><Visibility>Expert</Visibility><pFeature>Secret</pFeature></Category>"
        "<Category Name='DeviceControl'><DisplayName>Device "
        "Control</DisplayName><pFeature>DeviceUserID</pFeature><pFeature>Blob</pFeature>"
        "<pFeature>Address</pFeature><pFeature>Big</pFeature><pFeature>Fixed</pFeature>"
        "<pFeature>Hidden</pFeature><pFeature>Guru</pFeature><pFeature>Exposure</pFeature></Category>"
        "<Integer Name='Width'><Description>Image width</Description><pValue>WidthReg</pValue>"
        "<Min>10</Min><Max>100</Max><Inc>4</Inc></Integer>" +
        Reg("WidthReg", 0x00) +
        // Without a display name: shown by its symbolic name, not its node name.
        "<Enumeration Name='PixelFormat'><EnumEntry "
        "Name='Mono8'><Value>0</Value></EnumEntry>"
        "<EnumEntry Name='RGB8'><DisplayName>RGB 8</DisplayName><Value>1</Value></EnumEntry>"
        "<EnumEntry "
        "Name='Off'><DisplayName>Off</DisplayName><pIsAvailable>Zero</pIsAvailable><Value>2</Value></"
        "EnumEntry>"
        "<Value>0</Value></Enumeration>"
        "<Float Name='Gain'><Value>1.5</Value><Min>0</Min><Max>4</Max><Inc>0.5</Inc></Float>"
        "<Boolean Name='Flip'><pValue>FlipReg</pValue><OnValue>1</OnValue><OffValue>0</OffValue></Boolean>" +
        Reg("FlipReg", 0x04) +
        "<Enumeration Name='GainSelector'><pSelected>GainRaw</pSelected>"
        "<EnumEntry Name='All'><DisplayName>All</DisplayName><Value>0</Value></EnumEntry><EnumEntry "
        "Name='Red'><DisplayName>Red</DisplayName><Value>1</Value></EnumEntry>"
        "<Value>0</Value></Enumeration>"
        "<Integer Name='GainRaw'><Value>5</Value><Min>5</Min><Max>5</Max></Integer>" +
        Reg("Temperature", 0x08, "<Cachable>NoCache</Cachable>") +
        "<Command Name='AcquisitionStart'><pValue>CmdReg</pValue><CommandValue>1</CommandValue></Command>"
        "<Command Name='DeviceReset'><pValue>CmdReg</pValue><CommandValue>2</CommandValue></Command>" +
        Reg("CmdReg", 0x0C) +
        "<Integer Name='Secret'><Value>1</Value></Integer>"
        "<StringReg Name='DeviceUserID'><Address>0x10</Address><Length>8</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort></StringReg>"
        "<Register Name='Blob'><Address>0x20</Address><Length>5</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort></Register>"
        "<Integer Name='Address'><Value>3232235521</Value><Min>0</Min><Max>4294967295</Max>"
        "<Representation>IPV4Address</Representation></Integer>"
        "<Integer Name='Big'><Value>4294967295</Value><Min>0</Min><Max>4294967295</Max></Integer>"
        "<Integer Name='Fixed'><Value>7</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>"
        "<Integer Name='Hidden'><pIsAvailable>Zero</pIsAvailable><Value>1</Value></Integer>"
        "<Integer Name='Guru'><Visibility>Guru</Visibility><Value>2</Value></Integer>"
        "<Integer Name='Zero'><Value>0</Value></Integer>"
        "<Integer "
        "Name='Exposure'><pIsLocked>Lock</pIsLocked><Value>3</Value><Min>0</Min><Max>9</Max></Integer>"
        "<Integer Name='Lock'><Value>0</Value></Integer>");
}

/// A camera library that answers from fields and records what it was asked.
class FakeApi : public ICameraApi {
public:
    BOOL SetStructVersion(uint32_t) override { return TRUE; }
    void SetCallBack(void* context, QORCAM_SYSTEMCALLBACK cb) override {
        callbackContext = context;
        callback = cb;
    }
    STATUS_RTNCODE GetLastError() override { return lastError; }
    BOOL GetList(QORCAM_LIST* list) override {
        ++listCalls;
        if (!list) return FALSE;
        if (listFails) {
            lastError = STATUSQORCAM_UNDEF_ERROR;
            return FALSE;
        }
        if (list->Count == 0) {
            list->Count = static_cast<uint32_t>(cameras.size());
            return TRUE;
        }
        if (list->Count < cameras.size()) {
            lastError = STATUSQORCAM_BUFFER_SHORT;
            return FALSE;
        }
        for (size_t i = 0; i < cameras.size(); ++i)
            list->Info[i] = cameras[i];
        list->Count = static_cast<uint32_t>(cameras.size());
        return TRUE;
    }
    BOOL Camera(HCAMERA, BOOL* connect) override {
        ++cameraCalls;
        *connect = connected;
        return TRUE;
    }
    BOOL ResourceAlloc(HCAMERA) override {
        calls.push_back("ResourceAlloc");
        return TRUE;
    }
    BOOL ResourceRelease(HCAMERA) override {
        calls.push_back("ResourceRelease");
        return TRUE;
    }
    BOOL GetBMPINFO(HCAMERA, BITMAPINFO*, uint32_t* size, BOOL) override {
        calls.push_back("GetBMPINFO");
        if (bmpError) {
            lastError = bmpError;
            return FALSE;
        }
        *size = 44;
        return TRUE;
    }
    void AddCamera(uint64_t uid, uint32_t type) {
        QORCAM_CAMERAINFO info{};
        info.UID = uid;
        info.CameraType = type;
        cameras.push_back(info);
    }

    BOOL connected = TRUE;
    STATUS_RTNCODE lastError = STATUSQORCAM_COMPLETE;
    STATUS_RTNCODE bmpError = STATUSQORCAM_COMPLETE;
    bool listFails = false;
    int listCalls = 0;
    int cameraCalls = 0;
    std::vector<std::string> calls;
    std::vector<QORCAM_CAMERAINFO> cameras;
    void* callbackContext = nullptr;
    QORCAM_SYSTEMCALLBACK callback = nullptr;
};

/// A camera window over the fixture description, made active in a host that
/// records what the grid asks of the frame.
class FakeHost : public IViewerHost {
public:
    FakeHost() : port(0x100) {
        map._LoadXMLFromString(CameraDescription().c_str());
        map._Connect(&port);
        child.hCamera = reinterpret_cast<HCAMERA>(0x1234);
        child.nodeMap = &map;
        child.gridFlag = 1;
        port.Put32LE(0x00, 22);
        port.Put32LE(0x08, 40);
        std::memcpy(port.memory.data() + 0x10, "cam", 4);
        active = &child;
        instance = this;
        SetFeatureGuard([] { return instance && instance->active != nullptr; });
    }
    ~FakeHost() override {
        SetFeatureGuard(nullptr);
        instance = nullptr;
    }

    ICameraApi& Api() override { return api; }
    CChildFrame* ActiveChild() override { return active; }
    bool IsChildOfFrame(CChildFrame* c) override { return c && c == active; }
    void SendCameraCheck(CChildFrame*, int wParam, int lParam) override {
        cameraChecks.emplace_back(wParam, lParam);
    }
    bool IsFavourite(const std::string& name) override { return favourites.count(name) > 0; }
    bool IsRefreshSelected(const std::string& name) override { return refreshSelection.count(name) > 0; }
    void MessageBox(const std::string& text) override { messages.push_back(text); }
    void PostGridReset(int wParam) override { gridResets.push_back(wParam); }
    void PostPropertyRefresh(CPropertyGridProperty* group) override { propertyRefreshes.push_back(group); }
    void FeatureSelected(genapi::INode* node, genapi::INodeMap*) override { selected.push_back(node); }
    void SetTimer(unsigned id, unsigned ms) override { timers.emplace_back(id, ms); }
    void KillTimer(unsigned id) override { killed.push_back(id); }
    bool IsPaneShown() override { return true; }
    void ShowLevel(uint32_t level) override { shownLevel = level; }
    void SendGridValue(uint64_t id, const GridValue& value) override { sent.emplace_back(id, value); }

    static inline FakeHost* instance = nullptr;
    MemoryPort port;
    genapi::CNodeMapRef map;
    CChildFrame child;
    CChildFrame* active = nullptr;
    FakeApi api;
    std::set<std::string> favourites, refreshSelection;
    std::vector<std::pair<int, int>> cameraChecks;
    std::vector<std::string> messages;
    std::vector<int> gridResets;
    std::vector<CPropertyGridProperty*> propertyRefreshes;
    std::vector<genapi::INode*> selected;
    std::vector<std::pair<unsigned, unsigned>> timers;
    std::vector<unsigned> killed;
    uint32_t shownLevel = 99;
    std::vector<std::pair<uint64_t, GridValue>> sent;
};

} // namespace qorcam::viewer::testing
