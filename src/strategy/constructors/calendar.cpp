// Day ordinals of the proleptic Gregorian calendar, and the well-known days
// that the day draws offer to the record.
#include "strategy/constructors/constructors.hpp"

namespace strategy {
namespace {

constexpr int64_t Y2K_ORDINAL = 730120;  // 2000-01-01
constexpr int64_t DAYS_IN_400_YEARS = 146097;
constexpr int64_t DAYS_IN_100_YEARS = 36524;
constexpr int64_t DAYS_IN_4_YEARS = 1461;
constexpr int DAYS_BEFORE_MONTH[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int DAYS_IN_MONTH[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool is_leap(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int64_t days_before_year(int64_t y) {
    const int64_t p = y - 1;
    return p * 365 + p / 4 - p / 100 + p / 400;
}

}  // namespace

int64_t ordinal_from_ymd(int64_t year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return -1;
    const bool leap_day = month == 2 && is_leap(year);
    if (day > DAYS_IN_MONTH[month] + (leap_day ? 1 : 0)) return -1;
    return days_before_year(year) + DAYS_BEFORE_MONTH[month] + (month > 2 && is_leap(year) ? 1 : 0) + day;
}

Ymd ymd_from_ordinal(int64_t ordinal) {
    // Peel off whole 400-, 100-, 4- and 1-year cycles from 0001-01-01.
    int64_t n = ordinal - 1;
    const int64_t n400 = n / DAYS_IN_400_YEARS;
    n %= DAYS_IN_400_YEARS;
    const int64_t n100 = n / DAYS_IN_100_YEARS;
    n %= DAYS_IN_100_YEARS;
    const int64_t n4 = n / DAYS_IN_4_YEARS;
    n %= DAYS_IN_4_YEARS;
    const int64_t n1 = n / 365;
    n %= 365;
    int64_t year = n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1;
    // The last day of a leap cycle counts one cycle too many.
    if (n1 == 4 || n100 == 4) return Ymd{year - 1, 12, 31};
    const bool leap = is_leap(year);
    int month = 12;
    while (DAYS_BEFORE_MONTH[month] + (month > 2 && leap ? 1 : 0) > n) --month;
    const int64_t before = DAYS_BEFORE_MONTH[month] + (month > 2 && leap ? 1 : 0);
    return Ymd{year, month, static_cast<int>(n - before + 1)};
}

std::vector<mpz_class> date_inject_candidates(int64_t min, int64_t max) {
    std::vector<mpz_class> out;
    out.reserve(8);
    out.emplace_back(static_cast<long>(min));
    out.emplace_back(static_cast<long>(max));
    if (min < Y2K_ORDINAL && Y2K_ORDINAL < max) out.emplace_back(static_cast<long>(Y2K_ORDINAL));
    // Bounds that are not days of the calendar have no years to look at.
    if (min < 1 || max > MAX_ORDINAL) return out;
    const int64_t ymin = ymd_from_ordinal(min).year, ymax = ymd_from_ordinal(max).year;
    if (ymax - ymin < 0 || ymax - ymin > 50) return out;
    static constexpr int MONTH_DAYS[3][2] = {{2, 29}, {1, 1}, {12, 31}};
    for (int64_t y = ymin; y <= ymax; ++y) {
        for (const auto& md : MONTH_DAYS) {
            const int64_t o = ordinal_from_ymd(y, md[0], md[1]);
            if (o >= 0 && min <= o && o <= max) out.emplace_back(static_cast<long>(o));
        }
    }
    return out;
}

}  // namespace strategy
