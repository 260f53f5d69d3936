// HandleRegistry: the set of live library objects that handles given to applications may name.
#pragma once

#include <mutex>
#include <typeindex>
#include <unordered_map>

namespace qorcam::library {

/// Tells a live object handed out as a handle from a stale or garbage value,
/// so that a handle test fails with a parameter error instead of touching
/// memory that holds no object.
///
/// Objects are entered under the root class of their family (CBase for
/// cameras, CBasePort for register handles, CBaseConv for conversion
/// objects) by the root's constructor and removed by its destructor. Test<Root,
/// T>() accepts a handle only when it is live and entered under Root, and then
/// converts it with a run-time type test, so a live object of another family
/// is refused too. Safe from any thread; a handle's object must not be
/// destroyed while a call on it runs (the caller's duty, as with any handle).
class CHandleRegistry {
public:
    static CHandleRegistry& Instance();

    template <class Root> void Add(Root* object) {
        AddEntry(static_cast<const void*>(object), std::type_index(typeid(Root)));
    }
    void Remove(const void* object);

    /// The object behind handle as a T (a class derived from Root), or null.
    template <class Root, class T> T* Test(const void* handle) const {
        if (handle == nullptr || !Contains(handle, std::type_index(typeid(Root)))) return nullptr;
        return dynamic_cast<T*>(static_cast<Root*>(const_cast<void*>(handle)));
    }

    bool Contains(const void* object, std::type_index root) const;

private:
    void AddEntry(const void* object, std::type_index root);

    mutable std::mutex lock_;
    std::unordered_map<const void*, std::type_index> live_;
};

} // namespace qorcam::library
