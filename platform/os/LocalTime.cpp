// LocalTime: the wall clock broken down in the local time zone.
#include "os/LocalTime.h"

#include <ctime>

namespace qorcam::os {

LocalTime LocalTime::Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    const time_t seconds = ts.tv_sec;
    localtime_r(&seconds, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    t.dayOfWeek = parts.tm_wday;
    return t;
}

} // namespace qorcam::os
