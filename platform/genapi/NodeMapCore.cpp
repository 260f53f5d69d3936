// NodeMapCore: parsing, add-on merging, node creation, resolution and the loop check.
#include "genapi/NodeMapCore.h"

#include "genapi/EnumerationNodes.h"
#include "genapi/FormulaNodes.h"
#include "genapi/GenericException.h"
#include "genapi/PortNode.h"
#include "genapi/RegisterNodes.h"
#include "genapi/ValueNodes.h"

#include <cstring>
#include <unordered_set>

namespace qorcam::genapi {

namespace {

bool IsNodeElement(const char* name) {
    static const char* kinds[] = {
        "Node",     "Category",  "Integer",      "IntReg",     "MaskedIntReg",   "Float",
        "FloatReg", "Converter", "IntConverter", "SwissKnife", "IntSwissKnife",  "Enumeration",
        "Command",  "Boolean",   "String",       "StringReg",  "Register",       "StructReg",
        "Port",     "ConfRom",   "TextDesc",     "IntKey",     "AdvFeatureLock", "SmartFeature"};
    for (const char* k : kinds)
        if (std::strcmp(name, k) == 0) return true;
    return false;
}

pugi::xml_node ParseDescription(pugi::xml_document& doc, const char* text, size_t length, const char* what) {
    pugi::xml_parse_result result = doc.load_buffer(text, length, pugi::parse_default, pugi::encoding_auto);
    if (!result)
        throw LogicalErrorException(std::string(what) + " is not well-formed XML: " + result.description() +
                                    " at offset " + std::to_string(result.offset));
    pugi::xml_node root = doc.document_element();
    if (std::strcmp(root.name(), "RegisterDescription") != 0)
        throw LogicalErrorException(std::string(what) + " has no RegisterDescription element but <" +
                                    root.name() + ">");
    if (pugi::xml_attribute major = root.attribute("SchemaMajorVersion")) {
        if (std::strcmp(major.value(), "1") != 0)
            throw LogicalErrorException(std::string(what) + " uses schema version " + major.value() +
                                        ", this node map reads version 1");
    }
    return root;
}

} // namespace

NodeMapCore::Depth::Depth(NodeMapCore& core, const NodeBase& node) : core_(core) {
    if (++core_.depth_ > kMaxDepth) {
        --core_.depth_;
        throw LogicalErrorException("node '" + node.Name() +
                                    "': its value depends on itself, or on a chain of more than " +
                                    std::to_string(kMaxDepth) + " nodes");
    }
}

NodeBase* NodeMapCore::Find(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

NodeList_t NodeMapCore::Nodes() const {
    NodeList_t list;
    list.reserve(nodes_.size());
    for (const auto& n : nodes_)
        list.push_back(n.get());
    return list;
}

NodeBase* NodeMapCore::Add(std::unique_ptr<NodeBase> node) {
    if (node->Name().empty())
        throw LogicalErrorException("a <" + node->Kind() + "> node has no Name attribute");
    if (nodes_.size() >= kMaxNodes)
        throw LogicalErrorException("the description has more than " + std::to_string(kMaxNodes) + " nodes");
    auto [it, inserted] = byName_.emplace(node->Name(), node.get());
    if (!inserted) throw LogicalErrorException("the description defines node '" + node->Name() + "' twice");
    nodes_.push_back(std::move(node));
    return nodes_.back().get();
}

NodeBase* NodeMapCore::CreateFromElement(const pugi::xml_node& e, int depth,
                                         const std::string& nameOverride) {
    if (depth > kMaxNesting) throw LogicalErrorException("the description nests nodes deeper than allowed");
    std::string kind = e.name();
    if (kind == "StructReg") {
        // Every StructEntry is a bit field over the same register: it takes the
        // register's elements first and then its own.
        NodeBase* last = nullptr;
        for (pugi::xml_node entry = e.child("StructEntry"); entry;
             entry = entry.next_sibling("StructEntry")) {
            auto node = std::make_unique<IntRegNode>(*this, "StructEntry", RO);
            node->ConfigureChildren(e, "StructEntry");
            node->Configure(entry);
            last = Add(std::move(node));
        }
        return last;
    }
    std::unique_ptr<NodeBase> node;
    if (kind == "Integer")
        node = std::make_unique<IntegerNode>(*this);
    else if (kind == "Float")
        node = std::make_unique<FloatNode>(*this);
    else if (kind == "Boolean")
        node = std::make_unique<BooleanNode>(*this);
    else if (kind == "String")
        node = std::make_unique<StringNode>(*this);
    else if (kind == "Command")
        node = std::make_unique<CommandNode>(*this);
    else if (kind == "Category")
        node = std::make_unique<CategoryNode>(*this);
    else if (kind == "Port")
        node = std::make_unique<PortNode>(*this);
    else if (kind == "Enumeration")
        node = std::make_unique<EnumerationNode>(*this);
    else if (kind == "EnumEntry")
        node = std::make_unique<EnumEntryNode>(*this);
    else if (kind == "IntSwissKnife")
        node = std::make_unique<IntSwissKnifeNode>(*this);
    else if (kind == "SwissKnife")
        node = std::make_unique<SwissKnifeNode>(*this);
    else if (kind == "Converter")
        node = std::make_unique<ConverterNode>(*this);
    else if (kind == "IntConverter")
        node = std::make_unique<IntConverterNode>(*this);
    else if (kind == "IntReg" || kind == "MaskedIntReg" || kind == "ConfRom" || kind == "SmartFeature")
        node = std::make_unique<IntRegNode>(*this, kind, RO);
    else if (kind == "IntKey" || kind == "AdvFeatureLock")
        node = std::make_unique<IntRegNode>(*this, kind, WO);
    else if (kind == "FloatReg")
        node = std::make_unique<FloatRegNode>(*this);
    else if (kind == "StringReg")
        node = std::make_unique<StringRegNode>(*this, kind, RO);
    else if (kind == "TextDesc")
        node = std::make_unique<StringRegNode>(*this, kind, RO);
    else if (kind == "Register")
        node = std::make_unique<RawRegisterNode>(*this);
    else if (kind == "Node")
        node = std::make_unique<PlainNode>(*this);
    else
        throw LogicalErrorException("unknown node kind <" + kind + ">");
    node->Configure(e);
    if (!nameOverride.empty()) node->SetName(nameOverride);
    return Add(std::move(node));
}

NodeBase* NodeMapCore::CreateInline(const pugi::xml_node& element) {
    auto it = inline_.find(element.internal_object());
    if (it != inline_.end()) return it->second;
    NodeBase* node = CreateFromElement(element, 1);
    inline_.emplace(element.internal_object(), node);
    return node;
}

void NodeMapCore::CollectElements(const pugi::xml_node& parent, std::vector<pugi::xml_node>& out, int depth) {
    if (depth > kMaxNesting) throw LogicalErrorException("the description nests groups deeper than allowed");
    for (pugi::xml_node e = parent.first_child(); e; e = e.next_sibling()) {
        if (e.type() != pugi::node_element) continue;
        if (std::strcmp(e.name(), "Group") == 0)
            CollectElements(e, out, depth + 1);
        else if (IsNodeElement(e.name()))
            out.push_back(e);
    }
}

void NodeMapCore::Load(const char* xml, size_t length, const char* addon, size_t addonLength) {
    std::lock_guard lock(mutex_);
    if (loaded_) throw LogicalErrorException("the node map is loaded already");
    try {
        pugi::xml_document mainDoc, addonDoc;
        pugi::xml_node root = ParseDescription(mainDoc, xml, length, "the description");
        std::vector<pugi::xml_node> elements;
        CollectElements(root, elements, 0);
        if (addon) {
            pugi::xml_node addonRoot =
                ParseDescription(addonDoc, addon, addonLength, "the add-on description");
            std::vector<pugi::xml_node> extra;
            CollectElements(addonRoot, extra, 0);
            std::unordered_map<std::string, size_t> position;
            for (size_t i = 0; i < elements.size(); ++i)
                if (const char* n = elements[i].attribute("Name").value(); *n) position.emplace(n, i);
            for (const pugi::xml_node& e : extra) {
                auto it = position.find(e.attribute("Name").value());
                if (it != position.end() && *e.attribute("Name").value())
                    elements[it->second] = e;
                else
                    elements.push_back(e);
            }
        }
        for (const pugi::xml_node& e : elements)
            CreateFromElement(e, 0);
        inline_.clear(); // keys point into the parsed documents, which go now
        Resolver resolver(*this);
        for (size_t i = 0; i < nodes_.size(); ++i)
            nodes_[i]->Resolve(resolver);
        for (auto& n : nodes_)
            n->Validate();
        CheckValueLoops();
        ComputeCachable();
        for (auto& n : nodes_)
            if (n->GetPollingTime() > 0) polled_.push_back(n.get());
        loaded_ = true;
    } catch (const GenericException&) {
        Clear();
        throw;
    } catch (const std::bad_alloc&) {
        Clear();
        throw LogicalErrorException("the description does not fit in memory");
    } catch (const std::exception& e) {
        Clear();
        throw LogicalErrorException(std::string("the description cannot be loaded: ") + e.what());
    }
}

void NodeMapCore::Clear() {
    inline_.clear();
    byName_.clear();
    registers_.clear();
    polled_.clear();
    nodes_.clear();
}

void NodeMapCore::CheckValueLoops() {
    // Iterative depth-first search over value edges; a grey node met again
    // closes a loop, which is reported with its members.
    std::unordered_map<NodeBase*, int> colour;
    std::vector<NodeBase*> deps;
    for (auto& start : nodes_) {
        if (colour[start.get()] != 0) continue;
        struct Frame {
            NodeBase* node;
            std::vector<NodeBase*> next;
            size_t i;
        };
        std::vector<Frame> stack;
        auto push = [&](NodeBase* n) {
            colour[n] = 1;
            deps.clear();
            n->ValueDependencies(deps);
            stack.push_back({n, deps, 0});
        };
        push(start.get());
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.i == top.next.size()) {
                colour[top.node] = 2;
                stack.pop_back();
                continue;
            }
            NodeBase* next = top.next[top.i++];
            int c = colour[next];
            if (c == 1) {
                std::string chain;
                bool in = false;
                for (const Frame& f : stack) {
                    if (f.node == next) in = true;
                    if (in) chain += f.node->Name() + " -> ";
                }
                throw LogicalErrorException("the description has a loop of values: " + chain + next->Name());
            }
            if (c == 0) push(next);
        }
    }
}

void NodeMapCore::ComputeCachable() {
    // Value edges have no loops (checked before), so a post-order walk settles
    // each node after everything it reads.
    std::unordered_map<NodeBase*, bool> done;
    std::vector<NodeBase*> deps;
    for (auto& start : nodes_) {
        std::vector<std::pair<NodeBase*, bool>> stack{{start.get(), false}};
        while (!stack.empty()) {
            auto [node, expanded] = stack.back();
            stack.pop_back();
            if (done.count(node)) continue;
            deps.clear();
            node->ValueDependencies(deps);
            if (!expanded) {
                stack.push_back({node, true});
                for (NodeBase* d : deps)
                    if (!done.count(d)) stack.push_back({d, false});
                continue;
            }
            bool cachable = node->OwnCachable() && node->GetPollingTime() <= 0;
            for (NodeBase* d : deps)
                cachable = cachable && d->IsCachable();
            node->SetCachable(cachable);
            done[node] = true;
        }
    }
}

bool NodeMapCore::Connect(IPort* port, const std::string& portName, bool isDevicePort) {
    std::lock_guard lock(mutex_);
    auto* node = dynamic_cast<PortNode*>(Find(portName));
    if (!node) return false;
    node->Attach(port);
    if (isDevicePort) readOnly_ = port && port->GetAccessMode() == RO;
    InvalidateAll();
    return true;
}

void NodeMapCore::Poll(int64_t elapsed) {
    std::lock_guard lock(mutex_);
    for (NodeBase* n : polled_)
        n->AdvancePolling(elapsed);
}

void NodeMapCore::InvalidateAll() {
    std::lock_guard lock(mutex_);
    for (auto& n : nodes_)
        n->InvalidateOwnCache();
}

void NodeMapCore::PortWritten(const PortNode* port, int64_t address, int64_t length,
                              const RegisterBase* writer) {
    for (RegisterBase* r : registers_)
        if (r != writer && r->Port() == port && r->CacheOverlaps(address, length)) r->InvalidateOwnCache();
}

} // namespace qorcam::genapi
