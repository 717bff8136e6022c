// The date and time strategies and the container strategies: native entry
// points for the other constructors, and the calendar helpers of the day
// draws.
#pragma once

#include <cstdint>
#include <vector>

#include "py/py.hpp"

namespace strategy {

// The body of dates(min_value, max_value): arguments borrowed, nullptr or
// None where absent. Eager argument errors throw. Equal bounds give a Just.
py::Ref make_dates(PyObject* min_value, PyObject* max_value);

// The well-known days offered to the record while it draws a day ordinal in
// [min, max]: min, max, 2000-01-01 when strictly inside, and for spans of at
// most 50 years every 29 February, 1 January and 31 December in range.
std::vector<mpz_class> date_inject_candidates(int64_t min, int64_t max);

// Proleptic Gregorian calendar of the host's `datetime` (day 1 is
// 0001-01-01). Ordinals outside [1, MAX_ORDINAL] are not dates.
inline constexpr int64_t MAX_ORDINAL = 3652059;  // 9999-12-31
struct Ymd {
    int64_t year;
    int month, day;
};
Ymd ymd_from_ordinal(int64_t ordinal);
// The ordinal of (year, month, day), or -1 when that day does not exist.
int64_t ordinal_from_ymd(int64_t year, int month, int day);

}  // namespace strategy
