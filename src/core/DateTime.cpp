#include "core/DateTime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kReformDay = static_cast<std::int64_t>(DateTime::ReformDayNumber);
constexpr std::int64_t kJulianCycleDays = 4 * 365 + 1;                      // 4 Julian years
constexpr std::int64_t kGregorianCycleDays = 400 * 365 + 100 - 4 + 1;       // 400 Gregorian years

constexpr std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr std::int64_t floorMod(std::int64_t a, std::int64_t b) { return a - floorDiv(a, b) * b; }

// Doubles outside the 64-bit range saturate and NaN reads as 0, so that no
// reading of a time is undefined behaviour.
std::int64_t toInt64(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (x < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

constexpr bool leapYear(std::int64_t y) {
    if (y % 4 != 0) return false;
    if (y <= 1581) return true;
    return y % 100 != 0 || y % 400 == 0;
}

constexpr int kMonthDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Number of day labels of a month. It equals the month length except for
// October 1582: that month has 21 days, but its labels run to 31 because
// 5-14 October were skipped. Converting between dates and day numbers with
// the labels keeps the calendar continuous through the reform: 31 October
// 1582 is followed by 1 November and 31 December 1582 by 1 January 1583.
// (Counting October 1582 with 21 days and also subtracting the ten skipped
// days would drop those ten days twice, so 1 November would fall on the day
// of 22 October.)
constexpr int monthLabels(int m, std::int64_t y) {
    return kMonthDays[m] + (m == DateTime::feb && leapYear(y) ? 1 : 0);
}

// Signed day number of a date. Months outside 1-12 carry into the year; the
// arithmetic is signed, so the proleptic Julian calendar extends backwards
// through year 0 (a leap year; 31 December 0000 is day 0) and earlier years.
std::int64_t dayNumber(std::int64_t m, std::int64_t d, std::int64_t y) {
    y += floorDiv(m - 1, 12);
    const int month = static_cast<int>(floorMod(m - 1, 12)) + 1;
    const std::int64_t Y = y - 1;
    std::int64_t n = Y <= 1582 ? 365 * Y + floorDiv(Y, 4)
                               : 365 * Y + Y / 4 - Y / 100 + Y / 400 + 12;
    for (int i = 1; i < month; ++i) n += monthLabels(i, y);
    n += d;
    // Labels beyond 4 October 1582 are Gregorian: the ten skipped labels
    // (5-14 October) thus name the ten days before the reform, 25 September
    // to 4 October, as the proleptic Gregorian calendar would.
    if (n > kReformDay) n -= 10;
    return n;
}

// A calendar time as a tick count, in 64-bit integer arithmetic (no field
// is range-checked; they all carry over).
double calendarTicks(std::int64_t m, std::int64_t d, std::int64_t y, std::int64_t hour,
                     std::int64_t minute, std::int64_t second) {
    return static_cast<double>(dayNumber(m, d, y) * kSecondsPerDay + hour * 3600 + minute * 60 +
                               second);
}

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
};

// The calendar date of a signed day number.
CivilDate civilFromDayNumber(std::int64_t N) {
    // Before day 0 everything is Julian: whole 4-year cycles of 1461 days
    // bring the day number into years 1-4 and are taken off the year again.
    if (N < 0) {
        const std::int64_t cycles = -(N / kJulianCycleDays) + 1;
        CivilDate c = civilFromDayNumber(N + cycles * kJulianCycleDays);
        c.year -= 4 * cycles;
        return c;
    }
    // Far beyond the four-digit years, whole 400-year Gregorian cycles are
    // taken off first so that the year search below stays a few steps long.
    static const std::int64_t cycleStart = dayNumber(DateTime::jan, 1, 10001);
    std::int64_t cycles = 0;
    if (N >= cycleStart) {
        cycles = (N - cycleStart) / kGregorianCycleDays;
        N -= cycles * kGregorianCycleDays;
    }

    const std::int64_t shifted = N > kReformDay ? N + 10 : N;
    std::int64_t n = shifted / 365;
    std::int64_t r = shifted % 365 - n / 4;
    if (n >= 1700) r += n / 100 - n / 400 - 12;
    while (r <= 0) {
        r += 365 + (leapYear(n) ? 1 : 0);
        --n;
    }
    CivilDate c{n + 1, DateTime::jan, 0};
    while (c.month < DateTime::dec && monthLabels(c.month, c.year) < r) {
        r -= monthLabels(c.month, c.year);
        ++c.month;
    }
    c.day = static_cast<int>(r);
    c.year += 400 * cycles;
    return c;
}

// The calendar reading splits the tick count into whole days and seconds
// of the day with floor division. For non-negative counts this is the plain
// truncation; a negative count continues the calendar backwards (tick -1 is
// 23:59:59 on 12/30/0000) instead of producing negative fields.
std::int64_t calendarSeconds(double ticks) { return toInt64(std::floor(ticks)); }

std::int64_t calendarDay(double ticks) { return floorDiv(calendarSeconds(ticks), kSecondsPerDay); }

int secondOfDay(double ticks) {
    return static_cast<int>(floorMod(calendarSeconds(ticks), kSecondsPerDay));
}

// Reads a field the way atoi does: optional blanks and sign, then digits up
// to the first non-digit; no digits gives 0.
int parseField(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) value = value * 10 + (s[i] - '0');
    return negative ? -value : value;
}

void appendTwoDigits(std::string& out, int v) {
    if (v < 10) out += '0';
    out += std::to_string(v);
}

}  // namespace

// --- construction ---------------------------------------------------------------

DateTime::DateTime(const std::string& text) : m_ticks(0.0) {
    // Fields are read by position; a field beyond the end of a short text
    // reads as 0 (callers that take text from users run Check first).
    auto field = [&text](std::size_t pos, std::size_t len) {
        return pos < text.size() ? parseField(text.substr(pos, len)) : 0;
    };
    const int hour = field(0, 2);
    const int minute = field(3, 2);
    const int second = field(6, 2);
    const int mon = field(9, 2);
    const int day = field(12, 2);
    const int year = field(15, 4);
    Set(mon, day, year, hour, minute, second);
}

DateTime::DateTime(const char* text) : DateTime(std::string(text ? text : "")) {}

DateTime::DateTime(int month, int day, int year, int hour, int minute, int second)
    : m_ticks(calendarTicks(month, day, year, hour, minute, second)) {}

DateTime::DateTime(int month, int day, int year) : DateTime(month, day, year, 0, 0, 0) {}

DateTime::DateTime(int dayOfYear, int year, int hour, int minute, int second)
    : m_ticks(calendarTicks(dec, 31, std::int64_t{year} - 1, hour, minute, second) +
              static_cast<double>(dayOfYear * kSecondsPerDay)) {}

DateTime::DateTime(int dayOfYear, int year) : DateTime(dayOfYear, year, 0, 0, 0) {}

DateTime::DateTime(std::uint64_t dayNumber, int hour, int minute, int second) : m_ticks(0.0) {
    // Unsigned (wrapping) arithmetic, read back as signed: a day number that
    // came from a negative time (see DayNumber) gives that time back.
    const std::uint64_t t = dayNumber * 86400u + static_cast<std::uint64_t>(hour) * 3600u +
                            static_cast<std::uint64_t>(minute) * 60u +
                            static_cast<std::uint64_t>(second);
    m_ticks = static_cast<double>(static_cast<std::int64_t>(t));
}

DateTime::DateTime(const std::tm& t)
    : m_ticks(calendarTicks(std::int64_t{t.tm_mon} + 1, t.tm_mday, std::int64_t{t.tm_year} + 1900,
                            t.tm_hour, t.tm_min, t.tm_sec)) {}

// --- setting --------------------------------------------------------------------

void DateTime::Set(int month, int day, int year, int hour, int minute, int second) {
    m_ticks = calendarTicks(month, day, year, hour, minute, second);
}

void DateTime::Set(int month, int day, int year, int hour, int minute, int second, double fraction) {
    Set(month, day, year, hour, minute, second);
    m_ticks += fraction;
}

void DateTime::SetFraction(double x) { m_ticks = std::floor(m_ticks) + x; }

// --- reading --------------------------------------------------------------------

std::uint64_t DateTime::FullSeconds() const {
    if (m_ticks >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    if (m_ticks >= 0.0) return static_cast<std::uint64_t>(m_ticks);
    return static_cast<std::uint64_t>(toInt64(m_ticks));
}

DateTime::operator long() const {
    return static_cast<long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(FullSeconds())));
}

std::uint64_t DateTime::DayNumber() const { return static_cast<std::uint64_t>(calendarDay(m_ticks)); }

int DateTime::Hour() const { return secondOfDay(m_ticks) / 3600; }

int DateTime::Minute() const { return secondOfDay(m_ticks) / 60 % 60; }

int DateTime::Second() const { return secondOfDay(m_ticks) % 60; }

double DateTime::Fraction() const { return m_ticks - std::floor(m_ticks); }

// Years beyond the int range (only from absurd tick counts) wrap; toString
// prints the full value.
int DateTime::Year() const { return static_cast<int>(civilFromDayNumber(calendarDay(m_ticks)).year); }

DateTime::month DateTime::Month() const {
    return static_cast<month>(civilFromDayNumber(calendarDay(m_ticks)).month);
}

int DateTime::Day() const { return civilFromDayNumber(calendarDay(m_ticks)).day; }

int DateTime::DayOfYear() const {
    const CivilDate c = civilFromDayNumber(calendarDay(m_ticks));
    return static_cast<int>(dayNumber(c.month, c.day, c.year) - dayNumber(jan, 1, c.year) + 1);
}

int DateTime::DaysInMonth() const { return DaysInMonth(Month(), Year()); }

int DateTime::DaysInYear() const { return DaysInYear(Year()); }

bool DateTime::IsLeapYear() const { return IsLeapYear(Year()); }

bool DateTime::IsValid() const {
    return IsValid(Month(), Day(), Year(), Hour(), Minute(), Second());
}

// --- class functions --------------------------------------------------------------

bool DateTime::Check(const std::string& text) {
    if (text.size() != 19) return false;
    if (text[2] != ':' || text[5] != ':' || text[8] != '@' || text[11] != '/' || text[14] != '/')
        return false;
    for (std::size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 17, 18})
        if (text[i] < '0' || text[i] > '9') return false;
    const auto field = [&text](std::size_t pos, std::size_t len) {
        int v = 0;
        for (std::size_t i = pos; i < pos + len; ++i) v = v * 10 + (text[i] - '0');
        return v;
    };
    // 24:00:00 and second/minute 60 are accepted (they carry over); the day
    // is not checked against the length of the month.
    return field(0, 2) <= 24 && field(3, 2) <= 60 && field(6, 2) <= 60 &&
           field(9, 2) >= 1 && field(9, 2) <= 12 && field(12, 2) >= 1 && field(12, 2) <= 31 &&
           field(15, 4) <= 2038;
}

DateTime DateTime::Today() {
    // Every new token is stamped with the wall clock, so this runs for each
    // token a model creates; the local-time conversion is done once per
    // second of the clock.
    thread_local std::time_t lastSecond = static_cast<std::time_t>(-1);
    thread_local DateTime lastValue;
    const std::time_t now = std::time(nullptr);
    if (now != lastSecond) {
        std::tm local{};
        localtime_r(&now, &local);
        lastValue = DateTime(local);
        lastSecond = now;
    }
    return lastValue;
}

bool DateTime::IsLeapYear(int year) { return leapYear(year); }

int DateTime::DaysInMonth(int month, int year) {
    if (month < jan || month > dec) return 0;
    if (month == ReformMonth && year == ReformYear) return 21;
    return monthLabels(month, year);
}

int DateTime::DaysInYear(int year) {
    return 365 + (leapYear(year) ? 1 : 0) - (year == ReformYear ? 10 : 0);
}

// Year 0 and earlier give the proleptic Julian day numbers (0 for
// 31 December 0000, negative before), returned in two's complement.
std::uint64_t DateTime::MakeDayNumber(int month, int day, int year) {
    return static_cast<std::uint64_t>(dayNumber(month, day, year));
}

bool DateTime::IsValid(int month, int day, int year) {
    return year >= 1 && month >= jan && month <= dec && day >= 1 && day <= DaysInMonth(month, year);
}

bool DateTime::IsValidTime(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

bool DateTime::IsValid(int month, int day, int year, int hour, int minute, int second) {
    return IsValid(month, day, year) && IsValidTime(hour, minute, second);
}

// --- calendar extras ------------------------------------------------------------------

DateTime::week_day DateTime::DayOfWeek() const {
    // Day 1 (1 January 0001, Julian) was a Saturday.
    return static_cast<week_day>(floorMod(calendarDay(m_ticks) + 4, 7) + 1);
}

int DateTime::WeeksInYear(int year) {
    const week_day first = DateTime(jan, 1, year).DayOfWeek();
    return (first == thu || (IsLeapYear(year) && first == wed)) ? 53 : 52;
}

int DateTime::WeekOfYear() const {
    const int week = (DayOfYear() - DayOfWeek() + 10) / 7;
    if (week < 1) return WeeksInYear(Year() - 1);
    if (week > WeeksInYear(Year())) return 1;
    return week;
}

int DateTime::WeekOfMonth() const { return (Day() - 1) / 7 + 1; }

DateTime DateTime::NextWeekDay(week_day day) const {
    int ahead = static_cast<int>(day) - static_cast<int>(DayOfWeek());
    if (ahead <= 0) ahead += 7;
    return DateTime(m_ticks + 86400.0 * ahead);
}

namespace {
// The last Sunday of a month at the given hour.
DateTime lastSunday(int month, int year, int hour) {
    DateTime t(month, DateTime::DaysInMonth(month, year), year, hour, 0, 0);
    t.AddDays(-(static_cast<int>(t.DayOfWeek()) % 7));
    return t;
}
}  // namespace

DateTime DateTime::BeginDST(int year) { return lastSunday(mar, year, 2); }

DateTime DateTime::EndDST(int year) { return lastSunday(oct, year, 3); }

bool DateTime::IsDST() const {
    const int y = Year();
    return BeginDST(y) <= *this && *this < EndDST(y);
}

DateTime::moon_phase DateTime::MoonPhase() const {
    const double synodicMonth = 29.530588853 * 86400.0;
    const DateTime knownNewMoon(jan, 6, 2000, 18, 14, 0);
    double age = std::fmod(m_ticks - knownNewMoon.m_ticks, synodicMonth);
    if (age < 0) age += synodicMonth;
    return static_cast<moon_phase>(static_cast<int>(age / synodicMonth * 8.0 + 0.5) % 8);
}

DateTime DateTime::Easter(int year) {
    if (year <= ReformYear) {
        const int d = (19 * (year % 19) + 15) % 30;
        const int e = (2 * (year % 4) + 4 * (year % 7) - d + 34) % 7;
        return DateTime((d + e + 114) / 31, (d + e + 114) % 31 + 1, year);
    }
    const int a = year % 19, b = year / 100, c = year % 100;
    const int d = b / 4, e = b % 4, f = (b + 8) / 25, g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4, k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    return DateTime((h + l - 7 * m + 114) / 31, (h + l - 7 * m + 114) % 31 + 1, year);
}

DateTime DateTime::NextWorktime() const {
    const week_day wd = DayOfWeek();
    if (wd <= fri) return *this;
    return DateTime(static_cast<double>((calendarDay(m_ticks) + (wd == sat ? 2 : 1)) * kSecondsPerDay));
}

DateTime& DateTime::AddMonths(int n) {
    const CivilDate c = civilFromDayNumber(calendarDay(m_ticks));
    const std::int64_t m = c.month - 1 + std::int64_t{n};
    const int year = static_cast<int>(c.year + floorDiv(m, 12));
    const int mon = static_cast<int>(floorMod(m, 12)) + 1;
    const int day = std::min(c.day, monthLabels(mon, year));
    const double inDay = m_ticks - static_cast<double>(calendarDay(m_ticks) * kSecondsPerDay);
    m_ticks = static_cast<double>(dayNumber(mon, day, year) * kSecondsPerDay) + inDay;
    return *this;
}

DateTime& DateTime::AddYears(int n) { return AddMonths(12 * n); }

int DateTime::Age(const DateTime& at) const {
    int years = at.Year() - Year();
    DateTime anniversary(*this);
    anniversary.AddYears(years);
    if (years > 0 && anniversary > at) --years;
    if (years < 0 && anniversary < at) ++years;
    return years;
}

void DateTime::SetHour(int hour) { m_ticks += 3600.0 * (hour - Hour()); }

void DateTime::SetMinute(int minute) { m_ticks += 60.0 * (minute - Minute()); }

void DateTime::SetSecond(int second) { m_ticks += second - Second(); }

// --- output -------------------------------------------------------------------------

std::string DateTime::toString() const {
    const int sec = secondOfDay(m_ticks);
    const CivilDate c = civilFromDayNumber(calendarDay(m_ticks));
    std::string out;
    out.reserve(20);
    appendTwoDigits(out, sec / 3600);
    out += ':';
    appendTwoDigits(out, sec / 60 % 60);
    out += ':';
    appendTwoDigits(out, sec % 60);
    out += '@';
    appendTwoDigits(out, c.month);
    out += '/';
    appendTwoDigits(out, c.day);
    out += '/';
    // Four digits for years 0-9999. A year before 0 (only from negative
    // tick counts) is written as a minus sign and the padded magnitude.
    std::int64_t year = c.year;
    if (year < 0) {
        out += '-';
        year = -year;
    }
    for (std::int64_t limit : {1000, 100, 10})
        if (year < limit) out += '0';
    out += std::to_string(year);
    return out;
}

std::ostream& operator<<(std::ostream& os, const DateTime& t) { return os << t.toString(); }
