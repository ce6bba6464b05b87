#include "platform/time/Time.h"

#include <sys/time.h>

#include <ctime>

namespace korrin::platform {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool leap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(unsigned y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

bool valid(const SYSTEMTIME& t) {
    return t.wYear >= 1601 && t.wYear <= 30827 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
           t.wDay <= daysInMonth(t.wYear, t.wMonth) && t.wHour < 24 && t.wMinute < 60 &&
           t.wSecond < 60 && t.wMilliseconds < 1000;
}

SYSTEMTIME fromTm(const std::tm& tm, WORD ms) {
    SYSTEMTIME t;
    t.wYear = static_cast<WORD>(tm.tm_year + 1900);
    t.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    t.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    t.wDay = static_cast<WORD>(tm.tm_mday);
    t.wHour = static_cast<WORD>(tm.tm_hour);
    t.wMinute = static_cast<WORD>(tm.tm_min);
    t.wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    t.wMilliseconds = ms;
    return t;
}

}  // namespace

bool operator==(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek &&
           a.wDay == b.wDay && a.wHour == b.wHour && a.wMinute == b.wMinute &&
           a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

void GetSystemTime(SYSTEMTIME* out) {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    SecondsToSystemTime(ts.tv_sec, out);
    out->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

bool SystemTimeToSeconds(const SYSTEMTIME& time, std::int64_t* seconds) {
    *seconds = 0;
    if (!valid(time))
        return false;
    *seconds = daysFromCivil(time.wYear, time.wMonth, time.wDay) * 86400 + time.wHour * 3600 +
               time.wMinute * 60 + time.wSecond;
    return true;
}

bool SecondsToSystemTime(std::int64_t seconds, SYSTEMTIME* out) {
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    std::int64_t rest = seconds - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, &y, &m, &d);
    if (y < 1601 || y > 30827)
        return false;
    out->wYear = static_cast<WORD>(y);
    out->wMonth = static_cast<WORD>(m);
    out->wDay = static_cast<WORD>(d);
    out->wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    out->wHour = static_cast<WORD>(rest / 3600);
    out->wMinute = static_cast<WORD>(rest / 60 % 60);
    out->wSecond = static_cast<WORD>(rest % 60);
    out->wMilliseconds = 0;
    return true;
}

bool SystemTimeToLocalTime(const SYSTEMTIME& utc, SYSTEMTIME* local) {
    std::int64_t seconds;
    if (!SystemTimeToSeconds(utc, &seconds))
        return false;
    ::tzset();  // TZ may have changed since the last call
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm;
    if (!::localtime_r(&t, &tm))
        return false;
    *local = fromTm(tm, utc.wMilliseconds);
    return valid(*local);
}

bool LocalTimeToSystemTime(const SYSTEMTIME& local, SYSTEMTIME* utc) {
    if (!valid(local))
        return false;
    ::tzset();
    std::tm tm{};
    tm.tm_year = local.wYear - 1900;
    tm.tm_mon = local.wMonth - 1;
    tm.tm_mday = local.wDay;
    tm.tm_hour = local.wHour;
    tm.tm_min = local.wMinute;
    tm.tm_sec = local.wSecond;
    tm.tm_isdst = -1;
    std::time_t t = ::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mday == 31))
        return false;
    if (!SecondsToSystemTime(t, utc))
        return false;
    utc->wMilliseconds = local.wMilliseconds;
    return true;
}

}  // namespace korrin::platform
