// The USB3 Vision transport of the QorUSBGenTL producer: its identity and its one interface.
#include "UsbTransport.h"

#include "CUsbInterface.h"
#include "gentl/CInterfaceInfo.h"

namespace qorcam::usb {

std::string UsbTransport::VendorName() const {
    return "Korvashdrevali";
}
std::string UsbTransport::ModelName() const {
    return "QorUSBGenTL";
}
std::string UsbTransport::TLType() const {
    return "U3V";
}
std::string UsbTransport::DisplayName() const {
    return "GenTL USB3 Vision";
}

std::vector<std::unique_ptr<GenICam::Client::CInterfaceInfo>> UsbTransport::BuildInterfaceList() {
    // Exactly one interface: the USB3 Vision service, whose cameras are the devices of its class.
    std::vector<std::unique_ptr<GenICam::Client::CInterfaceInfo>> list;
    list.push_back(std::make_unique<GenICam::Client::CInterfaceInfo>("QORUSB", "\\\\.\\QORUSB"));
    return list;
}

GenICam::Client::CInterface*
UsbTransport::CreateInterface(std::unique_ptr<GenICam::Client::CInterfaceInfo> info,
                              GenICam::Client::CTL* tl) {
    return new GenICam::Client::CUsbInterface(tl, std::move(info));
}

} // namespace qorcam::usb

GenICam::Client::CTransport& GenICam::Client::GetTransport() {
    static qorcam::usb::UsbTransport transport;
    return transport;
}
