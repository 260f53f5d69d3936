// Registry of the live module and event objects that GenTL handles may point to.
#include "gentl/HandleRegistry.h"

#include <mutex>
#include <unordered_set>

namespace GenICam::Client::HandleRegistry {
namespace {

// One set of live addresses under its own lock.
class LiveSet {
public:
    void Add(const void* p) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_live.insert(p);
    }
    void Remove(const void* p) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_live.erase(p);
    }
    bool Contains(const void* p) {
        if (!p) return false;
        std::lock_guard<std::mutex> guard(m_lock);
        return m_live.count(p) != 0;
    }

private:
    std::mutex m_lock;
    std::unordered_set<const void*> m_live;
};

// Freed when the producer is unloaded; no module or event object is destroyed by a static destructor.
LiveSet& Modules() {
    static LiveSet set;
    return set;
}

LiveSet& Events() {
    static LiveSet set;
    return set;
}

} // namespace

void AddModule(ICommonBase* module) {
    Modules().Add(module);
}
void RemoveModule(ICommonBase* module) {
    Modules().Remove(module);
}

// Only addresses of live objects are converted back to pointers, never the consumer's raw value.
ICommonBase* FindModule(const void* handle) {
    return Modules().Contains(handle) ? static_cast<ICommonBase*>(const_cast<void*>(handle)) : nullptr;
}

void AddEvent(CEventObj* event) {
    Events().Add(event);
}
void RemoveEvent(CEventObj* event) {
    Events().Remove(event);
}

CEventObj* FindEvent(const void* handle) {
    return Events().Contains(handle) ? static_cast<CEventObj*>(const_cast<void*>(handle)) : nullptr;
}

} // namespace GenICam::Client::HandleRegistry
