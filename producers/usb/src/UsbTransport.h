// The USB3 Vision transport of the QorUSBGenTL producer: its identity and its one interface.
#pragma once

#include "gentl/Producer.h"

namespace qorcam::usb {

// Identity texts and the one interface, the USB3 Vision service. GCInitLib holds nothing.
class UsbTransport : public GenICam::Client::CTransport {
public:
    std::string VendorName() const override;
    std::string ModelName() const override;
    std::string TLType() const override;
    std::string DisplayName() const override;
    std::vector<std::unique_ptr<GenICam::Client::CInterfaceInfo>> BuildInterfaceList() override;
    GenICam::Client::CInterface* CreateInterface(std::unique_ptr<GenICam::Client::CInterfaceInfo> info,
                                                 GenICam::Client::CTL* tl) override;
};

} // namespace qorcam::usb
