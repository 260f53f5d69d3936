// GigeServiceControl: stop, start and query of the GigE network service, as both tools use them.
#include "GigeServiceControl.h"

#include "SystemdUnit.h"

#include "devio/DeviceName.h"
#include "devio/ServiceControl.h"
#include "devio/UnixAddress.h"
#include "os/Paths.h"

#include <chrono>
#include <thread>

namespace qorcam::gigeconfig {

namespace {

constexpr const char* kDeviceName = "\\\\.\\QORGIGE";

// Where systemd runs the service's unit, the unit is what starts and stops it.
class SystemdService : public CGigeServiceControl {
public:
    explicit SystemdService(CSystemdUnit unit) : unit_(std::move(unit)) {}
    bool IsRunning() override { return unit_.IsActive(); }
    bool Stop() override { return unit_.Stop(); }
    bool Start() override {
        if (!unit_.Start()) return false;
        // Started is not ready: the device answers once the service serves.
        const auto device = devio::DevicePath(kDeviceName);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!devio::detail::SocketAnswers(device)) {
            if (std::chrono::steady_clock::now() > deadline || !unit_.IsActive()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

private:
    CSystemdUnit unit_;
};

class SystemService : public CGigeServiceControl {
public:
    SystemService()
        : control_([] {
              devio::ServiceConfig config;
              config.name = "QorGigE";
              config.program = os::Paths::Program("QorGigEFilter");
              config.deviceName = kDeviceName;
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
    if (auto unit = CSystemdUnit::Machine(kGigeUnit); unit && unit->Installed())
        return std::make_unique<SystemdService>(std::move(*unit));
    return std::make_unique<SystemService>();
}

} // namespace qorcam::gigeconfig
