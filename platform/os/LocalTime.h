// LocalTime: the local calendar time with milliseconds, for trace lines.
#pragma once

namespace qorcam::os {

/// A broken-down local time as trace lines print it
/// ("%04d/%02d/%02d %02d:%02d:%02d'%03d").
struct LocalTime {
    int year = 0;        ///< four digits
    int month = 0;       ///< 1..12
    int day = 0;         ///< 1..31
    int hour = 0;        ///< 0..23
    int minute = 0;      ///< 0..59
    int second = 0;      ///< 0..59 (a leap second reads 59)
    int millisecond = 0; ///< 0..999
    int dayOfWeek = 0;   ///< 0 = Sunday

    /// The current local time (the time zone of the TZ variable or the system).
    static LocalTime Now();
};

} // namespace qorcam::os
