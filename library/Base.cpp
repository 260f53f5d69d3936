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

void CBase::DropReference() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

bool CBase::Close(CBase* object) {
    // Only the caller that takes the handle off the list goes on; until then
    // the handle's reference kept the object.
    if (!CHandleRegistry::Instance().Remove(object)) return false;
    object->Shutdown();
    object->DropReference();
    return true;
}

} // namespace qorcam::library
