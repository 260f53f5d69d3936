// Status: how a USB transfer or request ended.
#pragma once

namespace qorcam::usb {

/// The outcome of every transfer and request of this layer, the same for
/// every backend.
enum class Status {
    Success,
    Timeout,          ///< the time-out passed; the transfer was cancelled
    Cancelled,        ///< cancelled by the caller (Cancel, AbortPipe)
    Stall,            ///< the endpoint is halted, or the device refused a control request
    NoDevice,         ///< the device is gone (unplugged, process ended)
    Overflow,         ///< the device sent more than the transfer could hold
    InvalidParameter, ///< refused before anything was sent
    Busy,             ///< claimed by someone else, or a blocking call from the completion thread
    NotSupported,
    IoError,
};

/// A short English name of the status ("Success", "Timeout", ...).
const char* StatusText(Status status);

} // namespace qorcam::usb
