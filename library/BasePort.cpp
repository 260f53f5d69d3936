// BasePort: CBasePort, the root of the register-access objects that register handles name.
#include "BasePort.h"

#include "HandleRegistry.h"

namespace qorcam::library {

CBasePort::CBasePort() {
    CHandleRegistry::Instance().Add<CBasePort>(this);
}

CBasePort::~CBasePort() {
    CHandleRegistry::Instance().Remove(this);
}

} // namespace qorcam::library
