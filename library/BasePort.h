// BasePort: CBasePort, the root of the register-access objects that register handles name.
#pragma once

namespace qorcam::library {

/// Root of the register-access family; live as a handle for its whole life,
/// like CBase, but a family of its own, so a camera handle is never taken for
/// a register handle or the reverse.
class CBasePort {
public:
    CBasePort();
    virtual ~CBasePort();
    CBasePort(const CBasePort&) = delete;
    CBasePort& operator=(const CBasePort&) = delete;

    void* Handle() { return static_cast<CBasePort*>(this); }
};

} // namespace qorcam::library
