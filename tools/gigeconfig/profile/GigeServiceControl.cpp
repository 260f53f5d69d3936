// GigeServiceControl: stop, start and query of the GigE network service, as both tools use them.
#include "GigeServiceControl.h"

#include "devio/ServiceControl.h"
#include "os/Paths.h"

namespace qorcam::gigeconfig {

namespace {

class SystemService : public CGigeServiceControl {
public:
    SystemService()
        : control_([] {
              devio::ServiceConfig config;
              config.name = "QorGigE";
              config.program = os::Paths::ProgramFiles() + "/QorGigEFilter";
              config.deviceName = "\\\\.\\QORGIGE";
              return config;
          }()) {}
    bool IsRunning() override { return control_.Query() == devio::ServiceState::Running; }
    bool Stop() override { return control_.Stop(); }
    bool Start() override { return control_.Start(); }

private:
    devio::ServiceControl control_;
};

} // namespace

std::unique_ptr<CGigeServiceControl> CGigeServiceControl::System() {
    return std::make_unique<SystemService>();
}

} // namespace qorcam::gigeconfig
