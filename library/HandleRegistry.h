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
/// is refused too. Safe from any thread. Test leaves the object's lifetime to
/// the caller; Acquire, for families whose objects count references (cameras),
/// takes a reference while the object is still listed, so that a close on
/// another thread can't destroy it under the call.
class CHandleRegistry {
public:
    static CHandleRegistry& Instance();
    /// Frees the registry; called last by the unload entry, once no object is left.
    static void FreeInstance();

    template <class Root> void Add(Root* object) {
        AddEntry(static_cast<const void*>(object), std::type_index(typeid(Root)));
    }
    /// Takes the object off the list; false when it was not listed (removed already).
    bool Remove(const void* object);

    /// The object behind handle as a T (a class derived from Root), or null.
    template <class Root, class T> T* Test(const void* handle) const {
        if (handle == nullptr || !Contains(handle, std::type_index(typeid(Root)))) return nullptr;
        return dynamic_cast<T*>(static_cast<Root*>(const_cast<void*>(handle)));
    }

    /// As Test, and a found object gains a reference (Root::AddReference)
    /// before the list lets go of it; the caller drops it when done.
    template <class Root, class T> T* Acquire(const void* handle) {
        if (handle == nullptr) return nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        if (!Listed(handle, std::type_index(typeid(Root)))) return nullptr;
        auto* root = static_cast<Root*>(const_cast<void*>(handle));
        T* object = dynamic_cast<T*>(root);
        if (object != nullptr) root->AddReference();
        return object;
    }

    bool Contains(const void* object, std::type_index root) const;

private:
    void AddEntry(const void* object, std::type_index root);
    /// Contains, with the lock held.
    bool Listed(const void* object, std::type_index root) const;

    mutable std::mutex lock_;
    std::unordered_map<const void*, std::type_index> live_;
};

} // namespace qorcam::library
