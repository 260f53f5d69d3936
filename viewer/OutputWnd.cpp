// OutputWnd: the lines of the information output pane: camera or record, image, selected feature.
#include "OutputWnd.h"

#include "FeatureAccess.h"
#include "QorViewerApp.h"
#include "ValueText.h"

#include "genapi/Pointer.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace qorcam::viewer {
namespace {

template <class... A> std::string Format(const char* format, A... args) {
    char buffer[160];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, n > 0 ? std::min(static_cast<size_t>(n), sizeof buffer - 1) : 0);
}

/// "<head><text>": the text may be of any length.
std::string Line(const char* head, const std::string& text) {
    return head + text;
}

/// The node's texts; a node that can't tell gives empty texts.
template <class F> std::string NodeText(F&& f) {
    try {
        return f();
    } catch (...) {
        return {};
    }
}

std::string IntegerText(genapi::INode* node) {
    const genapi::EAccessMode mode = SafeGetAccessMode(node);
    genapi::CIntegerPtr p(node);
    if ((mode != genapi::WO && mode != genapi::RW) || !p.IsValid()) return "IInteger interface";
    const int64_t min = SafeGetIntMin(p), max = SafeGetIntMax(p), inc = SafeGetIntInc(p);
    std::string text[3];
    const int64_t values[3] = {min, max, inc};
    const genapi::ERepresentation representation = SafeGetIntRepresentation(p);
    for (int i = 0; i < 3; ++i) {
        if (representation == genapi::IPV4Address)
            text[i] = FormatIPv4Value(values[i]);
        else if (representation == genapi::HexNumber)
            text[i] = FormatHexValue(values[i]);
        else
            text[i] = FormatIntValue(values[i], min < max);
    }
    return "IInteger interface   [ Min : " + text[0] + "  Max : " + text[1] + "  Inc : " + text[2] + " ]";
}

std::string FloatText(genapi::INode* node) {
    const genapi::EAccessMode mode = SafeGetAccessMode(node);
    genapi::CFloatPtr p(node);
    if ((mode != genapi::WO && mode != genapi::RW) || !p.IsValid()) return "IFloat interface";
    const double inc = SafeFloatHasInc(p) ? SafeGetFloatInc(p) : 0.0;
    const std::string incText = inc == 0.0 ? "has no increment" : Format("%f", inc);
    return "IFloat interface   [ Min: " + Format("%f", SafeGetFloatMin(p)) +
           "  Max : " + Format("%f", SafeGetFloatMax(p)) + "  Inc : " + incText + " ]";
}

} // namespace

std::string ProgressLine(const std::string& label, uint32_t frame, uint32_t count) {
    const char* format = count < 100     ? "    %s : %02u / %02u"
                         : count < 1000  ? "    %s : %03u / %03u"
                         : count < 10000 ? "    %s : %04u / %04u"
                                         : "    %s : %05u / %05u";
    return Format(format, label.c_str(), frame, count);
}

std::string InterfaceText(genapi::INode* node) {
    static const char* const names[] = {
        "IValue interface",       "IBase interface",      nullptr,
        "IBoolean interface",     "ICommand interface",   nullptr,
        "IString interface",      "IRegister interface",  "ICategory interface",
        "IEnumeration interface", "IEnumEntry interface", "IPort interface"};
    genapi::EInterfaceType type;
    try {
        type = node->GetPrincipalInterfaceType();
    } catch (...) {
        return "Unknown interface";
    }
    if (type == genapi::intfIInteger) return IntegerText(node);
    if (type == genapi::intfIFloat) return FloatText(node);
    if (type < 0 || type > genapi::intfIPort) return "Unknown interface";
    return names[type];
}

std::string AccessModeText(genapi::EAccessMode mode) {
    static const char* const texts[] = {"Not implemented",
                                        "Not available",
                                        "Write Only",
                                        "Read Only",
                                        "Read and Write",
                                        "Object is not yet initialized",
                                        "used internally for AccessMode cycle detection"};
    const int m = static_cast<int>(mode);
    return m >= 0 && m < 7 ? texts[m] : "Unknown";
}

std::string VisibilityText(genapi::EVisibility visibility) {
    static const char* const texts[] = {"Beginner", "Expert", "Guru", "Not Visible"};
    const int v = static_cast<int>(visibility);
    if (v == genapi::_UndefinedVisibility) return "Object is not yet initialized";
    return v >= 0 && v < 4 ? texts[v] : "Unknown";
}

CChildFrame* COutputWnd::ActiveWindow() {
    CChildFrame* active = app_.activeChild;
    if (!active) return nullptr;
    std::lock_guard lock(app_.TableLock());
    const auto& children = app_.openChildren;
    return std::find(children.begin(), children.end(), active) != children.end() ? active : nullptr;
}

bool COutputWnd::RecordOf(const CChildFrame& window, RecordView& record) {
    record = RecordView{};
    if (!window.playback) return false;
    const CRecInfo& info = window.recInfo;
    record.cameraName = info.cameraName;
    record.recordTime = info.recordTime;
    record.folder = info.folderPath;
    record.savedCount = info.savedCount;
    record.loadedCount = info.loaded;
    record.frameIndex = info.currentFrame;
    record.frameCount = info.frameCount;
    record.loading = info.loading != 0;
    return true;
}

void COutputWnd::ShowCameraInfo() {
    for (auto& lines : lines_)
        lines.clear();
    CChildFrame* w = ActiveWindow();
    if (!w) return;
    auto& out = lines_[kCamera];
    out.push_back("[ " + w->title + " ]");
    if (app_.mode == 1) {
        out.push_back(Line("    VendorName : ", w->vendorName));
        out.push_back(Line("    ModelName : ", w->modelName));
        out.push_back(Line("    UserName : ", w->userName));
        out.push_back(Line("    DeviceVer : ", w->deviceVersion));
        out.push_back(Line("    SerialNo : ", w->serialNumber));
        out.push_back(Line("    UniqueID : ", w->uniqueId));
        return;
    }
    RecordView record;
    if (!RecordOf(*w, record)) return;
    out.push_back(Line("    CameraName : ", record.cameraName));
    out.push_back(Line("    RecordTime : ", record.recordTime));
    out.push_back(Format("    RecordNum : %u", record.savedCount));
    out.push_back(Format("    ReadNum : %u", record.loadedCount));
    out.push_back(Line("    Folder : ", record.folder));
}

void COutputWnd::ShowImageInfo() {
    auto& out = lines_[kImage];
    out.clear();
    CChildFrame* w = ActiveWindow();
    if (!w) return;
    out.push_back("[ " + w->title + " ]");
    if (const BITMAPINFOHEADER* hd = w->Header())
        out.push_back(
            Format("    Size : %d * %d", static_cast<int>(hd->biWidth), static_cast<int>(hd->biHeight)));
    else
        out.push_back("    Size :");
    RecordView record;
    const bool playback = app_.mode != 1;
    const bool haveRecord = playback && RecordOf(*w, record);
    if (w->running) {
        out.push_back("    Image Started");
        if (!playback) {
            out.push_back(w->recover ? "    Recover ON" : "    Recover OFF");
            const double rate = w->frameRate;
            out.push_back(rate == -1.0 ? std::string("    FrameRate : -----")
                                       : Format("    FrameRate : %03.3f", rate));
            out.push_back(Format("    Error : %3u%%", static_cast<unsigned>(w->errorCount)));
        } else {
            if (haveRecord) out.push_back(ProgressLine("ViewNum", record.frameIndex + 1, record.frameCount));
            out.push_back(Format("    FrameRate : %u", w->displayRate));
        }
        return;
    }
    if (haveRecord && record.loading) {
        out.push_back("    Image Reading");
        out.push_back(ProgressLine("ReadNum", record.frameIndex + 1, record.frameCount));
        return;
    }
    out.push_back("    Image Stoped");
}

void COutputWnd::ShowNodeInfo(genapi::INode* node) {
    auto& out = lines_[kFeature];
    out.clear();
    if (app_.mode != 1 || !node) return;
    out.push_back("[ " + NodeText([&] { return node->GetDisplayName(); }) + " ]");
    out.push_back(Line("    Name : ", NodeText([&] { return node->GetName(); })));
    out.push_back(Line("    Description : ", NodeText([&] { return node->GetDescription(); })));
    out.push_back(Line("    InterfaceType : ", InterfaceText(node)));
    out.push_back(Line("    AccessMode : ", AccessModeText(SafeGetAccessMode(node))));
    genapi::EVisibility visibility = genapi::_UndefinedVisibility;
    try {
        visibility = node->GetVisibility();
    } catch (...) {
    }
    out.push_back(Line("    Visibility : ", VisibilityText(visibility)));
}

} // namespace qorcam::viewer
