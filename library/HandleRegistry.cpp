// HandleRegistry: the set of live library objects that handles given to applications may name.
#include "HandleRegistry.h"

#include <atomic>

namespace qorcam::library {

namespace {

// Freed by the unload entry, not with the static objects: objects the library
// destroys at process exit still leave the registry after those are gone.
std::atomic<CHandleRegistry*> g_registry{nullptr};

} // namespace

CHandleRegistry& CHandleRegistry::Instance() {
    CHandleRegistry* registry = g_registry.load(std::memory_order_acquire);
    if (registry == nullptr) {
        auto* made = new CHandleRegistry;
        if (g_registry.compare_exchange_strong(registry, made, std::memory_order_acq_rel)) {
            registry = made;
        } else {
            delete made;
        }
    }
    return *registry;
}

void CHandleRegistry::FreeInstance() {
    delete g_registry.exchange(nullptr);
}

void CHandleRegistry::AddEntry(const void* object, std::type_index root) {
    std::lock_guard<std::mutex> guard(lock_);
    live_.insert_or_assign(object, root);
}

bool CHandleRegistry::Remove(const void* object) {
    std::lock_guard<std::mutex> guard(lock_);
    return live_.erase(object) != 0;
}

bool CHandleRegistry::Contains(const void* object, std::type_index root) const {
    std::lock_guard<std::mutex> guard(lock_);
    return Listed(object, root);
}

bool CHandleRegistry::Listed(const void* object, std::type_index root) const {
    auto it = live_.find(object);
    return it != live_.end() && it->second == root;
}

} // namespace qorcam::library
