// Calendar times as the rest of the program keeps them: eight 16-bit words, UTC on disk,
// converted to local time only for display. Local time follows TZ as it is at the moment of
// the call. Safe from any thread.
#pragma once

#include <cstdint>

namespace korrin::platform {

using WORD = std::uint16_t;

struct SYSTEMTIME {
    WORD wYear = 0;
    WORD wMonth = 0;      // 1-12
    WORD wDayOfWeek = 0;  // 0 = Sunday
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
};

bool operator==(const SYSTEMTIME& a, const SYSTEMTIME& b);

// The current time in UTC, to the millisecond.
void GetSystemTime(SYSTEMTIME* out);

// Whole seconds since 1970-01-01 00:00 UTC. False (and *seconds = 0) when a field is out of
// range: month 1-12, a day the month has, hour < 24, minute and second < 60, ms < 1000,
// year 1601-30827. The stored day of the week is not looked at.
bool SystemTimeToSeconds(const SYSTEMTIME& time, std::int64_t* seconds);
// The inverse; the day of the week is computed.
bool SecondsToSystemTime(std::int64_t seconds, SYSTEMTIME* out);

// UTC to local time and back, through the zone rules TZ names now. False for a time out of
// range (see above); the day of the week of the result is computed, never copied.
bool SystemTimeToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME* local);
bool LocalTimeToSystemTime(const SYSTEMTIME& local, SYSTEMTIME* utc);

}  // namespace korrin::platform
