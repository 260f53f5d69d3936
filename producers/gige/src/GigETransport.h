// The GigE Vision transport of the QorGigEGenTL producer.
#pragma once

#include "HeldUdpPort.h"
#include "gentl/Producer.h"

namespace qorcam::gige {

// Identity of the GigE producer, the host ports it holds while initialised (3957 and 3953, which the
// GigE network service sends from and receives on) and its one interface, the service's device.
class GigETransport : public GenICam::Client::CTransport {
public:
    static constexpr uint16_t kHostPortA = 3957;
    static constexpr uint16_t kHostPortB = 3953;

    std::string VendorName() const override;
    std::string ModelName() const override;
    std::string TLType() const override;
    std::string DisplayName() const override;
    void InitLib() override;
    void CloseLib() override;
    std::vector<std::unique_ptr<GenICam::Client::CInterfaceInfo>> BuildInterfaceList() override;
    GenICam::Client::CInterface* CreateInterface(std::unique_ptr<GenICam::Client::CInterfaceInfo> info,
                                                 GenICam::Client::CTL* tl) override;

private:
    HeldUdpPort m_portA;
    HeldUdpPort m_portB;
};

} // namespace qorcam::gige
