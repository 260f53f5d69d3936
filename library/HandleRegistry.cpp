// HandleRegistry: the set of live library objects that handles given to applications may name.
#include "HandleRegistry.h"

namespace qorcam::library {

CHandleRegistry& CHandleRegistry::Instance() {
    // Never destroyed: objects the library destroys at process exit still
    // leave the registry after the static objects are gone.
    static CHandleRegistry* const registry = new CHandleRegistry;
    return *registry;
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
