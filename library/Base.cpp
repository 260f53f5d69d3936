// Base: CBase, the root of the camera classes that HCAMERA handles name.
#include "Base.h"

#include "HandleRegistry.h"

namespace qorcam::library {

CBase::CBase() {
    CHandleRegistry::Instance().Add<CBase>(this);
}

CBase::~CBase() {
    CHandleRegistry::Instance().Remove(this);
}

} // namespace qorcam::library
