// The number part of a device id as a consumer writes it ("<transport>::<number>[::...]").
#pragma once

#include <string>

namespace GenICam::Client {

// The part after the first "::" (the whole text when it has none) up to the next "::". A transport
// compares it with the decimal of its camera's id. An empty part throws invalid_argument
// "Invalid Device Name".
std::string DeviceIdNumber(const std::string& text);

} // namespace GenICam::Client
