#pragma once
// Date-time values as the system keeps them: days since 1899-12-30 with the
// time of day as the fraction.

#include <cstdint>
#include <string>

namespace nuq {

using TDateTime = double;

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
TDateTimeParts DecodeDateTime(TDateTime value);

// The system's short date and long time: "dd.mm.yyyy hh:nn:ss".
std::string DateTimeToStr(TDateTime value);

// Local wall-clock time of the real clock (the loop's clock is Now()).
TDateTime SystemNow();

} // namespace nuq
