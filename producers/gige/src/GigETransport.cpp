// The GigE Vision transport of the QorGigEGenTL producer.
#include "GigETransport.h"

#include "CGigEInterface.h"
#include "gentl/CInterfaceInfo.h"

#include <stdexcept>

namespace qorcam::gige {

std::string GigETransport::VendorName() const {
    return "Korvashdrevali";
}
std::string GigETransport::ModelName() const {
    return "QorGigEGenTL";
}
std::string GigETransport::TLType() const {
    return "GEV";
}
std::string GigETransport::DisplayName() const {
    return "GenTL GigEVision";
}

void GigETransport::InitLib() {
    m_portA = HeldUdpPort::Hold(kHostPortA);
    m_portB = HeldUdpPort::Hold(kHostPortB);
}

void GigETransport::CloseLib() {
    m_portB.Close();
    m_portA.Close();
}

std::vector<std::unique_ptr<GenICam::Client::CInterfaceInfo>> GigETransport::BuildInterfaceList() {
    // Exactly one interface: the GigE network service's device.
    std::vector<std::unique_ptr<GenICam::Client::CInterfaceInfo>> list;
    list.push_back(std::make_unique<GenICam::Client::CInterfaceInfo>("QorGigE", "\\\\.\\QORGIGE"));
    return list;
}

GenICam::Client::CInterface*
GigETransport::CreateInterface(std::unique_ptr<GenICam::Client::CInterfaceInfo> info,
                               GenICam::Client::CTL* tl) {
    return new GenICam::Client::CGigEInterface(tl, std::move(info));
}

} // namespace qorcam::gige

GenICam::Client::CTransport& GenICam::Client::GetTransport() {
    static qorcam::gige::GigETransport transport;
    return transport;
}
