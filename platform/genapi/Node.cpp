// Node: common elements, access rules, cross-node reads and invalidation of NodeBase.
#include "genapi/Node.h"

#include "genapi/Formula.h"
#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

namespace qorcam::genapi {

NodeBase* Resolver::Find(const NodeBase& from, const std::string& name, const char* element) const {
    NodeBase* node = core_.Find(name);
    if (!node)
        throw LogicalErrorException("node '" + from.Name() + "': <" + element + "> refers to missing node '" +
                                    name + "'");
    return node;
}

NodeBase* Resolver::Lookup(const std::string& name) const {
    return core_.Find(name);
}

NodeBase* Resolver::FindOptional(const NodeBase& from, const std::string& name, const char* element) const {
    return name.empty() ? nullptr : Find(from, name, element);
}

EAccessMode ParseAccessMode(const std::string& text) {
    if (text == "RO") return RO;
    if (text == "RW") return RW;
    if (text == "WO") return WO;
    if (text == "NA") return NA;
    if (text == "NI") return NI;
    return _UndefinedAccesMode;
}

NodeBase::NodeBase(NodeMapCore& core, std::string kind) : core_(core), kind_(std::move(kind)) {}

std::string NodeBase::Text(const pugi::xml_node& element) {
    std::string text = element.text().get();
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = text.find_last_not_of(" \t\r\n");
    return text.substr(b, e - b + 1);
}

bool ParseInt64Text(const std::string& text, int64_t& out) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n')
        ++s;
    bool negative = false;
    if (*s == '-' || *s == '+') negative = *s++ == '-';
    int base = 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*s))) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, base);
    while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n')
        ++end;
    if (*end || errno == ERANGE) return false;
    if (negative) {
        if (v > 9223372036854775808ULL) return false;
        out = static_cast<int64_t>(0 - v);
    } else {
        out = static_cast<int64_t>(v);
    }
    return true;
}

double ParseDoubleC(const char* text, char** end) {
    // Descriptions write numbers with a decimal point, whatever locale the
    // process runs under.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return strtod_l(text, end, c);
}

bool ParseDoubleText(const std::string& text, double& out) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n')
        ++s;
    if (!*s) return false;
    char* end = nullptr;
    out = ParseDoubleC(s, &end);
    if (end == s) return false;
    while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n')
        ++end;
    return *end == '\0';
}

std::string FormatDouble(double value) {
    // As "%.15g" when that reads back exactly, else as "%.17g"; always with a
    // decimal point, whatever the process's locale.
    auto format = [value](int precision) {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
        return std::string(buffer, result.ptr);
    };
    const std::string shorter = format(15);
    double back = 0;
    return ParseDoubleText(shorter, back) && back == value ? shorter : format(17);
}

ERepresentation ParseRepresentation(const std::string& text) {
    static const char* names[] = {"Linear",    "Logarithmic", "Boolean",   "PureNumber",
                                  "HexNumber", "IPV4Address", "MACAddress"};
    for (int i = 0; i < 7; ++i)
        if (text == names[i]) return static_cast<ERepresentation>(i);
    return PureNumber;
}

int64_t NodeBase::ParseInt(const pugi::xml_node& element) const {
    int64_t v = 0;
    if (!ParseInt64Text(Text(element), v))
        Fail("<" + std::string(element.name()) + "> '" + Text(element) + "' is not an integer");
    return v;
}

double NodeBase::ParseFloat(const pugi::xml_node& element) const {
    std::string text = Text(element);
    if (text == "INF" || text == "+INF") return std::numeric_limits<double>::infinity();
    if (text == "-INF") return -std::numeric_limits<double>::infinity();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return static_cast<double>(ParseInt(element));
    double v = 0.0;
    if (!ParseDoubleText(text, v))
        Fail("<" + std::string(element.name()) + "> '" + text + "' is not a number");
    return v;
}

void NodeBase::Fail(const std::string& what) const {
    throw LogicalErrorException("node '" + name_ + "': " + what);
}

void NodeBase::Configure(const pugi::xml_node& element) {
    if (pugi::xml_attribute a = element.attribute("Name")) name_ = a.value();
    if (pugi::xml_attribute a = element.attribute("NameSpace")) nameSpace_ = a.value();
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element) ConfigureElement(child);
}

void NodeBase::ConfigureChildren(const pugi::xml_node& element, const char* skip) {
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && std::strcmp(child.name(), skip) != 0)
            ConfigureElement(child);
}

bool NodeBase::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "ToolTip")
        toolTip_ = Text(child);
    else if (n == "Description")
        description_ = Text(child);
    else if (n == "DisplayName")
        displayName_ = Text(child);
    else if (n == "Visibility") {
        std::string v = Text(child);
        visibility_ = v == "Expert" ? Expert : v == "Guru" ? Guru : v == "Invisible" ? Invisible : Beginner;
    } else if (n == "pIsImplemented")
        isImplementedName_ = Text(child);
    else if (n == "pIsAvailable")
        isAvailableName_ = Text(child);
    else if (n == "pIsLocked")
        isLockedName_ = Text(child);
    else if (n == "pBlockPolling")
        blockPollingName_ = Text(child);
    else if (n == "ImposedAccessMode")
        imposed_ = ParseAccessMode(Text(child));
    else if (n == "pSelected")
        selectedNames_.push_back(Text(child));
    else if (n == "pInvalidator")
        invalidatorNames_.push_back(Text(child));
    else if (n == "Streamable")
        streamable_ = Text(child) == "Yes";
    else if (n == "IsDeprecated")
        deprecated_ = Text(child) == "Yes";
    else if (n == "PollingTime")
        pollingTime_ = ParseInt(child);
    else if (n == "Cachable") {
        std::string v = Text(child);
        caching_ = v == "NoCache" ? NoCache : v == "WriteAround" ? WriteAround : WriteThrough;
        hasCachingElement_ = true;
    } else
        return false;
    return true;
}

void NodeBase::Resolve(const Resolver& r) {
    isImplemented_ = r.FindOptional(*this, isImplementedName_, "pIsImplemented");
    isAvailable_ = r.FindOptional(*this, isAvailableName_, "pIsAvailable");
    isLocked_ = r.FindOptional(*this, isLockedName_, "pIsLocked");
    blockPolling_ = r.FindOptional(*this, blockPollingName_, "pBlockPolling");
    for (const auto& n : selectedNames_) {
        NodeBase* target = r.Find(*this, n, "pSelected");
        selectedNodes_.push_back(target);
        target->AddSelecting(this);
    }
    for (const auto& n : invalidatorNames_) {
        NodeBase* target = r.Find(*this, n, "pInvalidator");
        invalidators_.push_back(target);
        target->AddInvalidates(this);
    }
}

void NodeBase::ValueDependencies(std::vector<NodeBase*>&) const {}

std::unique_lock<std::recursive_mutex> NodeBase::Lock() const {
    return std::unique_lock(core_.Mutex());
}

std::string NodeBase::GetName(bool fullQualified) const {
    return fullQualified ? (nameSpace_ == "Standard" ? "Std::" : "Cust::") + name_ : name_;
}

ECachingMode NodeBase::GetCachingMode() const {
    if (hasCachingElement_) return caching_;
    return cachable_ ? WriteThrough : NoCache;
}

INodeMap* NodeBase::GetNodeMap() const {
    return &core_.Owner();
}

EAccessMode NodeBase::GetAccessMode() {
    auto lock = Lock();
    NodeMapCore::Depth depth(core_, *this);
    // A condition the device cannot answer (port failure, node not readable)
    // makes the node unavailable; a fault of the description itself (a loop)
    // is still raised.
    auto holds = [this](NodeBase* condition, bool unknown) {
        try {
            return TruthOf(condition);
        } catch (const AccessException&) {
            return unknown;
        } catch (const RuntimeException&) {
            return unknown;
        }
    };
    if (isImplemented_ && !holds(isImplemented_, false)) return NI;
    if (isAvailable_ && !holds(isAvailable_, false)) return NA;
    EAccessMode mode = BaseAccessMode();
    if (mode == NI || mode == NA || mode == _UndefinedAccesMode) return mode;
    bool readable = IsReadable(mode), writable = IsWritable(mode);
    if (imposed_ != _UndefinedAccesMode) {
        // An imposed mode only narrows what the node can do.
        if (imposed_ == NI || imposed_ == NA) return imposed_;
        readable = readable && IsReadable(imposed_);
        writable = writable && IsWritable(imposed_);
    }
    if (writable && (core_.ReadOnly() || (isLocked_ && holds(isLocked_, true)))) writable = false;
    if (readable && writable) return RW;
    if (readable) return RO;
    if (writable) return WO;
    return NA;
}

void NodeBase::CheckReadable() {
    EAccessMode mode = GetAccessMode();
    if (!IsReadable(mode))
        throw AccessException("node '" + name_ + "' is not readable (access mode " + AccessModeName(mode) +
                              ")");
}

void NodeBase::CheckWritable() {
    EAccessMode mode = GetAccessMode();
    if (!IsWritable(mode))
        throw AccessException("node '" + name_ + "' is not writable (access mode " + AccessModeName(mode) +
                              ")");
}

void NodeBase::NotifyWritten() {
    for (NodeBase* node : invalidates_)
        node->InvalidateNode();
}

void NodeBase::InvalidateNode() {
    auto lock = Lock();
    InvalidateRecursive(core_.NextEpoch());
}

void NodeBase::InvalidateRecursive(uint64_t epoch) {
    // Iterative: a description may chain many thousands of nodes.
    std::vector<NodeBase*> pending{this};
    std::vector<NodeBase*> deps;
    while (!pending.empty()) {
        NodeBase* node = pending.back();
        pending.pop_back();
        if (node->invalidateEpoch_ == epoch) continue;
        node->invalidateEpoch_ = epoch;
        node->InvalidateOwnCache();
        deps.clear();
        node->ValueDependencies(deps);
        pending.insert(pending.end(), deps.begin(), deps.end());
    }
}

void NodeBase::AdvancePolling(int64_t elapsed) {
    if (pollingTime_ <= 0) return;
    if (blockPolling_) {
        try {
            if (TruthOf(blockPolling_)) return;
        } catch (const std::exception&) {
        }
    }
    pollingElapsed_ += elapsed;
    if (pollingElapsed_ >= pollingTime_) {
        pollingElapsed_ = 0;
        InvalidateNode();
    }
}

bool NodeBase::IsSelector() {
    auto lock = Lock();
    return !selectedNodes_.empty();
}

NodeList_t NodeBase::GetSelectedFeatures() {
    auto lock = Lock();
    return NodeList_t(selectedNodes_.begin(), selectedNodes_.end());
}

NodeList_t NodeBase::GetSelectingFeatures() {
    auto lock = Lock();
    return NodeList_t(selecting_.begin(), selecting_.end());
}

int64_t NodeBase::ReadAsInt(bool) {
    Fail(kind_ + " node has no integer value");
}
void NodeBase::WriteAsInt(int64_t) {
    Fail(kind_ + " node has no integer value");
}
double NodeBase::ReadAsFloat(bool ignoreCache) {
    return static_cast<double>(ReadAsInt(ignoreCache));
}
void NodeBase::WriteAsFloat(double value) {
    WriteAsInt(RoundToInt64(value));
}
double NodeBase::NumericMin() {
    return -std::numeric_limits<double>::max();
}
double NodeBase::NumericMax() {
    return std::numeric_limits<double>::max();
}

int64_t NodeBase::IntOf(NodeBase* node, bool ignoreCache) {
    NodeMapCore::Depth depth(core_, *this);
    return node->ReadAsInt(ignoreCache);
}

double NodeBase::FloatOf(NodeBase* node, bool ignoreCache) {
    NodeMapCore::Depth depth(core_, *this);
    return node->ReadAsFloat(ignoreCache);
}

void NodeBase::WriteInt(NodeBase* node, int64_t value) {
    NodeMapCore::Depth depth(core_, *this);
    node->WriteAsInt(value);
}

void NodeBase::WriteFloat(NodeBase* node, double value) {
    NodeMapCore::Depth depth(core_, *this);
    node->WriteAsFloat(value);
}

bool NodeBase::TruthOf(NodeBase* node) {
    return IntOf(node, false) != 0;
}

int64_t NodeBase::Eval(const NumberRef<int64_t>& ref, int64_t fallback, bool ignoreCache) {
    if (!ref.present) return fallback;
    return ref.node ? IntOf(ref.node, ignoreCache) : ref.constant;
}

double NodeBase::Eval(const NumberRef<double>& ref, double fallback, bool ignoreCache) {
    if (!ref.present) return fallback;
    return ref.node ? FloatOf(ref.node, ignoreCache) : ref.constant;
}

void NodeBase::ResolveRef(const Resolver& r, NumberRef<int64_t>& ref, const char* element) {
    if (!ref.name.empty()) ref.node = r.Find(*this, ref.name, element);
}

void NodeBase::ResolveRef(const Resolver& r, NumberRef<double>& ref, const char* element) {
    if (!ref.name.empty()) ref.node = r.Find(*this, ref.name, element);
}

bool NodeBase::ConfigureNumber(const pugi::xml_node& child, const char* constName, const char* pointerName,
                               NumberRef<int64_t>& ref) {
    if (std::strcmp(child.name(), constName) == 0) {
        ref = {true, ParseInt(child), {}, nullptr};
        return true;
    }
    if (pointerName && std::strcmp(child.name(), pointerName) == 0) {
        ref = {true, 0, Text(child), nullptr};
        return true;
    }
    return false;
}

bool NodeBase::ConfigureNumber(const pugi::xml_node& child, const char* constName, const char* pointerName,
                               NumberRef<double>& ref) {
    if (std::strcmp(child.name(), constName) == 0) {
        ref = {true, ParseFloat(child), {}, nullptr};
        return true;
    }
    if (pointerName && std::strcmp(child.name(), pointerName) == 0) {
        ref = {true, 0.0, Text(child), nullptr};
        return true;
    }
    return false;
}

} // namespace qorcam::genapi
