// The number part of a device id as a consumer writes it ("<transport>::<number>[::...]").
#include "gentl/DeviceId.h"

#include <stdexcept>

namespace GenICam::Client {

std::string DeviceIdNumber(const std::string& text) {
    size_t start = text.find("::");
    start = start == std::string::npos ? 0 : start + 2;
    const size_t end = text.find("::", start);
    std::string number = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (number.empty()) throw std::invalid_argument("Invalid Device Name");
    return number;
}

} // namespace GenICam::Client
