// Registry of the live module and event objects that GenTL handles may point to.
#include "gentl/HandleRegistry.h"

#include <mutex>
#include <unordered_set>

namespace GenICam::Client::HandleRegistry {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_set<const void*> modules;
    std::unordered_set<const void*> events;
};

// Never destroyed: objects may still unregister from static destructors at unload.
Registry& Instance() {
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

void AddModule(ICommonBase* module) {
    Registry& r = Instance();
    std::lock_guard<std::mutex> guard(r.lock);
    r.modules.insert(module);
}

void RemoveModule(ICommonBase* module) {
    Registry& r = Instance();
    std::lock_guard<std::mutex> guard(r.lock);
    r.modules.erase(module);
}

ICommonBase* FindModule(const void* handle) {
    if (!handle) return nullptr;
    Registry& r = Instance();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.modules.find(handle);
    return it == r.modules.end() ? nullptr : static_cast<ICommonBase*>(const_cast<void*>(*it));
}

void AddEvent(CEventObj* event) {
    Registry& r = Instance();
    std::lock_guard<std::mutex> guard(r.lock);
    r.events.insert(event);
}

void RemoveEvent(CEventObj* event) {
    Registry& r = Instance();
    std::lock_guard<std::mutex> guard(r.lock);
    r.events.erase(event);
}

CEventObj* FindEvent(const void* handle) {
    if (!handle) return nullptr;
    Registry& r = Instance();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.events.find(handle);
    return it == r.events.end() ? nullptr : static_cast<CEventObj*>(const_cast<void*>(*it));
}

} // namespace GenICam::Client::HandleRegistry
