// Status: names of the transfer outcomes.
#include "usb/Status.h"

namespace qorcam::usb {

const char* StatusText(Status status) {
    switch (status) {
    case Status::Success:
        return "Success";
    case Status::Timeout:
        return "Timeout";
    case Status::Cancelled:
        return "Cancelled";
    case Status::Stall:
        return "Stall";
    case Status::NoDevice:
        return "NoDevice";
    case Status::Overflow:
        return "Overflow";
    case Status::InvalidParameter:
        return "InvalidParameter";
    case Status::Busy:
        return "Busy";
    case Status::NotSupported:
        return "NotSupported";
    case Status::IoError:
        return "IoError";
    }
    return "Unknown";
}

} // namespace qorcam::usb
