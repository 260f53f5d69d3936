// Base: CBase, the root of the camera classes that HCAMERA handles name.
#pragma once

#include <atomic>
#include <cstdint>

namespace qorcam::library {

/// Root of the camera family. A CBase is a live handle from the end of its
/// construction until it is closed: exports accept an HCAMERA only while it
/// names a live CBase whose run-time type is the class they ask for.
///
/// The object counts references: the handle holds one from construction,
/// and every export that works on the object holds one for its length
/// (CHandleRegistry::Acquire). Close takes the handle off the list at once,
/// so later calls with it are refused, lets Shutdown end what could keep
/// calls on the object waiting, and drops the handle's reference; the object
/// is destroyed with the last reference, on whichever thread drops it.
class CBase {
public:
    CBase();
    virtual ~CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    /// The handle an application holds for this object.
    void* Handle() { return static_cast<CBase*>(this); }

    /// Taken while the object is listed as a handle, or by a holder of another reference.
    void AddReference() { references_.fetch_add(1, std::memory_order_relaxed); }
    /// Drops one reference; the last one destroys the object.
    void DropReference();
    /// True when the caller's reference is the only one left: no handle and no other call holds the object.
    bool OnlyReference() const { return references_.load(std::memory_order_acquire) == 1; }

    /// Closes object's handle as described above; false when it was closed
    /// already. The caller holds a reference, or otherwise knows the object
    /// exists; only the pointer is used when the handle is gone already.
    static bool Close(CBase* object);

protected:
    /// Called once by Close, after the handle is refused and before the handle's reference goes.
    virtual void Shutdown() {}

private:
    std::atomic<std::uint32_t> references_{1}; // the handle's own
};

} // namespace qorcam::library
