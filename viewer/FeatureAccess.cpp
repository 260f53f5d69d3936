// FeatureAccess: reads and writes of camera features that never let a node-map exception out.
#include "FeatureAccess.h"

#include <atomic>
#include <cstdio>

namespace qorcam::viewer {
namespace {

std::atomic<bool (*)()> g_guard{nullptr};
std::atomic<void (*)(const std::string&)> g_sink{nullptr};
thread_local std::string t_lastFailure;

bool GuardPasses() {
    auto guard = g_guard.load();
    return guard && guard();
}

template <class T> std::string NodeName(T* p) {
    try {
        if (auto* node = dynamic_cast<genapi::INode*>(p)) return node->GetName();
    } catch (...) {
    }
    return {};
}

/// A failed attempt is never repeated: a camera that refused once is asked
/// again by the user, not by a loop here.
bool RetryDecision(int /*attempt*/, bool /*retryAllowed*/) {
    return false;
}

template <class T, class R, class F>
R Attempt(T* p, const char* label, R neutral, bool guarded, bool retryAllowed, F&& call) {
    int attempt = 0;
    if (guarded && !GuardPasses()) return neutral;
    for (;;) {
        try {
            return call();
        } catch (...) {
            ++attempt;
            char text[512];
            std::snprintf(text, sizeof text, "[%s]\n\r%s error\n\rTryNum:%d", NodeName(p).c_str(), label,
                          attempt);
            t_lastFailure = text;
            if (auto sink = g_sink.load()) sink(t_lastFailure);
            if (!RetryDecision(attempt, retryAllowed)) return neutral;
        }
    }
}

template <class T, class R, class F>
R Get(const genapi::CPointer<T>& p, const char* label, R neutral, F&& call) {
    return Attempt(static_cast<T*>(p), label, neutral, true, false, [&] { return call(*p); });
}

template <class T, class F>
bool Try(const genapi::CPointer<T>& p, const char* label, F&& call, bool retry = true) {
    return Attempt(static_cast<T*>(p), label, false, false, retry, [&] {
        call(*p);
        return true;
    });
}

} // namespace

void SetFeatureGuard(bool (*guard)()) {
    g_guard = guard;
}
void SetFeatureFailureSink(void (*sink)(const std::string&)) {
    g_sink = sink;
}
const std::string& LastFeatureFailure() {
    return t_lastFailure;
}

int64_t SafeGetIntValue(genapi::CIntegerPtr p) {
    return Get(p, "Get node value", int64_t{0}, [](genapi::IInteger& n) { return n.GetValue(false, false); });
}
bool SafeGetBoolValue(genapi::CBooleanPtr p) {
    return Get(p, "Get node value", false, [](genapi::IBoolean& n) { return n.GetValue(false, false); });
}
double SafeGetFloatValue(genapi::CFloatPtr p) {
    return Get(p, "Get node value", 0.0, [](genapi::IFloat& n) { return n.GetValue(false, false); });
}
std::string SafeGetStringValue(genapi::CStringPtr p) {
    return Get(p, "Get node value", std::string(),
               [](genapi::IString& n) { return n.GetValue(false, false); });
}
int64_t SafeGetEnumEntryValue(genapi::CEnumEntryPtr p) {
    return Get(p, "Get node value", int64_t{0}, [](genapi::IEnumEntry& n) { return n.GetValue(); });
}
std::string SafeGetRegister(genapi::CRegisterPtr p) {
    return Get(p, "Get content string", std::string(),
               [](genapi::IRegister& n) { return n.ToString(false, false); });
}
std::string SafeValueToString(genapi::CValuePtr p) {
    return Get(p, "Get content string", std::string(),
               [](genapi::IValue& n) { return n.ToString(false, false); });
}
std::string SafeStringToString(genapi::CStringPtr p) {
    return Get(p, "Get content string", std::string(),
               [](genapi::IString& n) { return n.ToString(false, false); });
}
int64_t SafeGetIntMin(genapi::CIntegerPtr p) {
    return Get(p, "Get minimum value", int64_t{0}, [](genapi::IInteger& n) { return n.GetMin(); });
}
int64_t SafeGetIntMax(genapi::CIntegerPtr p) {
    return Get(p, "Get maximum value", int64_t{0}, [](genapi::IInteger& n) { return n.GetMax(); });
}
int64_t SafeGetIntInc(genapi::CIntegerPtr p) {
    return Get(p, "Get increment", int64_t{0}, [](genapi::IInteger& n) { return n.GetInc(); });
}
double SafeGetFloatMin(genapi::CFloatPtr p) {
    return Get(p, "Get minimum value", 0.0, [](genapi::IFloat& n) { return n.GetMin(); });
}
double SafeGetFloatMax(genapi::CFloatPtr p) {
    return Get(p, "Get maximum value", 0.0, [](genapi::IFloat& n) { return n.GetMax(); });
}
double SafeGetFloatInc(genapi::CFloatPtr p) {
    return Get(p, "Get increment", 0.0, [](genapi::IFloat& n) { return n.GetInc(); });
}
bool SafeFloatHasInc(genapi::CFloatPtr p) {
    return Get(p, "Check has a constant increment", false, [](genapi::IFloat& n) { return n.HasInc(); });
}
genapi::CEnumEntryPtr SafeGetEnumCurrentEntry(genapi::CEnumerationPtr p) {
    return Get(p, "Get the current entry", genapi::CEnumEntryPtr(), [](genapi::IEnumeration& n) {
        return genapi::CEnumEntryPtr(n.GetCurrentEntry(false, false));
    });
}
genapi::ERepresentation SafeGetIntRepresentation(genapi::CIntegerPtr p) {
    return Get(p, "Get recommended representation", genapi::ERepresentation{},
               [](genapi::IInteger& n) { return n.GetRepresentation(); });
}
std::string SafeGetEnumEntrySymbolic(genapi::CEnumEntryPtr p) {
    return Get(p, "Get node value", std::string(), [](genapi::IEnumEntry& n) { return n.GetSymbolic(); });
}

std::string EnumEntryText(genapi::INode* entry) {
    if (!entry) return {};
    const std::string display = entry->GetDisplayName();
    if (display != entry->GetName()) return display;
    const std::string symbolic = SafeGetEnumEntrySymbolic(genapi::CEnumEntryPtr(entry));
    return symbolic.empty() ? display : symbolic;
}
int64_t SafeGetRegisterLength(genapi::CRegisterPtr p) {
    return Get(p, "Retrieves the Length of the register", int64_t{0},
               [](genapi::IRegister& n) { return n.GetLength(); });
}
int64_t SafeGetStringMaxLength(genapi::CStringPtr p) {
    return Get(p, "Retrieves the maximum length of the string", int64_t{0},
               [](genapi::IString& n) { return n.GetMaxLength(); });
}

genapi::EAccessMode SafeGetAccessMode(genapi::INode* node) {
    try {
        return node ? node->GetAccessMode() : genapi::_UndefinedAccesMode;
    } catch (...) {
        return genapi::_UndefinedAccesMode;
    }
}

bool SafeIsAvailable(genapi::INode* node) {
    const genapi::EAccessMode m = SafeGetAccessMode(node);
    return m != genapi::NI && m != genapi::NA && m != genapi::_UndefinedAccesMode;
}

bool SafeIsSelector(genapi::INode* node) {
    try {
        genapi::CSelectorPtr s(node);
        return s.IsValid() && s->IsSelector();
    } catch (...) {
        return false;
    }
}

bool TrySetIntValue(genapi::CIntegerPtr p, int64_t value) {
    return Try(p, "Set node value", [value](genapi::IInteger& n) { n.SetValue(value, true); });
}
bool TrySetBoolValue(genapi::CBooleanPtr p, bool value) {
    return Try(p, "Set node value", [value](genapi::IBoolean& n) { n.SetValue(value, true); });
}
bool TrySetFloatValue(genapi::CFloatPtr p, double value) {
    return Try(p, "Set node value", [value](genapi::IFloat& n) { n.SetValue(value, true); });
}
bool TrySetStringValue(genapi::CStringPtr p, const std::string& value) {
    return Try(p, "Set node value", [&value](genapi::IString& n) { n.SetValue(value, true); });
}
bool TrySetEnumValue(genapi::CEnumerationPtr p, const std::string& symbolic) {
    return Try(p, "Set node value", [&symbolic](genapi::IEnumeration& n) { n = symbolic; });
}
bool TryGetEnumEntries(genapi::CEnumerationPtr p, genapi::NodeList_t& entries) {
    return Try(p, "Get list of entry nodes",
               [&entries](genapi::IEnumeration& n) { entries = n.GetEntries(); });
}
bool TryGetRegister(genapi::CRegisterPtr p, uint8_t* buffer, int64_t length) {
    return Try(p, "Fills a buffer with the register's contents",
               [=](genapi::IRegister& n) { n.Get(buffer, length, false, false); });
}
bool TrySetRegister(genapi::CRegisterPtr p, const uint8_t* buffer, int64_t length) {
    return Try(p, "Set the register's contents", [=](genapi::IRegister& n) { n.Set(buffer, length, true); });
}
bool TryExecuteCommand(genapi::CCommandPtr p, bool retryAllowed) {
    return Try(
        p, "Execute the command", [](genapi::ICommand& n) { n.Execute(true); }, retryAllowed);
}

bool IsResetCommand(const std::string& displayName) {
    return displayName == "DeviceReset" || displayName == "Device Reset" || displayName == "Camerareset" ||
           displayName == "Camera Reset";
}

} // namespace qorcam::viewer
