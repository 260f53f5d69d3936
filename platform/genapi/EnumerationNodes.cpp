// EnumerationNodes: entries, and the enumeration's value checked against them.
#include "genapi/EnumerationNodes.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"

#include <cstdlib>

namespace qorcam::genapi {

// ---- EnumEntry ----

bool EnumEntryNode::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "Value") {
        value_ = ParseInt(child);
        hasValue_ = true;
    } else if (n == "NumericValue") {
        numeric_ = ParseFloat(child);
        hasNumeric_ = true;
    } else if (n == "Symbolic") {
        symbolic_ = Text(child);
    } else if (n == "IsSelfClearing") {
        selfClearing_ = Text(child) == "Yes";
    } else {
        return NodeBase::ConfigureElement(child);
    }
    return true;
}

void EnumEntryNode::Validate() {
    if (!hasValue_) Fail("EnumEntry has no <Value>");
}

void EnumEntryNode::FromString(const std::string&, bool) {
    throw AccessException("node '" + name_ + "' is an enumeration entry and cannot be written");
}

// ---- Enumeration ----

bool EnumerationNode::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "EnumEntry") {
        std::string entryName = child.attribute("Name").value();
        if (entryName.empty()) Fail("<EnumEntry> without a Name attribute");
        // Entry names repeat across enumerations ("Off", "On"), so the node
        // name carries the enumeration's name.
        auto* entry = dynamic_cast<EnumEntryNode*>(
            core_.CreateFromElement(child, 1, "EnumEntry_" + name_ + "_" + entryName));
        if (!entry) Fail("entry '" + entryName + "' could not be made");
        if (entry->GetSymbolic().empty()) entry->SetSymbolic(entryName);
        entries_.push_back(entry);
        return true;
    }
    if (ConfigureNumber(child, "Value", "pValue", value_)) return true;
    return NodeBase::ConfigureElement(child);
}

void EnumerationNode::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    ResolveRef(r, value_, "pValue");
}

void EnumerationNode::Validate() {
    if (!value_.present) Fail("Enumeration has neither <Value> nor <pValue>");
}

void EnumerationNode::ValueDependencies(std::vector<NodeBase*>& out) const {
    if (value_.node) out.push_back(value_.node);
}

EAccessMode EnumerationNode::BaseAccessMode() {
    return value_.node ? value_.node->GetAccessMode() : RW;
}

NodeList_t EnumerationNode::GetEntries() {
    auto lock = Lock();
    return NodeList_t(entries_.begin(), entries_.end());
}

IEnumEntry* EnumerationNode::GetEntryByName(const std::string& symbolic) {
    auto lock = Lock();
    for (EnumEntryNode* e : entries_)
        if (e->GetSymbolic() == symbolic) return e;
    return nullptr;
}

IEnumEntry* EnumerationNode::GetEntry(int64_t value) {
    auto lock = Lock();
    for (EnumEntryNode* e : entries_)
        if (e->GetValue() == value) return e;
    return nullptr;
}

int64_t EnumerationNode::GetIntValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    return Eval(value_, 0, ignoreCache);
}

IEnumEntry* EnumerationNode::GetCurrentEntry(bool verify, bool ignoreCache) {
    auto lock = Lock();
    return GetEntry(GetIntValue(verify, ignoreCache));
}

void EnumerationNode::SetIntValue(int64_t value, bool) {
    auto lock = Lock();
    CheckWritable();
    EnumEntryNode* entry = nullptr;
    for (EnumEntryNode* e : entries_)
        if (e->GetValue() == value) entry = e;
    if (!entry)
        throw OutOfRangeException("node '" + name_ + "': " + std::to_string(value) +
                                  " is not the value of an entry");
    EAccessMode mode = entry->GetAccessMode();
    if (!IsAvailable(mode))
        throw AccessException("node '" + name_ + "': entry '" + entry->GetSymbolic() +
                              "' is not available (" + AccessModeName(mode) + ")");
    if (value_.node)
        WriteInt(value_.node, value);
    else
        value_.constant = value;
    NotifyWritten();
}

std::string EnumerationNode::ToString(bool verify, bool ignoreCache) {
    auto lock = Lock();
    int64_t value = GetIntValue(verify, ignoreCache);
    IEnumEntry* entry = GetEntry(value);
    if (!entry)
        throw RuntimeException("node '" + name_ + "': the value " + std::to_string(value) +
                               " matches no entry");
    return entry->GetSymbolic();
}

void EnumerationNode::FromString(const std::string& value, bool verify) {
    auto lock = Lock();
    IEnumEntry* entry = GetEntryByName(value);
    if (!entry) throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not an entry");
    SetIntValue(entry->GetValue(), verify);
}

} // namespace qorcam::genapi
