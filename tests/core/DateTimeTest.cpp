#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace {

constexpr double kDay = 86400.0;

struct Ymd {
    long long year;
    int month;
    int day;
    bool operator==(const Ymd&) const = default;
};

std::string show(const Ymd& d) {
    return std::to_string(d.month) + "/" + std::to_string(d.day) + "/" + std::to_string(d.year);
}

Ymd dateOf(const DateTime& t) { return {t.Year(), static_cast<int>(t.Month()), t.Day()}; }

// The calendar's successor of a date, written out independently of the
// implementation: 4 October 1582 is followed by 15 October 1582, and October
// 1582 otherwise runs to the 31st.
Ymd nextDay(const Ymd& d) {
    if (d == Ymd{1582, 10, 4}) return {1582, 10, 15};
    const int y = static_cast<int>(d.year);
    const int length = (d.month == 10 && y == 1582) ? 31 : DateTime::DaysInMonth(d.month, y);
    if (d.day < length) return {d.year, d.month, d.day + 1};
    if (d.month < 12) return {d.year, d.month + 1, 1};
    return {d.year + 1, 1, 1};
}

std::int64_t signedDayNumber(int month, int day, int year) {
    return static_cast<std::int64_t>(DateTime::MakeDayNumber(month, day, year));
}

}  // namespace

// ---------------------------------------------------------------------------
// Calendar rules

TEST(DateTimeCalendar, DayNumberCheckpointsAndConstants) {
    EXPECT_EQ(DateTime::MakeDayNumber(DateTime::jan, 1, 1), 1u);
    EXPECT_EQ(DateTime::MakeDayNumber(DateTime::oct, 4, 1582), 577737u);
    EXPECT_EQ(DateTime::MakeDayNumber(DateTime::oct, 15, 1582), 577738u);
    EXPECT_EQ(DateTime::MakeDayNumber(DateTime::jan, 1, 2000), 730122u);
    EXPECT_EQ(DateTime::MakeDayNumber(DateTime::dec, 31, 9999), 3652061u);

    EXPECT_EQ(DateTime::ReformYear, 1582);
    EXPECT_EQ(DateTime::ReformMonth, DateTime::oct);
    EXPECT_EQ(DateTime::ReformDayNumber, DateTime::MakeDayNumber(10, 4, 1582));
    EXPECT_EQ(DateTime::jan, 1);
    EXPECT_EQ(DateTime::dec, 12);
    EXPECT_EQ(DateTime::mon, 1);
    EXPECT_EQ(DateTime::sun, 7);

    EXPECT_EQ(DateTime::MIN.FullDateTime(), 86400.0);
    EXPECT_EQ(DateTime::MAX.FullDateTime(), 315538070400.0);
    EXPECT_EQ(DateTime::MIN, DateTime(1, 1, 1));
    EXPECT_EQ(DateTime::MAX, DateTime(12, 31, 9999));
    EXPECT_EQ(DateTime(), DateTime::MIN);
    static_assert(sizeof(DateTime) == 8);
    static_assert(std::is_trivially_copyable_v<DateTime>);
}

TEST(DateTimeCalendar, LeapYearsAreJulianUpTo1581AndGregorianAfter) {
    EXPECT_TRUE(DateTime::IsLeapYear(0));
    EXPECT_TRUE(DateTime::IsLeapYear(4));
    EXPECT_FALSE(DateTime::IsLeapYear(1));
    EXPECT_TRUE(DateTime::IsLeapYear(100));   // Julian: every fourth year
    EXPECT_TRUE(DateTime::IsLeapYear(1500));
    EXPECT_FALSE(DateTime::IsLeapYear(1582));
    EXPECT_TRUE(DateTime::IsLeapYear(1584));
    EXPECT_TRUE(DateTime::IsLeapYear(1600));
    EXPECT_FALSE(DateTime::IsLeapYear(1700));  // Gregorian century rule
    EXPECT_FALSE(DateTime::IsLeapYear(1900));
    EXPECT_TRUE(DateTime::IsLeapYear(2000));
    EXPECT_FALSE(DateTime::IsLeapYear(2001));
    EXPECT_TRUE(DateTime::IsLeapYear(2024));
}

TEST(DateTimeCalendar, MonthAndYearLengths) {
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::oct, 1582), 21);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::oct, 1581), 31);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::oct, 1583), 31);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::feb, 1500), 29);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::feb, 1700), 28);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::feb, 2000), 29);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::apr, 2001), 30);
    EXPECT_EQ(DateTime::DaysInMonth(DateTime::dec, 2001), 31);
    // Months outside 1-12 have no days, so no day of them is valid.
    EXPECT_EQ(DateTime::DaysInMonth(0, 2000), 0);
    EXPECT_EQ(DateTime::DaysInMonth(13, 2000), 0);

    EXPECT_EQ(DateTime::DaysInYear(1582), 355);
    EXPECT_EQ(DateTime::DaysInYear(1500), 366);
    EXPECT_EQ(DateTime::DaysInYear(1900), 365);
    EXPECT_EQ(DateTime::DaysInYear(2000), 366);

    for (int y = 1; y <= 3000; ++y) {
        int sum = 0;
        for (int m = 1; m <= 12; ++m) sum += DateTime::DaysInMonth(m, y);
        ASSERT_EQ(sum, DateTime::DaysInYear(y)) << "year " << y;
    }

    const DateTime feb2000(2, 10, 2000);
    EXPECT_EQ(feb2000.DaysInMonth(), 29);
    EXPECT_EQ(feb2000.DaysInYear(), 366);
    EXPECT_TRUE(feb2000.IsLeapYear());
    EXPECT_FALSE(DateTime(7, 1, 1900).IsLeapYear());
}

TEST(DateTimeCalendar, IsValidChecksRangesAndMonthLengths) {
    EXPECT_TRUE(DateTime::IsValid(2, 29, 2000));
    EXPECT_FALSE(DateTime::IsValid(2, 29, 1900));
    EXPECT_TRUE(DateTime::IsValid(2, 29, 1500));
    EXPECT_TRUE(DateTime::IsValid(12, 31, 9999));
    EXPECT_TRUE(DateTime::IsValid(1, 1, 1));
    EXPECT_FALSE(DateTime::IsValid(1, 1, 0));
    EXPECT_FALSE(DateTime::IsValid(0, 1, 2000));
    EXPECT_FALSE(DateTime::IsValid(13, 1, 2000));
    EXPECT_FALSE(DateTime::IsValid(4, 31, 2000));
    EXPECT_FALSE(DateTime::IsValid(4, 0, 2000));
    EXPECT_FALSE(DateTime::IsValid(10, 22, 1582));  // October 1582 has 21 days

    EXPECT_TRUE(DateTime::IsValidTime(0, 0, 0));
    EXPECT_TRUE(DateTime::IsValidTime(23, 59, 59));
    EXPECT_FALSE(DateTime::IsValidTime(24, 0, 0));
    EXPECT_FALSE(DateTime::IsValidTime(0, 60, 0));
    EXPECT_FALSE(DateTime::IsValidTime(0, 0, 60));
    EXPECT_FALSE(DateTime::IsValidTime(-1, 0, 0));

    EXPECT_TRUE(DateTime::IsValid(2, 29, 2000, 23, 59, 59));
    EXPECT_FALSE(DateTime::IsValid(2, 29, 2000, 24, 0, 0));
    EXPECT_FALSE(DateTime::IsValid(2, 30, 2000, 0, 0, 0));

    EXPECT_TRUE(DateTime(6, 15, 2000, 12, 0, 0).IsValid());
    EXPECT_FALSE(DateTime(0.0).IsValid());  // 12/31/0000: year 0 is not a valid date
}

// ---------------------------------------------------------------------------
// Round trip through the day numbers

TEST(DateTimeRoundTrip, EveryDateFrom0001To9999OutsideTheReformSurvives) {
    std::string failure;
    std::int64_t previous = 0;
    long long checked = 0;
    for (int y = 1; y <= 9999 && failure.empty(); ++y) {
        int dayOfYear = 0;
        for (int m = 1; m <= 12 && failure.empty(); ++m) {
            const int length = DateTime::DaysInMonth(m, y);
            for (int d = 1; d <= length; ++d) {
                ++dayOfYear;
                if (y == 1582 && (m > 10 || (m == 10 && d >= 5))) continue;
                const std::int64_t n = signedDayNumber(m, d, y);
                // Consecutive dates have consecutive day numbers, except
                // across the dates of the reform left out here.
                const bool afterGap = y == 1583 && m == 1 && d == 1;
                const DateTime t(static_cast<std::uint64_t>(n), 0, 0, 0);
                const Ymd want{y, m, d};
                if ((!afterGap && n != previous + 1) || dateOf(t) != want) {
                    failure = show(want) + " -> day " + std::to_string(n) + " -> " + show(dateOf(t));
                    break;
                }
                // Outside 1582 the day of the year is simply the count.
                if (y != 1582 && t.DayOfYear() != dayOfYear) {
                    failure = show(want) + " day of year " + std::to_string(t.DayOfYear());
                    break;
                }
                previous = n;
                ++checked;
            }
        }
    }
    EXPECT_EQ(failure, "");
    EXPECT_EQ(checked, 3652061 - 78);  // all days up to 12/31/9999 but 15 Oct - 31 Dec 1582
}

// ---------------------------------------------------------------------------
// Construction

TEST(DateTimeConstruction, CalendarFieldConstructors) {
    const double noon2000 = 730122 * kDay + 12 * 3600.0 + 30 * 60.0 + 15.0;
    EXPECT_EQ(DateTime(1, 1, 2000, 12, 30, 15).FullDateTime(), noon2000);
    EXPECT_EQ(DateTime(1, 1, 2000, 12, 30, 15).FullDateTime(), 63082585815.0);
    EXPECT_EQ(DateTime(1, 1, 2000).FullDateTime(), 730122 * kDay);
    EXPECT_EQ(DateTime(std::uint64_t{730122}, 12, 30, 15).FullDateTime(), noon2000);

    // Day of the year: the n-th day counted from 31 December of the year before.
    EXPECT_EQ(DateTime(1, 2000, 12, 30, 15), DateTime(1, 1, 2000, 12, 30, 15));
    EXPECT_EQ(DateTime(60, 2000), DateTime(2, 29, 2000));
    EXPECT_EQ(DateTime(60, 2001), DateTime(3, 1, 2001));
    EXPECT_EQ(DateTime(366, 2000), DateTime(12, 31, 2000));
    EXPECT_EQ(DateTime(1, 1), DateTime::MIN);
    for (int y : {1, 4, 100, 1500, 1581, 1583, 1600, 1700, 1999, 2000, 2038, 9999}) {
        const int days = DateTime::DaysInYear(y);
        EXPECT_EQ(DateTime(days, y), DateTime(12, 31, y)) << y;
        EXPECT_EQ(DateTime(days, y).DayOfYear(), days) << y;
    }

    // Tick counts as they stand.
    EXPECT_EQ(DateTime(std::uint64_t{123456789}).FullDateTime(), 123456789.0);
    EXPECT_EQ(DateTime(10.25).FullDateTime(), 10.25);
    EXPECT_EQ(DateTime(0.0).FullDateTime(), 0.0);
    EXPECT_EQ(DateTime(10).FullDateTime(), 10.0);
    EXPECT_EQ(DateTime(-7).FullDateTime(), -7.0);
    EXPECT_EQ(DateTime(10L).FullDateTime(), 10.0);
    const DateTime fromInt = 0;
    EXPECT_EQ(fromInt.FullDateTime(), 0.0);

    std::tm tm{};
    tm.tm_year = 100;  // 2000
    tm.tm_mon = 1;     // February
    tm.tm_mday = 29;
    tm.tm_hour = 23;
    tm.tm_min = 59;
    tm.tm_sec = 58;
    EXPECT_EQ(DateTime(tm), DateTime(2, 29, 2000, 23, 59, 58));

    const DateTime a(5.5);
    const DateTime copy(a);
    DateTime assigned;
    assigned = a;
    DateTime set;
    set.SetDate(a);
    EXPECT_EQ(copy.FullDateTime(), 5.5);
    EXPECT_EQ(assigned.FullDateTime(), 5.5);
    EXPECT_EQ(set.FullDateTime(), 5.5);
}

TEST(DateTimeConstruction, OutOfRangeFieldsCarryOver) {
    EXPECT_EQ(DateTime(1, 1, 2000, 24, 0, 0), DateTime(1, 2, 2000));
    EXPECT_EQ(DateTime(2, 31, 2001), DateTime(3, 3, 2001));
    EXPECT_EQ(DateTime(2, 30, 2000), DateTime(3, 1, 2000));
    EXPECT_EQ(DateTime(1, 1, 2000, 0, 60, 60), DateTime(1, 1, 2000, 1, 1, 0));
    EXPECT_EQ(DateTime(1, 0, 2000), DateTime(12, 31, 1999));
    EXPECT_EQ(DateTime(1, 1, 2000, -1, 0, 0), DateTime(12, 31, 1999, 23, 0, 0));
    EXPECT_EQ(DateTime(13, 1, 1999), DateTime(1, 1, 2000));
    EXPECT_EQ(DateTime(14, 5, 1999), DateTime(2, 5, 2000));
    EXPECT_EQ(DateTime(0, 15, 2000), DateTime(12, 15, 1999));
    EXPECT_EQ(DateTime(-11, 1, 2000), DateTime(1, 1, 1999));
    EXPECT_EQ(DateTime(12, 31 + 365, 1999), DateTime(12, 30, 2000));  // 2000 is a leap year
}

TEST(DateTimeConstruction, SetAndShift) {
    DateTime t;
    t.Set(3, 1, 2000, 6, 7, 8);
    EXPECT_EQ(t, DateTime(3, 1, 2000, 6, 7, 8));
    t.Set(3, 1, 2000, 6, 7, 8, 0.25);
    EXPECT_EQ(t.FullDateTime(), DateTime(3, 1, 2000, 6, 7, 8).FullDateTime() + 0.25);
    EXPECT_EQ(t.Fraction(), 0.25);

    t.SetFraction(0.75);
    EXPECT_EQ(t.FullDateTime(), DateTime(3, 1, 2000, 6, 7, 8).FullDateTime() + 0.75);
    t.SetFraction(0.0);
    EXPECT_EQ(t, DateTime(3, 1, 2000, 6, 7, 8));

    DateTime u(100.0);
    u.AddTicks(0.5);
    EXPECT_EQ(u.FullDateTime(), 100.5);
    u.AddSeconds(-3);
    EXPECT_EQ(u.FullDateTime(), 97.5);
    u.AddMinutes(2);
    EXPECT_EQ(u.FullDateTime(), 217.5);
    u.AddHours(1);
    EXPECT_EQ(u.FullDateTime(), 3817.5);
    u.AddDays(-1);
    EXPECT_EQ(u.FullDateTime(), 3817.5 - kDay);
    u.AddWeeks(2);
    EXPECT_EQ(u.FullDateTime(), 3817.5 + 13 * kDay);
    // Large shifts must not overflow int arithmetic.
    DateTime v(0.0);
    v.AddWeeks(1000000);
    EXPECT_EQ(v.FullDateTime(), 7.0 * kDay * 1000000);
}

// ---------------------------------------------------------------------------
// Text form

TEST(DateTimeText, ConstructorReadsFieldsByPosition) {
    EXPECT_EQ(DateTime("12:30:15@01/01/2000").FullDateTime(), 63082585815.0);
    EXPECT_EQ(DateTime(std::string("12:30:15@01/01/2000")), DateTime(1, 1, 2000, 12, 30, 15));
    EXPECT_EQ(DateTime("24:00:00@01/01/2000"), DateTime(1, 2, 2000));
    EXPECT_EQ(DateTime("00:00:00@02/31/2001"), DateTime(3, 3, 2001));
    // Separators are not looked at.
    EXPECT_EQ(DateTime("12x30x15x01x01x2000"), DateTime(1, 1, 2000, 12, 30, 15));
    // Each field like atoi: blanks and a sign, digits up to the first
    // non-digit, no digits is 0.
    EXPECT_EQ(DateTime(" 1:0x:+5@ 1/-1/2000"), DateTime(12, 30, 1999, 1, 0, 5));
    EXPECT_EQ(DateTime("ab:cd:ef@06/15/2000"), DateTime(6, 15, 2000));
    // Anything after the year field is ignored.
    EXPECT_EQ(DateTime("00:00:00@06/15/2000 trailing"), DateTime(6, 15, 2000));
}

TEST(DateTimeText, ShortTextsReadMissingFieldsAsZero) {
    // 15 to 18 characters: the year field is whatever is left.
    EXPECT_EQ(DateTime("00:00:00@01/01/20"), DateTime(1, 1, 20));
    EXPECT_EQ(DateTime("00:00:00@01/01/"), DateTime(1, 1, 0));
    // Fields that lie beyond the end of the text read as 0; nothing throws.
    EXPECT_EQ(DateTime("00:00:00@01/01"), DateTime(1, 1, 0));
    EXPECT_EQ(DateTime("12:30"), DateTime(0, 0, 0, 12, 30, 0));
    EXPECT_EQ(DateTime(std::string("")), DateTime(0, 0, 0));
    EXPECT_EQ(DateTime(static_cast<const char*>(nullptr)), DateTime(0, 0, 0));
}

TEST(DateTimeText, CheckAcceptsTheTextForm) {
    EXPECT_TRUE(DateTime::Check("12:30:15@01/01/2000"));
    EXPECT_TRUE(DateTime::Check("00:00:00@01/01/0000"));
    EXPECT_TRUE(DateTime::Check("24:00:00@01/01/2000"));
    EXPECT_TRUE(DateTime::Check("00:60:60@01/01/2000"));
    EXPECT_TRUE(DateTime::Check("00:00:00@02/31/2001"));
    EXPECT_TRUE(DateTime::Check("00:00:00@12/31/2038"));
    EXPECT_TRUE(DateTime::Check("00:00:00@01/01/2038"));
}

TEST(DateTimeText, CheckRejectsMalformedText) {
    EXPECT_FALSE(DateTime::Check("00:00:00@01/01/2039"));
    EXPECT_FALSE(DateTime::Check("00:00:00@00/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@13/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@01/00/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@01/32/2000"));
    EXPECT_FALSE(DateTime::Check("25:00:00@01/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:61:00@01/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:61@01/01/2000"));
    EXPECT_FALSE(DateTime::Check("0:00:00@01/01/2000"));     // 18 characters
    EXPECT_FALSE(DateTime::Check("00:00:00@01/01/20000"));   // 20 characters
    EXPECT_FALSE(DateTime::Check(""));
    EXPECT_FALSE(DateTime::Check("00-00-00@01/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00 01/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@01-01-2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@01/01/20x0"));
    EXPECT_FALSE(DateTime::Check(" 0:00:00@01/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@+1/01/2000"));
    EXPECT_FALSE(DateTime::Check("00:00:00@01/01/-200"));
}

TEST(DateTimeText, ToStringPadsFieldsAndDropsTheFraction) {
    EXPECT_EQ(DateTime().toString(), "00:00:00@01/01/0001");
    EXPECT_EQ(DateTime(0.0).toString(), "00:00:00@12/31/0000");
    EXPECT_EQ(DateTime(3600.5).toString(), "01:00:00@12/31/0000");
    EXPECT_EQ(DateTime(3600.5).Fraction(), 0.5);
    EXPECT_EQ(DateTime(63082585815.0).toString(), "12:30:15@01/01/2000");
    EXPECT_EQ(DateTime(59.9).toString(), "00:00:59@12/31/0000");
    EXPECT_EQ(DateTime::MAX.toString(), "00:00:00@12/31/9999");
    EXPECT_EQ(DateTime(11, 9, 1989, 23, 5, 9).toString(), "23:05:09@11/09/1989");
    EXPECT_EQ(DateTime(7, 4, 5).toString(), "00:00:00@07/04/0005");
    EXPECT_EQ(DateTime(7, 4, 50).toString(), "00:00:00@07/04/0050");
    EXPECT_EQ(DateTime(7, 4, 500).toString(), "00:00:00@07/04/0500");
    EXPECT_EQ(DateTime(1, 1, 10).toString(), "00:00:00@01/01/0010");
    EXPECT_EQ(DateTime(1, 1, 100).toString(), "00:00:00@01/01/0100");
    EXPECT_EQ(DateTime(1, 1, 1000).toString(), "00:00:00@01/01/1000");
    EXPECT_EQ(DateTime(10, 10, 1999, 10, 10, 10).toString(), "10:10:10@10/10/1999");
    EXPECT_EQ(DateTime(12, 31, 9999, 23, 59, 59).toString(), "23:59:59@12/31/9999");
    EXPECT_EQ(DateTime(1, 1, 10000).toString(), "00:00:00@01/01/10000");

    std::ostringstream os;
    os << DateTime(1, 1, 2000, 12, 30, 15) << "|";
    EXPECT_EQ(os.str(), "12:30:15@01/01/2000|");
}

TEST(DateTimeText, CheckedTextsReadBackUnchanged) {
    for (const char* text : {"00:00:00@01/01/0001", "12:30:15@01/01/2000", "23:59:59@12/31/2038",
                             "07:08:09@02/29/1600", "01:02:03@10/04/1582", "01:02:03@10/15/1582",
                             "12:00:00@06/15/0000", "00:00:00@02/29/0000"}) {
        ASSERT_TRUE(DateTime::Check(text)) << text;
        EXPECT_EQ(DateTime(text).toString(), text);
    }
}

// ---------------------------------------------------------------------------
// Reading

TEST(DateTimeReading, TimeOfDayFieldsComeFromTheTruncatedCount) {
    const DateTime t(63082585815.75);  // 12:30:15.75 on 01/01/2000
    EXPECT_EQ(t.DayNumber(), 730122u);
    EXPECT_EQ(t.Hour(), 12);
    EXPECT_EQ(t.Minute(), 30);
    EXPECT_EQ(t.Second(), 15);
    EXPECT_EQ(t.Fraction(), 0.75);
    EXPECT_EQ(t.FullSeconds(), 63082585815u);
    EXPECT_EQ(t.FullDateTime(), 63082585815.75);
    EXPECT_EQ(double(t), 63082585815.75);
    EXPECT_EQ(t.Year(), 2000);
    EXPECT_EQ(t.Month(), DateTime::jan);
    EXPECT_EQ(t.Day(), 1);
    EXPECT_EQ(t.DayOfYear(), 1);

    const DateTime last(12, 31, 2000, 23, 59, 59);
    EXPECT_EQ(last.Hour(), 23);
    EXPECT_EQ(last.Minute(), 59);
    EXPECT_EQ(last.Second(), 59);
    EXPECT_EQ(last.DayOfYear(), 366);
    EXPECT_EQ((last + 1).toString(), "00:00:00@01/01/2001");

    EXPECT_EQ(DateTime(59.9).Second(), 59);
    EXPECT_EQ(DateTime(3, 1, 1900).DayOfYear(), 60);
    EXPECT_EQ(DateTime(3, 1, 2000).DayOfYear(), 61);
    EXPECT_EQ(DateTime(12, 31, 1582).DayOfYear(), 355);
}

TEST(DateTimeReading, OperatorLongKeepsTheLow32BitsOfTheTruncatedCount) {
    EXPECT_EQ(static_cast<long>(DateTime(1, 1, 2000)), -1341968640L);
    EXPECT_EQ(static_cast<long>(DateTime(1234.9)), 1234L);
    EXPECT_EQ(static_cast<long>(DateTime(0.0)), 0L);
    EXPECT_EQ(static_cast<long>(DateTime(2147483647.0)), 2147483647L);
    EXPECT_EQ(static_cast<long>(DateTime(2147483648.0)), -2147483648L);
    EXPECT_EQ(static_cast<long>(DateTime(4294967296.0 + 5.5)), 5L);
    EXPECT_EQ(static_cast<long>(DateTime(-5.5)), -5L);  // truncated toward zero
    const long implicitlyConverted = DateTime(1, 1, 2000);
    EXPECT_EQ(implicitlyConverted, -1341968640L);
}

// ---------------------------------------------------------------------------
// Comparison and arithmetic

TEST(DateTimeArithmetic, IntAndDoubleOperandsPickTheirOwnOverloads) {
    const DateTime t(10.0);
    static_assert(std::is_same_v<decltype(t + 0.5), DateTime>);
    static_assert(std::is_same_v<decltype(t + 1), DateTime>);
    static_assert(std::is_same_v<decltype(t - 1), DateTime>);
    static_assert(std::is_same_v<decltype(t - t), double>);

    EXPECT_EQ((t + 0.5).FullDateTime(), 10.5);
    EXPECT_EQ((t + 1).FullDateTime(), 11.0);
    EXPECT_EQ((t - 1).FullDateTime(), 9.0);
    EXPECT_EQ((t - 0.5).FullDateTime(), 9.5);
    EXPECT_EQ((t + 0.5) - t, 0.5);
    EXPECT_EQ(t - (t + 0.5), -0.5);
    EXPECT_EQ(t + 0.5 - (t - 1), 1.5);
    EXPECT_EQ((t + 10000).FullDateTime(), 10010.0);
    EXPECT_EQ(DateTime(1, 1, 2000) + 86400, DateTime(1, 2, 2000));
    EXPECT_EQ(t.FullDateTime(), 10.0);  // the operands are left alone
}

TEST(DateTimeArithmetic, CompoundAssignmentAndIncrement) {
    DateTime t(10.0);
    t += 0.25;
    EXPECT_EQ(t.FullDateTime(), 10.25);
    t += 2;
    EXPECT_EQ(t.FullDateTime(), 12.25);
    t += DateTime(100.0);
    EXPECT_EQ(t.FullDateTime(), 112.25);
    t -= DateTime(100.0);
    EXPECT_EQ(t.FullDateTime(), 12.25);
    t -= 2;
    EXPECT_EQ(t.FullDateTime(), 10.25);
    t -= 0.25;
    EXPECT_EQ(t.FullDateTime(), 10.0);

    EXPECT_EQ((++t).FullDateTime(), 11.0);
    EXPECT_EQ((t++).FullDateTime(), 11.0);
    EXPECT_EQ(t.FullDateTime(), 12.0);
    EXPECT_EQ((--t).FullDateTime(), 11.0);
    EXPECT_EQ((t--).FullDateTime(), 11.0);
    EXPECT_EQ(t.FullDateTime(), 10.0);

    DateTime c(12, 31, 1999, 23, 59, 59);
    ++c;
    EXPECT_EQ(c, DateTime(1, 1, 2000));
}

TEST(DateTimeArithmetic, ComparisonsAreExact) {
    const DateTime a(10.0);
    const DateTime b(10.5);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a <= b);
    EXPECT_FALSE(a > b);
    EXPECT_FALSE(a >= b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a == DateTime(10.0));
    EXPECT_TRUE(a <= DateTime(10.0));
    EXPECT_TRUE(a >= DateTime(10.0));
    EXPECT_FALSE(a != DateTime(10.0));

    // No tolerance: the next representable double is a different time.
    const DateTime next(std::nextafter(10.0, 11.0));
    EXPECT_FALSE(a == next);
    EXPECT_TRUE(a != next);
    EXPECT_TRUE(a < next);
    EXPECT_NE(DateTime(0.1 + 0.2), DateTime(0.3));

    // Against plain tick counts.
    EXPECT_TRUE(a == 10.0);
    EXPECT_TRUE(a == 10);
    EXPECT_TRUE(10 == a);
    EXPECT_TRUE(a < 10.5);
    EXPECT_TRUE(9.5 < a);
    EXPECT_TRUE(a != 10.0000001);
    EXPECT_TRUE(a >= 10);
}

TEST(DateTimeArithmetic, TodayIsTheLocalWallClockToTheSecond) {
    const auto localNow = [] {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        return DateTime(tm);
    };
    const DateTime before = localNow();
    const DateTime today = DateTime::Today();
    const DateTime after = localNow();
    EXPECT_LE(before, today);
    EXPECT_LE(today, after);
    EXPECT_LE(after - before, 1.0);
    EXPECT_EQ(today.Fraction(), 0.0);
    EXPECT_TRUE(today.IsValid());
}

// ---------------------------------------------------------------------------
// Reform of October 1582: dates and day numbers convert through a calendar
// that runs on without a gap (4 Oct -> 15 Oct ... 31 Dec 1582 -> 1 Jan 1583).

TEST(DateTimeReform, DaysAroundTheReformFollowEachOther) {
    EXPECT_EQ(DateTime(10, 15, 1582) - DateTime(10, 4, 1582), kDay);
    EXPECT_EQ(DateTime(11, 1, 1582) - DateTime(10, 31, 1582), kDay);
    EXPECT_EQ(DateTime(1, 1, 1583) - DateTime(12, 31, 1582), kDay);
    EXPECT_EQ(DateTime(1, 1, 1583) - DateTime(1, 1, 1582), 355 * kDay);
    EXPECT_EQ(DateTime(1, 1583), DateTime(1, 1, 1583));
    EXPECT_EQ(DateTime(355, 1582), DateTime(12, 31, 1582));

    // Every date from 15 October to 31 December 1582 reads back unchanged.
    Ymd d{1582, 10, 15};
    for (int i = 0; i < 78; ++i, d = nextDay(d)) {
        const DateTime t(d.month, d.day, static_cast<int>(d.year));
        EXPECT_EQ(dateOf(t), d) << show(d);
        EXPECT_EQ(t.FullDateTime(), (577738.0 + i) * kDay) << show(d);
    }
    EXPECT_EQ(d, (Ymd{1583, 1, 1}));

    // The skipped labels 5-14 October name the ten days before the reform,
    // as the proleptic Gregorian calendar counts them.
    EXPECT_EQ(DateTime(10, 5, 1582), DateTime(9, 25, 1582));
    EXPECT_EQ(DateTime(10, 14, 1582), DateTime(10, 4, 1582));
    EXPECT_EQ(DateTime(10, 14, 1582).toString(), "00:00:00@10/04/1582");
}

TEST(DateTimeReform, EveryDayNumberIsADateAndBack) {
    // From before year 0 to beyond the four-digit years: each day number
    // reads as the day after the previous one and converts back to itself.
    const std::int64_t first = -3000;
    const std::int64_t last = signedDayNumber(12, 31, 12000);
    std::string failure;
    Ymd previous = dateOf(DateTime(static_cast<double>(first - 1) * kDay));
    for (std::int64_t n = first; n <= last; ++n) {
        const Ymd d = dateOf(DateTime(static_cast<double>(n) * kDay));
        if (d != nextDay(previous) ||
            signedDayNumber(d.month, d.day, static_cast<int>(d.year)) != n) {
            failure = "day " + std::to_string(n) + " reads as " + show(d) + " after " + show(previous);
            break;
        }
        previous = d;
    }
    EXPECT_EQ(failure, "");
    EXPECT_EQ(previous, (Ymd{12000, 12, 31}));
}

// ---------------------------------------------------------------------------
// Year 0 and negative tick counts continue the Julian calendar backwards.

TEST(DateTimeBeforeYearOne, YearZeroIsALeapYearEndingAtDayZero) {
    EXPECT_EQ(signedDayNumber(12, 31, 0), 0);
    EXPECT_EQ(signedDayNumber(1, 1, 0), -365);
    EXPECT_EQ(signedDayNumber(2, 29, 0), -365 + 59);
    EXPECT_EQ(DateTime(1, 1, 0).FullDateTime(), -365 * kDay);
    EXPECT_EQ(DateTime("00:00:00@01/01/0000").toString(), "00:00:00@01/01/0000");
    EXPECT_EQ(DateTime(2, 29, 0).toString(), "00:00:00@02/29/0000");
    EXPECT_EQ(DateTime(1, 1, 0).DayOfYear(), 1);
    EXPECT_EQ(DateTime(12, 31, 0).DayOfYear(), 366);
}

TEST(DateTimeBeforeYearOne, NegativeTicksReadAsEarlierTimes) {
    EXPECT_EQ(DateTime(-1.0).toString(), "23:59:59@12/30/0000");
    EXPECT_EQ(DateTime(-0.5).toString(), "23:59:59@12/30/0000");
    EXPECT_EQ(DateTime(-0.5).Fraction(), 0.5);
    EXPECT_EQ(DateTime(-3600.0).Hour(), 23);
    EXPECT_EQ(DateTime(-365 * kDay).toString(), "00:00:00@01/01/0000");
    EXPECT_EQ(DateTime(-366 * kDay).toString(), "00:00:00@12/31/-0001");
    EXPECT_EQ(DateTime(-366 * kDay).Year(), -1);
    EXPECT_EQ(DateTime(-366 * kDay).DaysInYear(), 365);
    EXPECT_EQ(DateTime(-(366 + 3 * 365) * kDay).toString(), "00:00:00@12/31/-0004");
    EXPECT_TRUE(DateTime(-(366 + 3 * 365) * kDay).IsLeapYear());

    // Numeric conversions truncate toward zero in two's complement.
    EXPECT_EQ(DateTime(-5.5).FullSeconds(), static_cast<std::uint64_t>(-5));
    EXPECT_EQ(DateTime(-1.0).DayNumber(), static_cast<std::uint64_t>(-1));

    // The calendar fields and the fraction add up to the tick count again.
    for (double ticks : {-1.0, -0.25, -86399.5, -86400.0, -1e9 - 0.5, 0.0, 0.5, 86399.75, 6.3e10 + 0.125}) {
        const DateTime t(ticks);
        const DateTime rebuilt = DateTime(t.DayNumber(), t.Hour(), t.Minute(), t.Second()) + t.Fraction();
        EXPECT_EQ(rebuilt.FullDateTime(), ticks) << ticks;
        EXPECT_EQ(DateTime(t.Month(), t.Day(), t.Year(), t.Hour(), t.Minute(), t.Second()) + t.Fraction(), t)
            << ticks;
    }
}

TEST(DateTimeBeforeYearOne, ExtremeTickCountsStayWellDefined) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(DateTime(std::nan("")).toString(), "00:00:00@12/31/0000");
    EXPECT_EQ(DateTime(1e300).FullSeconds(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(DateTime(inf).FullSeconds(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(DateTime(1.5e19).FullSeconds(), 15000000000000000000u);
    // Beyond the 64-bit range the calendar reading saturates; it still
    // yields a well-formed date.
    for (double ticks : {1e300, -1e300, inf, -inf, 9e18, -9e18}) {
        const DateTime t(ticks);
        const std::string text = t.toString();
        EXPECT_GE(t.Month(), 1) << ticks;
        EXPECT_LE(t.Month(), 12) << ticks;
        EXPECT_GE(t.Day(), 1) << ticks;
        EXPECT_LE(t.Day(), 31) << ticks;
        EXPECT_EQ(text[2], ':') << text;
        EXPECT_EQ(text[8], '@') << text;
    }
    EXPECT_EQ(DateTime(1e300).toString(), DateTime(inf).toString());
}

// ---------------------------------------------------------------------------
// Calendar extras

TEST(DateTimeExtras, WeekdaysAndWeeks) {
    EXPECT_EQ(DateTime(1, 1, 2000).DayOfWeek(), DateTime::sat);
    EXPECT_EQ(DateTime(10, 4, 1582).DayOfWeek(), DateTime::thu);
    EXPECT_EQ(DateTime(10, 15, 1582).DayOfWeek(), DateTime::fri);
    EXPECT_EQ(DateTime(7, 4, 1776).DayOfWeek(), DateTime::thu);
    EXPECT_EQ(DateTime(3, 18, 2024, 23, 59, 59).DayOfWeek(), DateTime::mon);

    EXPECT_EQ(DateTime::WeeksInYear(2015), 53);  // starts on a Thursday
    EXPECT_EQ(DateTime::WeeksInYear(2020), 53);  // leap year starting on a Wednesday
    EXPECT_EQ(DateTime::WeeksInYear(2021), 52);
    EXPECT_EQ(DateTime(1, 1, 2021).WeekOfYear(), 53);
    EXPECT_EQ(DateTime(1, 4, 2021).WeekOfYear(), 1);
    EXPECT_EQ(DateTime(12, 30, 2024).WeekOfYear(), 1);
    EXPECT_EQ(DateTime(6, 15, 2023).WeekOfYear(), 24);

    EXPECT_EQ(DateTime(6, 7, 2023).WeekOfMonth(), 1);
    EXPECT_EQ(DateTime(6, 8, 2023).WeekOfMonth(), 2);
    EXPECT_EQ(DateTime(6, 30, 2023).WeekOfMonth(), 5);

    const DateTime saturdayNoon(1, 1, 2000, 12, 0, 0);
    EXPECT_EQ(saturdayNoon.NextWeekDay(DateTime::sat), DateTime(1, 8, 2000, 12, 0, 0));
    EXPECT_EQ(saturdayNoon.NextWeekDay(DateTime::mon), DateTime(1, 3, 2000, 12, 0, 0));
    EXPECT_EQ(saturdayNoon.NextWorktime(), DateTime(1, 3, 2000));
    EXPECT_EQ(DateTime(1, 2, 2000, 8, 0, 0).NextWorktime(), DateTime(1, 3, 2000));
    EXPECT_EQ(DateTime(1, 5, 2000, 8, 0, 0).NextWorktime(), DateTime(1, 5, 2000, 8, 0, 0));
}

TEST(DateTimeExtras, DaylightSavingEasterAndMoon) {
    EXPECT_EQ(DateTime::BeginDST(2024), DateTime(3, 31, 2024, 2, 0, 0));
    EXPECT_EQ(DateTime::EndDST(2024), DateTime(10, 27, 2024, 3, 0, 0));
    EXPECT_EQ(DateTime::BeginDST(2023), DateTime(3, 26, 2023, 2, 0, 0));
    EXPECT_TRUE(DateTime(7, 1, 2024).IsDST());
    EXPECT_FALSE(DateTime(1, 15, 2024).IsDST());
    EXPECT_FALSE(DateTime(3, 31, 2024, 1, 59, 59).IsDST());
    EXPECT_TRUE(DateTime(3, 31, 2024, 2, 0, 0).IsDST());

    EXPECT_EQ(DateTime::Easter(2024), DateTime(3, 31, 2024));
    EXPECT_EQ(DateTime::Easter(2000), DateTime(4, 23, 2000));
    EXPECT_EQ(DateTime::Easter(2019), DateTime(4, 21, 2019));
    EXPECT_EQ(DateTime::Easter(1818), DateTime(3, 22, 1818));
    EXPECT_EQ(DateTime::Easter(2038), DateTime(4, 25, 2038));
    EXPECT_EQ(DateTime::Easter(1500), DateTime(4, 19, 1500));  // Julian computus

    EXPECT_EQ(DateTime(1, 6, 2000, 18, 14, 0).MoonPhase(), DateTime::new_moon);
    EXPECT_EQ(DateTime(1, 21, 2000, 4, 40, 0).MoonPhase(), DateTime::full_moon);
    EXPECT_EQ(DateTime(1, 14, 2000, 13, 34, 0).MoonPhase(), DateTime::first_quarter);
    EXPECT_EQ(DateTime(4, 8, 2024, 18, 21, 0).MoonPhase(), DateTime::new_moon);
    EXPECT_EQ(DateTime(12, 22, 1999, 17, 31, 0).MoonPhase(), DateTime::full_moon);
}

TEST(DateTimeExtras, FieldAndMonthChanges) {
    DateTime t(1, 31, 2001, 10, 20, 30);
    t.SetFraction(0.5);
    t.AddMonths(1);
    EXPECT_EQ(t, DateTime(2, 28, 2001, 10, 20, 30) + 0.5);
    DateTime leap(1, 31, 2000, 10, 20, 30);
    leap.AddMonths(1);
    EXPECT_EQ(leap, DateTime(2, 29, 2000, 10, 20, 30));
    leap.AddMonths(-2);
    EXPECT_EQ(leap, DateTime(12, 29, 1999, 10, 20, 30));
    leap.AddMonths(14);
    EXPECT_EQ(leap, DateTime(2, 28, 2001, 10, 20, 30));
    DateTime feb29(2, 29, 2000);
    feb29.AddYears(1);
    EXPECT_EQ(feb29, DateTime(2, 28, 2001));
    feb29.AddYears(-101);
    EXPECT_EQ(feb29, DateTime(2, 28, 1900));

    const DateTime birth(6, 15, 1990, 8, 0, 0);
    EXPECT_EQ(birth.Age(DateTime(6, 15, 2020, 7, 59, 59)), 29);
    EXPECT_EQ(birth.Age(DateTime(6, 15, 2020, 8, 0, 0)), 30);
    EXPECT_EQ(birth.Age(birth), 0);
    EXPECT_EQ(birth.Age(DateTime(7, 1, 1980)), -9);

    DateTime s(3, 1, 2000, 6, 7, 8);
    s.SetFraction(0.25);
    s.SetHour(23);
    s.SetMinute(0);
    s.SetSecond(59);
    EXPECT_EQ(s, DateTime(3, 1, 2000, 23, 0, 59) + 0.25);
}
