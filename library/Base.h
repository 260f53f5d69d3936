// Base: CBase, the root of the camera classes that HCAMERA handles name.
#pragma once

namespace qorcam::library {

/// Root of the camera family. A CBase is a live handle from the end of its
/// construction to the start of its destruction: exports accept an HCAMERA
/// only while it names a live CBase whose run-time type is the class they ask for.
class CBase {
public:
    CBase();
    virtual ~CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    /// The handle an application holds for this object.
    void* Handle() { return static_cast<CBase*>(this); }
};

} // namespace qorcam::library
