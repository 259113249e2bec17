#include "platform/DateUtils.h"

#include "platform/SysUtils.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace nuq {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(int64_t(yoe) + era * 400 + (m <= 2));
}

constexpr int64_t kEpochOffset = 25569; // 1970-01-01 as a date-time
constexpr int64_t kMsPerDay = 86400000;
// The calendar's ends: 01.01.0001 and the day after 31.12.9999.
constexpr int64_t kFirstDay = -693593, kPastLastDay = 2958466;

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    int64_t days = DaysFromCivil(year, unsigned(month), unsigned(day)) + kEpochOffset;
    int64_t ms = ((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    return double(days) + double(ms) / double(kMsPerDay);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    // A value from a stored file or a peer may be no number at all, or lie
    // beyond the calendar: it has no date to show.
    const auto noDate = [value] {
        return EConvertError("The date-time value " + std::to_string(value) +
                             " has no calendar date");
    };
    if (!(value > double(kFirstDay - 1) && value < double(kPastLastDay + 1))) throw noDate();
    // Round to the millisecond first so 23:59:59.9995 does not show as 23:59:59 of the next day.
    int64_t totalMs = std::llround(value * double(kMsPerDay));
    int64_t days = totalMs >= 0 ? totalMs / kMsPerDay : -((-totalMs + kMsPerDay - 1) / kMsPerDay);
    if (days < int64_t(kFirstDay) || days >= int64_t(kPastLastDay)) throw noDate();
    int64_t ms = totalMs - days * kMsPerDay;
    TDateTimeParts p;
    CivilFromDays(days - kEpochOffset, p.Year, p.Month, p.Day);
    p.Hour = int(ms / 3600000);
    p.Minute = int(ms / 60000 % 60);
    p.Second = int(ms / 1000 % 60);
    p.Millisecond = int(ms % 1000);
    return p;
}

std::string DateTimeToStr(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                  p.Minute, p.Second);
    return buf;
}

TDateTime SystemNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, ms);
}

} // namespace nuq
