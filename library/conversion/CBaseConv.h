// Abstract base of the conversion objects the library hands out as handles.
#pragma once

namespace qorcam::conversion {

// The library keeps conversion objects as CBaseConv pointers and deletes
// them only through this virtual destructor; a handle is accepted when a
// dynamic_cast to CConv succeeds.
class CBaseConv {
public:
    virtual ~CBaseConv() = default;

protected:
    CBaseConv() = default;
    CBaseConv(const CBaseConv&) = delete;
    CBaseConv& operator=(const CBaseConv&) = delete;
};

} // namespace qorcam::conversion
