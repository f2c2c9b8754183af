#pragma once
// DateTime: the simulator's one time type.
//
// A value is a plain count of seconds ("ticks") held in a double, measured
// from midnight at the start of day number 0. Day number 1 is 1 January of
// year 1 in Julian reckoning; the calendar switches to Gregorian reckoning
// after 4 October 1582 (day 577,737), the next day being 15 October 1582.
// The calendar view exists only to read times from the text form
// "hh:mm:ss@mm/dd/yyyy" and to print them; the event loop itself only
// compares and adds doubles.
#include <compare>
#include <concepts>
#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <string>
#include <type_traits>

class DateTime {
public:
    enum month : int { jan = 1, feb, mar, apr, may, jun, jul, aug, sep, oct, nov, dec };
    enum week_day : int { mon = 1, tue, wed, thu, fri, sat, sun };
    enum moon_phase : int {
        new_moon,
        waxing_crescent,
        first_quarter,
        waxing_gibbous,
        full_moon,
        waning_gibbous,
        last_quarter,
        waning_crescent
    };

    static const DateTime MIN;  // 00:00:00 on 01/01/0001
    static const DateTime MAX;  // 00:00:00 on 12/31/9999
    static constexpr int ReformYear = 1582;
    static constexpr month ReformMonth = oct;
    static constexpr std::uint64_t ReformDayNumber = 577737;  // 4 October 1582

    // --- construction -----------------------------------------------------
    constexpr DateTime() : m_ticks(86400.0) {}
    // Text form "hh:mm:ss@mm/dd/yyyy", read by fixed positions without
    // validation (run Check first on user input). The fields are cut out as
    // sub-strings, so a text shorter than 15 characters throws
    // std::out_of_range; 15 to 18 characters give a shortened year field.
    DateTime(const std::string& text);
    DateTime(const char* text);
    DateTime(int month, int day, int year, int hour, int minute, int second);
    DateTime(int month, int day, int year);
    // dayOfYear-th day of `year` (day 1 is 1 January).
    DateTime(int dayOfYear, int year, int hour, int minute, int second);
    DateTime(int dayOfYear, int year);
    DateTime(std::uint64_t dayNumber, int hour, int minute, int second);
    constexpr DateTime(std::uint64_t ticks) : m_ticks(static_cast<double>(ticks)) {}
    constexpr DateTime(double ticks) : m_ticks(ticks) {}
    // Any other integer type is a tick count too; without this an int such
    // as DateTime(10) would be ambiguous between the double and the
    // unsigned 64-bit constructor.
    template <std::integral I>
        requires(!std::is_same_v<I, bool>)
    constexpr DateTime(I ticks) : m_ticks(static_cast<double>(ticks)) {}
    DateTime(const std::tm& t);
    constexpr DateTime(const DateTime&) = default;
    constexpr DateTime& operator=(const DateTime&) = default;
    void SetDate(const DateTime& other) { m_ticks = other.m_ticks; }

    // --- setting and shifting ---------------------------------------------
    // Fields are not range-checked; out-of-range values carry over
    // arithmetically (hour 24 is midnight of the next day, month 13 is
    // January of the next year, day 0 the last day of the previous month).
    void Set(int month, int day, int year, int hour, int minute, int second);
    void Set(int month, int day, int year, int hour, int minute, int second, double fraction);
    void SetFraction(double x);
    DateTime& AddTicks(double seconds) { m_ticks += seconds; return *this; }
    DateTime& AddSeconds(int n) { m_ticks += n; return *this; }
    DateTime& AddMinutes(int n) { m_ticks += 60.0 * n; return *this; }
    DateTime& AddHours(int n) { m_ticks += 3600.0 * n; return *this; }
    DateTime& AddDays(int n) { m_ticks += 86400.0 * n; return *this; }
    DateTime& AddWeeks(int n) { m_ticks += 7.0 * 86400.0 * n; return *this; }

    // --- reading ----------------------------------------------------------
    constexpr double FullDateTime() const { return m_ticks; }
    constexpr operator double() const { return m_ticks; }
    // The tick count truncated toward zero, as a 64-bit two's-complement
    // value (so a negative count wraps; values beyond the range saturate).
    std::uint64_t FullSeconds() const;
    // The low 32 bits of FullSeconds() read as a signed 32-bit number.
    operator long() const;
    // The calendar reading. It splits the count into days and seconds of the
    // day by floor division, which for counts >= 0 is plain truncation; a
    // negative count reads as a time before 12/31/0000 in the Julian
    // calendar run backwards (tick -1 is 23:59:59 on 12/30/0000), and
    // DayNumber() then returns the negative day in two's complement.
    std::uint64_t DayNumber() const;
    int Hour() const;
    int Minute() const;
    int Second() const;
    double Fraction() const;
    int Year() const;
    month Month() const;
    int Day() const;
    int DayOfYear() const;
    int DaysInMonth() const;
    int DaysInYear() const;
    bool IsLeapYear() const;
    bool IsValid() const;

    // --- comparison (exact, no tolerance) -----------------------------------
    constexpr bool operator==(const DateTime&) const = default;
    constexpr std::partial_ordering operator<=>(const DateTime&) const = default;
    // A time against a plain tick count. Without these, `t < 5.0` would be
    // ambiguous between converting the number to a DateTime and converting
    // the DateTime to a number.
    template <typename T>
        requires std::is_arithmetic_v<T>
    constexpr bool operator==(T ticks) const {
        return m_ticks == static_cast<double>(ticks);
    }
    template <typename T>
        requires std::is_arithmetic_v<T>
    constexpr std::partial_ordering operator<=>(T ticks) const {
        return m_ticks <=> static_cast<double>(ticks);
    }

    // --- arithmetic (seconds) -------------------------------------------------
    constexpr double operator-(const DateTime& other) const { return m_ticks - other.m_ticks; }
    constexpr DateTime operator+(double seconds) const { return DateTime(m_ticks + seconds); }
    constexpr DateTime operator+(int seconds) const { return DateTime(m_ticks + seconds); }
    constexpr DateTime operator-(int seconds) const { return DateTime(m_ticks - seconds); }
    // Keeps `t - 0.5` from silently truncating through operator-(int).
    constexpr DateTime operator-(double seconds) const { return DateTime(m_ticks - seconds); }
    DateTime& operator+=(double seconds) { m_ticks += seconds; return *this; }
    DateTime& operator+=(int seconds) { m_ticks += seconds; return *this; }
    DateTime& operator+=(const DateTime& other) { m_ticks += other.m_ticks; return *this; }
    DateTime& operator-=(double seconds) { m_ticks -= seconds; return *this; }
    DateTime& operator-=(int seconds) { m_ticks -= seconds; return *this; }
    DateTime& operator-=(const DateTime& other) { m_ticks -= other.m_ticks; return *this; }
    DateTime& operator++() { m_ticks += 1.0; return *this; }
    DateTime& operator--() { m_ticks -= 1.0; return *this; }
    DateTime operator++(int) { DateTime before(*this); m_ticks += 1.0; return before; }
    DateTime operator--(int) { DateTime before(*this); m_ticks -= 1.0; return before; }

    // --- class functions ------------------------------------------------------
    static bool Check(const std::string& text);
    static DateTime Today();
    static bool IsLeapYear(int year);
    static int DaysInMonth(int month, int year);
    static int DaysInYear(int year);
    static std::uint64_t MakeDayNumber(int month, int day, int year);
    static bool IsValid(int month, int day, int year);
    // Hour 0-23, minute 0-59, second 0-59. It cannot be an IsValid overload:
    // its signature would be the same as the date check's.
    static bool IsValidTime(int hour, int minute, int second);
    static bool IsValid(int month, int day, int year, int hour, int minute, int second);

    // --- calendar extras (not used by the simulator itself) -------------------
    week_day DayOfWeek() const;
    int WeekOfYear() const;             // ISO 8601 week number
    int WeekOfMonth() const;            // 1 for days 1-7, 2 for days 8-14, ...
    static int WeeksInYear(int year);   // ISO 8601: 52 or 53
    DateTime NextWeekDay(week_day day) const;  // first later day with that weekday, same time
    static DateTime BeginDST(int year); // last Sunday of March, 02:00 (European rule)
    static DateTime EndDST(int year);   // last Sunday of October, 03:00
    bool IsDST() const;
    moon_phase MoonPhase() const;
    static DateTime Easter(int year);   // Julian computus up to 1582, Gregorian after
    DateTime NextWorktime() const;      // this time on Mon-Fri, else 00:00 of the next Monday
    DateTime& AddMonths(int n);         // day clamped to the length of the target month
    DateTime& AddYears(int n);
    int Age(const DateTime& at) const;  // completed years from this time until `at`
    void SetHour(int hour);
    void SetMinute(int minute);
    void SetSecond(int second);

    // --- output -----------------------------------------------------------------
    std::string toString() const;

private:
    double m_ticks;
};

// Defined here rather than in the source file so that the constants are
// usable during static initialisation of other translation units.
inline constexpr DateTime DateTime::MIN{86400.0};
inline constexpr DateTime DateTime::MAX{315538070400.0};

std::ostream& operator<<(std::ostream& os, const DateTime& t);
