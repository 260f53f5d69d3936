// PropertyFile: a camera's features saved to an INI file and loaded back into a camera.
#include "PropertyFile.h"

#include "FeatureAccess.h"
#include "IniDocument.h"
#include "ValueLimits.h"
#include "ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace qorcam::viewer {

using namespace genapi;

namespace {

/// Categories nest no deeper than this; a description whose categories
/// contain each other is walked once along every path.
constexpr size_t kMaxCategoryDepth = 64;
/// A register longer than this is neither saved nor loaded.
constexpr int64_t kMaxRegisterLength = 4 * 1024 * 1024;

const char* const kFileInfoSection = "CameraProperty : File Info";

/// The key of a feature's section: the name of its kind, for the kinds the file holds.
const char* KindKey(EInterfaceType type) {
    switch (type) {
    case intfIInteger:
        return "Integer";
    case intfIBoolean:
        return "Boolean";
    case intfIFloat:
        return "Float";
    case intfIString:
        return "String";
    case intfIRegister:
        return "Register";
    case intfIEnumeration:
        return "Enumeration";
    default:
        return nullptr;
    }
}

/// "%f" as the C locale writes it, whatever the user's locale: files move between machines.
std::string FloatText(double value) {
    char buffer[512];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return error == std::errc() ? std::string(buffer, end) : std::string();
}

/// The number at the start of text; nothing when there is none.
std::optional<double> ParseFloat(const std::string& text) {
    double value = 0;
    const char* begin = text.data();
    if (begin != text.data() + text.size() && *begin == '+') ++begin;
    auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end == begin) return std::nullopt;
    return value;
}

std::string SectionName(const std::string& category, INode* feature) {
    return category + " : " + feature->GetDisplayName();
}

/// Walks the features below a category depth first, giving each feature
/// that is no category with the display name of the category that lists it.
class FeatureWalk {
public:
    template <class F> void Walk(INode* category, const std::string& categoryName, F&& each) {
        if (!category || path_.size() >= kMaxCategoryDepth ||
            std::find(path_.begin(), path_.end(), category) != path_.end())
            return;
        NodeList_t features;
        try {
            features = CCategoryPtr(category)->GetFeatures();
        } catch (...) {
            return;
        }
        path_.push_back(category);
        for (INode* feature : features) {
            if (!feature) continue;
            try {
                if (feature->GetPrincipalInterfaceType() == intfICategory)
                    Walk(feature, feature->GetDisplayName(), each);
                else
                    each(feature, categoryName);
            } catch (...) {
                // A node that fails while it is read is left out.
            }
        }
        path_.pop_back();
    }

private:
    std::vector<INode*> path_;
};

INode* RootOf(INodeMap* map) {
    if (!map) return nullptr;
    try {
        INode* root = map->GetNode("Root");
        return CCategoryPtr(root).IsValid() ? root : nullptr;
    } catch (...) {
        return nullptr;
    }
}

std::string IntegerText(INode* feature) {
    CIntegerPtr p(feature);
    const int64_t value = SafeGetIntValue(p);
    switch (SafeGetIntRepresentation(p)) {
    case IPV4Address:
        return FormatIPv4Value(value);
    case HexNumber:
        return FormatHexValue(value);
    default:
        return FormatIntValue(value, SafeGetIntMin(p) < SafeGetIntMax(p));
    }
}

std::string RegisterText(INode* feature) {
    CRegisterPtr p(feature);
    const int64_t length = SafeGetRegisterLength(p);
    if (length <= 0 || length > kMaxRegisterLength) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    // A register that can't be read is left out rather than saved as zeros.
    if (!TryGetRegister(p, bytes.data(), length)) return {};
    return FormatRegisterBytes(bytes.data(), bytes.size());
}

std::string ValueText(INode* feature, EInterfaceType type) {
    switch (type) {
    case intfIInteger:
        return IntegerText(feature);
    case intfIBoolean:
        return SafeGetBoolValue(CBooleanPtr(feature)) ? "1" : "0";
    case intfIFloat:
        return FloatText(SafeGetFloatValue(CFloatPtr(feature)));
    case intfIString:
        return SafeGetStringValue(CStringPtr(feature));
    case intfIRegister:
        return RegisterText(feature);
    case intfIEnumeration: {
        CEnumEntryPtr entry = SafeGetEnumCurrentEntry(CEnumerationPtr(feature));
        INode* node = dynamic_cast<INode*>(static_cast<IEnumEntry*>(entry));
        return node ? EnumEntryText(node) : std::string();
    }
    default:
        return {};
    }
}

bool LoadInteger(INode* feature, const std::string& text) {
    CIntegerPtr p(feature);
    const int64_t min = SafeGetIntMin(p), max = SafeGetIntMax(p), inc = SafeGetIntInc(p);
    int64_t value;
    switch (SafeGetIntRepresentation(p)) {
    case IPV4Address:
        value = ParseIPv4Value(text);
        break;
    case HexNumber:
        value = static_cast<int64_t>(ParseHexValue(text));
        break;
    default:
        value = ParseDecimalValue(text, min < max);
        break;
    }
    value = SnapIntDown(value, min, inc);
    if (value < min || value > max) return false;
    return TrySetIntValue(p, value);
}

bool LoadFloat(INode* feature, const std::string& text) {
    CFloatPtr p(feature);
    const double min = SafeGetFloatMin(p), max = SafeGetFloatMax(p);
    const double inc = SafeFloatHasInc(p) ? SafeGetFloatInc(p) : 0.0;
    std::optional<double> parsed = ParseFloat(text);
    // Text that holds no number, or no finite one, sets nothing.
    if (!parsed || !std::isfinite(*parsed)) return false;
    const double value = SnapFloatNearest(*parsed, min, inc);
    if (max >= min && (value < min || value > max)) return false;
    return TrySetFloatValue(p, value);
}

bool LoadString(INode* feature, std::string text) {
    CStringPtr p(feature);
    const int64_t maxLength = SafeGetStringMaxLength(p);
    // A length that could not be read (0) cuts nothing.
    if (maxLength > 0 && static_cast<uint64_t>(text.size()) > static_cast<uint64_t>(maxLength))
        text.resize(static_cast<size_t>(maxLength));
    return TrySetStringValue(p, text);
}

bool LoadRegister(INode* feature, const std::string& text) {
    CRegisterPtr p(feature);
    const int64_t length = SafeGetRegisterLength(p);
    // Every byte takes at least one character, so a text shorter than the
    // register can't fill it; only a text that gives every byte is written.
    if (length <= 0 || length > kMaxRegisterLength || static_cast<uint64_t>(length) > text.size())
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(length), 0);
    if (ParseRegisterBytes(bytes.data(), bytes.size(), text) != bytes.size()) return false;
    return TrySetRegister(p, bytes.data(), length);
}

bool LoadEnumeration(INode* feature, const std::string& text, const std::function<void()>& pixelFormatSet) {
    CEnumerationPtr p(feature);
    NodeList_t entries;
    TryGetEnumEntries(p, entries);
    for (INode* entry : entries) {
        // Files written before entries were named by their symbolic names hold the display name.
        if (!entry || !SafeIsAvailable(entry) || (EnumEntryText(entry) != text && entry->GetDisplayName() != text))
            continue;
        const bool set = TrySetEnumValue(p, SafeGetEnumEntrySymbolic(CEnumEntryPtr(entry)));
        if (feature->GetName() == "PixelFormat" && pixelFormatSet) pixelFormatSet();
        return set;
    }
    return false;
}

} // namespace

PropertyFileResult SaveCameraProperties(INodeMap* map, const std::string& path, const std::string& modelName,
                                        const std::string& cameraName) {
    PropertyFileResult result;
    INode* root = RootOf(map);
    if (!root) return result;
    IniDocument file;
    file.Set(kFileInfoSection, "Model Name", modelName);
    file.Set(kFileInfoSection, "Camera Name", cameraName);
    FeatureWalk().Walk(root, "Root", [&](INode* feature, const std::string& category) {
        const EAccessMode access = SafeGetAccessMode(feature);
        if (access != RO && access != RW) return;
        const EInterfaceType type = feature->GetPrincipalInterfaceType();
        const char* key = KindKey(type);
        if (!key) return;
        const std::string text = ValueText(feature, type);
        if (text.empty()) return;
        file.Set(SectionName(category, feature), key, text);
        ++result.features;
    });
    result.ok = file.Save(path);
    return result;
}

PropertyFileResult LoadCameraProperties(INodeMap* map, const std::string& path,
                                        const std::function<void()>& pixelFormatSet) {
    PropertyFileResult result;
    INode* root = RootOf(map);
    IniDocument file;
    if (!root || !file.Load(path, kMaxPropertyFileSize)) return result;
    FeatureWalk().Walk(root, "Root", [&](INode* feature, const std::string& category) {
        const EAccessMode access = SafeGetAccessMode(feature);
        if (access != WO && access != RW) return;
        const EInterfaceType type = feature->GetPrincipalInterfaceType();
        const char* key = KindKey(type);
        if (!key) return;
        const std::optional<std::string> text = file.Get(SectionName(category, feature), key);
        if (!text) return;
        bool set = false;
        switch (type) {
        case intfIInteger:
            set = LoadInteger(feature, *text);
            break;
        case intfIBoolean:
            set = TrySetBoolValue(CBooleanPtr(feature), text->empty() || (*text)[0] != '0');
            break;
        case intfIFloat:
            set = LoadFloat(feature, *text);
            break;
        case intfIString:
            set = LoadString(feature, *text);
            break;
        case intfIRegister:
            set = LoadRegister(feature, *text);
            break;
        case intfIEnumeration:
            set = LoadEnumeration(feature, *text, pixelFormatSet);
            break;
        default:
            break;
        }
        if (set) ++result.features;
    });
    result.ok = true;
    return result;
}

std::string DefaultPropertyFileName(const std::string& modelName) {
    std::string model = modelName;
    for (char& c : model)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    return "CameraProperty." + model + ".ini";
}

namespace {

template <class F> PropertyFileResult StoppedWhile(CChildFrame& child, IPropertyFileHost& host, F&& work) {
    const bool wasRunning = child.running != 0;
    if (wasRunning) {
        host.StopChild(&child);
        host.RefreshModeForm();
    }
    PropertyFileResult result = work();
    if (wasRunning) {
        host.StartChild(&child, CChildFrame::StartReason::Restart);
        host.RefreshModeForm();
    }
    return result;
}

} // namespace

PropertyFileResult SavePropertyFile(CChildFrame& child, const std::string& path, IPropertyFileHost& host) {
    return StoppedWhile(
        child, host, [&] { return SaveCameraProperties(child.nodeMap, path, child.modelName, child.title); });
}

PropertyFileResult LoadPropertyFile(CChildFrame& child, const std::string& path, IPropertyFileHost& host) {
    const bool wasRunning = child.running != 0;
    PropertyFileResult result = StoppedWhile(child, host, [&] {
        return LoadCameraProperties(child.nodeMap, path, [&] { host.PostPixelFormatCheck(&child); });
    });
    if (!wasRunning) host.PostGridReset(4);
    return result;
}

std::optional<PropertyFileResult> OnPropertyFile(CChildFrame& child, bool save, IPropertyFileHost& host) {
    const std::string path = host.AskPropertyFilePath(save, DefaultPropertyFileName(child.modelName));
    if (path.empty()) return std::nullopt;
    return save ? SavePropertyFile(child, path, host) : LoadPropertyFile(child, path, host);
}

} // namespace qorcam::viewer
