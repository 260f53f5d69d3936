// GigeServiceControl: stop, start and query of the GigE network service, as both tools use them.
#pragma once

#include <memory>

namespace qorcam::gigeconfig {

/// The GigE network service as the configuration tools see it: a service
/// that is queried, stopped and started again (the service reads its
/// profile only when it starts).
class CGigeServiceControl {
public:
    virtual ~CGigeServiceControl() = default;
    virtual bool IsRunning() = 0;
    /// Stops the service and returns once it has ended.
    virtual bool Stop() = 0;
    /// Starts the service and returns once its device answers.
    virtual bool Start() = 0;

    /// The installed service: QorGigEFilter from the program folder, its pid
    /// file <run>/QorGigE.pid, ready once \\.\QORGIGE answers.
    static std::unique_ptr<CGigeServiceControl> System();
};

} // namespace qorcam::gigeconfig
