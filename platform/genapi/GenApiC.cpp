// GenApiC: the flat C interface; every entry point catches and keeps the failure text per thread.
#include "genapi/GenApiC.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMap.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace qorcam::genapi;

namespace {

// The calling thread's last failure text, cut to fit. A plain array: a
// thread-local object with a destructor would keep a shared library that
// holds this interface from unloading while the thread lives.
constexpr size_t kLastErrorSize = 1024;
thread_local char lastError[kLastErrorSize];

/// A port made of the caller's two callbacks.
class CallbackPort : public IPort {
public:
    CallbackPort(QGA_READ_FN read, QGA_WRITE_FN write, void* context, bool readOnly)
        : read_(read), write_(write), context_(context), readOnly_(readOnly) {}
    void Read(void* buffer, int64_t address, int64_t length) override {
        if (!read_ ||
            read_(context_, static_cast<uint64_t>(address), buffer, static_cast<uint64_t>(length)) != 0)
            throw std::runtime_error("the port refused the read");
    }
    void Write(const void* buffer, int64_t address, int64_t length) override {
        if (readOnly_ || !write_ ||
            write_(context_, static_cast<uint64_t>(address), buffer, static_cast<uint64_t>(length)) != 0)
            throw std::runtime_error("the port refused the write");
    }
    EAccessMode GetAccessMode() override { return readOnly_ ? RO : RW; }

private:
    QGA_READ_FN read_;
    QGA_WRITE_FN write_;
    void* context_;
    bool readOnly_;
};

struct OpenedMap {
    // Ports first: members go in reverse order, so the map is destroyed
    // before the ports it may call.
    std::vector<std::unique_ptr<CallbackPort>> ports;
    std::unique_ptr<CNodeMapRef> map;
};

std::mutex openedLock;
std::map<CNodeMapRef*, std::unique_ptr<OpenedMap>> opened;

int Fail(int code, const std::string& text) {
    const size_t n = std::min(text.size(), kLastErrorSize - 1);
    std::memcpy(lastError, text.data(), n);
    lastError[n] = '\0';
    return code;
}

/// A failure found by the interface's own checks.
struct Error {
    int code;
    std::string text;
};

/// Runs one entry point's work; every exception becomes a result code and
/// the calling thread's last error text.
template <class F> int Run(F&& body) {
    try {
        body();
        return QGA_OK;
    } catch (const Error& e) {
        return Fail(e.code, e.text);
    } catch (const OutOfRangeException& e) {
        return Fail(QGA_ERR_RANGE, e.what());
    } catch (const AccessException& e) {
        return Fail(QGA_ERR_ACCESS, e.what());
    } catch (const InvalidArgumentException& e) {
        return Fail(QGA_ERR_ARGUMENT, e.what());
    } catch (const LogicalErrorException& e) {
        return Fail(QGA_ERR_LOGICAL, e.what());
    } catch (const std::bad_alloc&) {
        return Fail(QGA_ERR_RUNTIME, "out of memory");
    } catch (const std::exception& e) {
        return Fail(QGA_ERR_RUNTIME, e.what());
    } catch (...) {
        return Fail(QGA_ERR_RUNTIME, "unknown failure");
    }
}

CNodeMapRef* MapOf(QGA_NODEMAP map) {
    if (!map) throw Error{QGA_ERR_ARGUMENT, "null node map"};
    return static_cast<CNodeMapRef*>(map);
}

INode* NodeOf(QGA_NODE node) {
    if (!node) throw Error{QGA_ERR_ARGUMENT, "null node"};
    return static_cast<INode*>(node);
}

template <class T> T* As(QGA_NODE node, const char* kind) {
    T* typed = dynamic_cast<T*>(NodeOf(node));
    if (!typed) throw Error{QGA_ERR_WRONG_KIND, "node '" + NodeOf(node)->GetName() + "' is not " + kind};
    return typed;
}

template <class T> void Need(T* p, const char* what) {
    if (!p) throw Error{QGA_ERR_ARGUMENT, std::string("null ") + what};
}

int CopyText(const std::string& text, char* buffer, size_t* size) {
    if (!size) return Fail(QGA_ERR_ARGUMENT, "null size");
    size_t capacity = *size;
    *size = text.size() + 1;
    if (capacity > 0 && !buffer) return Fail(QGA_ERR_ARGUMENT, "null buffer");
    if (capacity == 0) return Fail(QGA_ERR_BUFFER_SHORT, "buffer too short");
    size_t n = std::min(capacity - 1, text.size());
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n == text.size() ? QGA_OK : Fail(QGA_ERR_BUFFER_SHORT, "buffer too short");
}

} // namespace

extern "C" {

int QgaOpenXml(const char* xml, const char* addon, QGA_NODEMAP* map) {
    return Run([&] {
        Need(xml, "description");
        Need(map, "result pointer");
        *map = nullptr;
        auto entry = std::make_unique<OpenedMap>();
        entry->map = std::make_unique<CNodeMapRef>("Device");
        if (addon)
            entry->map->_LoadXMLFromStringInject(xml, addon);
        else
            entry->map->_LoadXMLFromString(xml);
        CNodeMapRef* key = entry->map.get();
        std::lock_guard lock(openedLock);
        opened.emplace(key, std::move(entry));
        *map = key;
    });
}

int QgaOpenFile(const char* path, QGA_NODEMAP* map) {
    return Run([&] {
        Need(path, "path");
        Need(map, "result pointer");
        *map = nullptr;
        auto entry = std::make_unique<OpenedMap>();
        entry->map = std::make_unique<CNodeMapRef>("Device");
        entry->map->_LoadXMLFromFile(path);
        CNodeMapRef* key = entry->map.get();
        std::lock_guard lock(openedLock);
        opened.emplace(key, std::move(entry));
        *map = key;
    });
}

int QgaClose(QGA_NODEMAP map) {
    return Run([&] {
        std::unique_ptr<OpenedMap> entry;
        {
            std::lock_guard lock(openedLock);
            auto it = opened.find(MapOf(map));
            if (it == opened.end()) throw Error{QGA_ERR_ARGUMENT, "the node map was not opened here"};
            entry = std::move(it->second);
            opened.erase(it);
        }
    });
}

int QgaConnect(QGA_NODEMAP map, const char* portName, QGA_READ_FN read, QGA_WRITE_FN write, void* context,
               int readOnly) {
    return Run([&] {
        Need(portName, "port name");
        std::lock_guard lock(openedLock);
        auto it = opened.find(MapOf(map));
        if (it == opened.end()) throw Error{QGA_ERR_ARGUMENT, "only node maps opened here take a port"};
        auto port = std::make_unique<CallbackPort>(read, write, context, readOnly != 0);
        if (!it->second->map->_Connect(port.get(), portName))
            throw Error{QGA_ERR_NOT_FOUND, std::string("no port node named '") + portName + "'"};
        it->second->ports.push_back(std::move(port));
    });
}

int QgaPoll(QGA_NODEMAP map, int64_t elapsedMs) {
    return Run([&] { MapOf(map)->_Poll(elapsedMs); });
}

int QgaGetNode(QGA_NODEMAP map, const char* name, QGA_NODE* node) {
    return Run([&] {
        Need(name, "name");
        Need(node, "result pointer");
        INode* found = MapOf(map)->GetNode(name);
        *node = found;
        if (!found) throw Error{QGA_ERR_NOT_FOUND, std::string("no node named '") + name + "'"};
    });
}

int QgaGetNodeCount(QGA_NODEMAP map, uint32_t* count) {
    return Run([&] {
        Need(count, "count");
        *count = static_cast<uint32_t>(MapOf(map)->GetNodes().size());
    });
}

int QgaGetNodeByIndex(QGA_NODEMAP map, uint32_t index, QGA_NODE* node) {
    return Run([&] {
        Need(node, "result pointer");
        NodeList_t nodes = MapOf(map)->GetNodes();
        if (index >= nodes.size()) throw Error{QGA_ERR_NOT_FOUND, "node index out of range"};
        *node = nodes[index];
    });
}

int QgaGetText(QGA_NODE node, int which, char* buffer, size_t* size) {
    std::string text;
    int code = Run([&] {
        INode* n = NodeOf(node);
        switch (which) {
        case QGA_TEXT_NAME:
            text = n->GetName();
            break;
        case QGA_TEXT_DISPLAYNAME:
            text = n->GetDisplayName();
            break;
        case QGA_TEXT_DESCRIPTION:
            text = n->GetDescription();
            break;
        case QGA_TEXT_TOOLTIP:
            text = n->GetToolTip();
            break;
        case QGA_TEXT_NAMESPACE:
            text = n->GetNameSpace();
            break;
        case QGA_TEXT_UNIT:
            if (auto* i = dynamic_cast<IInteger*>(n))
                text = i->GetUnit();
            else if (auto* f = dynamic_cast<IFloat*>(n))
                text = f->GetUnit();
            break;
        case QGA_TEXT_SYMBOLIC:
            text = As<IEnumEntry>(node, "an enumeration entry")->GetSymbolic();
            break;
        default:
            throw Error{QGA_ERR_ARGUMENT, "unknown text kind"};
        }
    });
    return code != QGA_OK ? code : CopyText(text, buffer, size);
}

int QgaGetInterfaceType(QGA_NODE node, int32_t* type) {
    return Run([&] {
        Need(type, "result pointer");
        *type = NodeOf(node)->GetPrincipalInterfaceType();
    });
}

int QgaGetAccessMode(QGA_NODE node, int32_t* mode) {
    return Run([&] {
        Need(mode, "result pointer");
        *mode = NodeOf(node)->GetAccessMode();
    });
}

int QgaGetVisibility(QGA_NODE node, int32_t* visibility) {
    return Run([&] {
        Need(visibility, "result pointer");
        *visibility = NodeOf(node)->GetVisibility();
    });
}

int QgaGetRepresentation(QGA_NODE node, int32_t* representation) {
    return Run([&] {
        Need(representation, "result pointer");
        if (auto* i = dynamic_cast<IInteger*>(NodeOf(node)))
            *representation = i->GetRepresentation();
        else
            *representation = As<IFloat>(node, "a number")->GetRepresentation();
    });
}

int QgaGetPollingTime(QGA_NODE node, int64_t* ms) {
    return Run([&] {
        Need(ms, "result pointer");
        *ms = NodeOf(node)->GetPollingTime();
    });
}

int QgaIsCachable(QGA_NODE node, int32_t* cachable) {
    return Run([&] {
        Need(cachable, "result pointer");
        *cachable = NodeOf(node)->IsCachable() ? 1 : 0;
    });
}

int QgaIsStreamable(QGA_NODE node, int32_t* streamable) {
    return Run([&] {
        Need(streamable, "result pointer");
        *streamable = NodeOf(node)->IsStreamable() ? 1 : 0;
    });
}

int QgaGetInt(QGA_NODE node, int64_t* value) {
    return Run([&] {
        Need(value, "result pointer");
        INode* n = NodeOf(node);
        if (auto* i = dynamic_cast<IInteger*>(n))
            *value = i->GetValue();
        else if (auto* e = dynamic_cast<IEnumeration*>(n))
            *value = e->GetIntValue();
        else if (auto* f = dynamic_cast<IFloat*>(n)) {
            double d = f->GetValue();
            if (!(d > -9.2233720368547758e18 && d < 9.2233720368547758e18))
                throw Error{QGA_ERR_RANGE, "node '" + n->GetName() + "': the value does not fit 64 bits"};
            *value = static_cast<int64_t>(d);
        } else
            throw Error{QGA_ERR_WRONG_KIND, "node '" + n->GetName() + "' has no integer value"};
    });
}

int QgaSetInt(QGA_NODE node, int64_t value) {
    return Run([&] {
        INode* n = NodeOf(node);
        if (auto* i = dynamic_cast<IInteger*>(n))
            i->SetValue(value);
        else if (auto* e = dynamic_cast<IEnumeration*>(n))
            e->SetIntValue(value);
        else if (auto* f = dynamic_cast<IFloat*>(n))
            f->SetValue(static_cast<double>(value));
        else
            throw Error{QGA_ERR_WRONG_KIND, "node '" + n->GetName() + "' has no integer value"};
    });
}

int QgaGetIntRange(QGA_NODE node, int64_t* min, int64_t* max, int64_t* inc) {
    return Run([&] {
        auto* i = As<IInteger>(node, "an integer");
        if (min) *min = i->GetMin();
        if (max) *max = i->GetMax();
        if (inc) *inc = i->GetInc();
    });
}

int QgaGetFloat(QGA_NODE node, double* value) {
    return Run([&] {
        Need(value, "result pointer");
        *value = As<IFloat>(node, "a float")->GetValue();
    });
}

int QgaSetFloat(QGA_NODE node, double value) {
    return Run([&] { As<IFloat>(node, "a float")->SetValue(value); });
}

int QgaGetFloatRange(QGA_NODE node, double* min, double* max, int32_t* hasInc, double* inc) {
    return Run([&] {
        auto* f = As<IFloat>(node, "a float");
        if (min) *min = f->GetMin();
        if (max) *max = f->GetMax();
        bool has = f->HasInc();
        if (hasInc) *hasInc = has ? 1 : 0;
        if (inc) *inc = has ? f->GetInc() : 0.0;
    });
}

int QgaGetBool(QGA_NODE node, int32_t* value) {
    return Run([&] {
        Need(value, "result pointer");
        *value = As<IBoolean>(node, "a boolean")->GetValue() ? 1 : 0;
    });
}

int QgaSetBool(QGA_NODE node, int32_t value) {
    return Run([&] { As<IBoolean>(node, "a boolean")->SetValue(value != 0); });
}

int QgaGetString(QGA_NODE node, char* buffer, size_t* size) {
    std::string text;
    int code = Run([&] {
        INode* n = NodeOf(node);
        if (auto* s = dynamic_cast<IString*>(n))
            text = s->GetValue();
        else if (auto* e = dynamic_cast<IEnumeration*>(n))
            text = e->ToString();
        else
            throw Error{QGA_ERR_WRONG_KIND, "node '" + n->GetName() + "' has no text value"};
    });
    return code != QGA_OK ? code : CopyText(text, buffer, size);
}

int QgaSetString(QGA_NODE node, const char* value) {
    return Run([&] {
        Need(value, "value");
        INode* n = NodeOf(node);
        if (auto* s = dynamic_cast<IString*>(n))
            s->SetValue(value);
        else if (auto* e = dynamic_cast<IEnumeration*>(n))
            e->FromString(value);
        else
            throw Error{QGA_ERR_WRONG_KIND, "node '" + n->GetName() + "' has no text value"};
    });
}

int QgaGetStringMaxLength(QGA_NODE node, int64_t* length) {
    return Run([&] {
        Need(length, "result pointer");
        *length = As<IString>(node, "a string")->GetMaxLength();
    });
}

int QgaExecute(QGA_NODE node) {
    return Run([&] { As<ICommand>(node, "a command")->Execute(); });
}

int QgaIsDone(QGA_NODE node, int32_t* done) {
    return Run([&] {
        Need(done, "result pointer");
        *done = As<ICommand>(node, "a command")->IsDone() ? 1 : 0;
    });
}

int QgaGetRegisterInfo(QGA_NODE node, int64_t* address, int64_t* length) {
    return Run([&] {
        auto* r = As<IRegister>(node, "a register");
        if (address) *address = r->GetAddress();
        if (length) *length = r->GetLength();
    });
}

int QgaGetRegister(QGA_NODE node, uint8_t* buffer, int64_t length) {
    return Run([&] { As<IRegister>(node, "a register")->Get(buffer, length); });
}

int QgaSetRegister(QGA_NODE node, const uint8_t* buffer, int64_t length) {
    return Run([&] { As<IRegister>(node, "a register")->Set(buffer, length); });
}

int QgaGetEnumEntryCount(QGA_NODE enumeration, uint32_t* count) {
    return Run([&] {
        Need(count, "result pointer");
        *count = static_cast<uint32_t>(As<IEnumeration>(enumeration, "an enumeration")->GetEntries().size());
    });
}

int QgaGetEnumEntry(QGA_NODE enumeration, uint32_t index, QGA_NODE* entry) {
    return Run([&] {
        Need(entry, "result pointer");
        NodeList_t entries = As<IEnumeration>(enumeration, "an enumeration")->GetEntries();
        if (index >= entries.size()) throw Error{QGA_ERR_NOT_FOUND, "entry index out of range"};
        *entry = entries[index];
    });
}

int QgaGetEnumEntryValue(QGA_NODE entry, int64_t* value) {
    return Run([&] {
        Need(value, "result pointer");
        *value = As<IEnumEntry>(entry, "an enumeration entry")->GetValue();
    });
}

int QgaGetFeatureCount(QGA_NODE category, uint32_t* count) {
    return Run([&] {
        Need(count, "result pointer");
        *count = static_cast<uint32_t>(As<ICategory>(category, "a category")->GetFeatures().size());
    });
}

int QgaGetFeature(QGA_NODE category, uint32_t index, QGA_NODE* feature) {
    return Run([&] {
        Need(feature, "result pointer");
        NodeList_t features = As<ICategory>(category, "a category")->GetFeatures();
        if (index >= features.size()) throw Error{QGA_ERR_NOT_FOUND, "feature index out of range"};
        *feature = features[index];
    });
}

int QgaGetLastError(char* buffer, size_t* size) {
    std::string copy(lastError);
    return CopyText(copy, buffer, size);
}

} // extern "C"
