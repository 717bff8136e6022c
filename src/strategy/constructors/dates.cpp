// dates(), times(), datetimes() and timedeltas(): every bound becomes plain
// integers when the strategy is built, so a draw is integer choices and the
// building of one object of the host's `datetime` module.
#include <algorithm>
#include <string>

#include "data/record.hpp"
#include "data/tls.hpp"
#include "strategy/constructors/constructors.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/checks.hpp"

namespace strategy {
namespace {

constexpr int64_t Y2K_ORDINAL = 730120;  // 2000-01-01, where day draws shrink to
constexpr int64_t US_PER_DAY = 86400000000;
constexpr int64_t US_PER_HOUR = 3600000000;
constexpr int64_t US_PER_MINUTE = 60000000;
constexpr int64_t US_PER_SECOND = 1000000;

enum class Temporal { Date, Time, Datetime, Timedelta };

const char* type_text(Temporal t) {
    switch (t) {
    case Temporal::Date: return "date";
    case Temporal::Time: return "time";
    case Temporal::Datetime: return "datetime";
    case Temporal::Timedelta: return "timedelta";
    }
    return "";
}

// A class of the `datetime` module, for the draws: interned names, and the
// module from sys.modules once it is loaded.
py::Ref dt_class(py::Name& name) {
    static py::Name k_datetime{"datetime"};
    py::Ref mod = py::import(k_datetime.get());
    return py::check(PyObject_GetAttr(mod.get(), name.get()));
}

py::Ref dt_attr(const char* type, const char* attr) {
    py::Ref cls = py::import_attr("datetime", type);
    return py::getattr(cls.get(), attr);
}

void check_dt_type(PyObject* value, Temporal t, const char* name) {
    py::Ref cls = py::import_attr("datetime", type_text(t));
    int ok = PyObject_IsInstance(value, cls.get());
    if (ok < 0) throw py::Err{};
    if (!ok) {
        raise_invalid_argument(std::string("Expected ") + name + " to be a datetime." + type_text(t) +
                               ", but got " + py::repr(value));
    }
}

bool compare(PyObject* a, PyObject* b, int op) {
    py::Ref r = py::check(PyObject_RichCompare(a, b, op));
    return py::truthy(r.get());
}

int64_t i64_of(PyObject* v) {
    long long x = PyLong_AsLongLong(v);
    if (x == -1 && PyErr_Occurred()) throw py::Err{};
    return x;
}

int64_t i64_attr(PyObject* o, const char* name) {
    py::Ref v = py::getattr(o, name);
    return i64_of(v.get());
}

int64_t ordinal_of(PyObject* d) {
    py::Ref v = py::call_method(d, "toordinal");
    return i64_of(v.get());
}

int64_t time_to_us(PyObject* t) {
    // Wide arithmetic: the fields of a time subclass need not be in range.
    __int128 us = static_cast<__int128>(i64_attr(t, "hour")) * US_PER_HOUR;
    us += static_cast<__int128>(i64_attr(t, "minute")) * US_PER_MINUTE;
    us += static_cast<__int128>(i64_attr(t, "second")) * US_PER_SECOND;
    us += i64_attr(t, "microsecond");
    if (us < INT64_MIN || us > INT64_MAX) py::raise_overflow_error("time of day out of range: " + py::repr(t));
    return static_cast<int64_t>(us);
}

mpz_class td_to_us(PyObject* td) {
    mpz_class days = static_cast<long>(i64_attr(td, "days"));
    mpz_class seconds = static_cast<long>(i64_attr(td, "seconds"));
    mpz_class micros = static_cast<long>(i64_attr(td, "microseconds"));
    return (days * 86400 + seconds) * US_PER_SECOND + micros;
}

// The readings of two bounds must be in order for any value to lie between
// them. Aware times and datetimes compare in UTC while their readings are
// local, so bounds in different time zones can pass the comparison and
// still be out of order here.
template <class T> void check_readings(const T& lo, const T& hi, PyObject* min, PyObject* max) {
    if (lo > hi) {
        raise_invalid_argument("Cannot draw a value between min_value=" + py::repr(min) +
                               " and max_value=" + py::repr(max) +
                               ": the first comes after the second once time zones are ignored");
    }
}

py::Ref make_temporal(Temporal t, PyObject* min_value, PyObject* max_value) {
    const char* type = type_text(t);
    py::Ref min = min_value && min_value != Py_None ? py::Ref::borrow(min_value) : dt_attr(type, "min");
    py::Ref max = max_value && max_value != Py_None ? py::Ref::borrow(max_value) : dt_attr(type, "max");
    check_dt_type(min.get(), t, "min_value");
    check_dt_type(max.get(), t, "max_value");
    if (compare(max.get(), min.get(), Py_LT)) {
        raise_invalid_argument("Cannot have max_value=" + py::repr(max.get()) + " < min_value=" +
                               py::repr(min.get()));
    }
    if (compare(min.get(), max.get(), Py_EQ)) return SearchStrategy::wrap(kinds::Just{min});
    switch (t) {
    case Temporal::Date: {
        kinds::Dates n{ordinal_of(min.get()), ordinal_of(max.get())};
        check_readings(n.min_ordinal, n.max_ordinal, min.get(), max.get());
        return SearchStrategy::wrap(std::move(n));
    }
    case Temporal::Time: {
        kinds::Times n{time_to_us(min.get()), time_to_us(max.get())};
        check_readings(n.min_micros, n.max_micros, min.get(), max.get());
        return SearchStrategy::wrap(std::move(n));
    }
    case Temporal::Datetime: {
        py::Ref min_day = py::call_method(min.get(), "date"), max_day = py::call_method(max.get(), "date");
        kinds::Datetimes n;
        n.min_ordinal = ordinal_of(min_day.get());
        n.max_ordinal = ordinal_of(max_day.get());
        // Within the day, whatever the fields of a datetime subclass say.
        n.min_time_micros = std::clamp<int64_t>(time_to_us(min.get()), 0, US_PER_DAY - 1);
        n.max_time_micros = std::clamp<int64_t>(time_to_us(max.get()), 0, US_PER_DAY - 1);
        check_readings(std::pair(n.min_ordinal, n.min_time_micros), std::pair(n.max_ordinal, n.max_time_micros),
                       min.get(), max.get());
        return SearchStrategy::wrap(std::move(n));
    }
    case Temporal::Timedelta: {
        kinds::Timedeltas n{td_to_us(min.get()), td_to_us(max.get())};
        check_readings(n.min_micros, n.max_micros, min.get(), max.get());
        return SearchStrategy::wrap(std::move(n));
    }
    }
    py::throw_fault("unknown temporal strategy");
}

// ---------------------------------------------------------------------------
// Draws

// Keeps the day candidates installed for exactly one integer draw.
class InjectScope {
public:
    explicit InjectScope(std::vector<mpz_class> candidates) {
        data::set_inject_candidates(std::move(candidates));
    }
    ~InjectScope() { data::clear_inject_candidates(); }
    InjectScope(const InjectScope&) = delete;
    InjectScope& operator=(const InjectScope&) = delete;
};

int64_t draw_i64(PyObject* record, int64_t lo, int64_t hi, int64_t shrink_towards) {
    py::Ref v;
    {
        data::RecordMut r(record);
        v = r->draw_integer_rs(mpz_class(static_cast<long>(lo)), mpz_class(static_cast<long>(hi)), nullptr,
                               shrink_towards);
    }
    return i64_of(v.get());
}

int64_t draw_day(PyObject* record, int64_t min, int64_t max) {
    InjectScope scope(date_inject_candidates(min, max));
    return draw_i64(record, min, max, Y2K_ORDINAL);
}

// (year, month, day) of a drawn ordinal. Only a bound that lied about its
// ordinal gives one outside the calendar; the host then reports it.
Ymd checked_ymd(int64_t ordinal) {
    if (ordinal < 1 || ordinal > MAX_ORDINAL) {
        static py::Name k_date{"date"};
        py::Ref cls = dt_class(k_date);
        py::Ref o = py::from_i64(ordinal);
        py::call_method(cls.get(), "fromordinal", o.get());
        py::raise_value_error("day ordinal " + std::to_string(ordinal) + " is out of range");
    }
    return ymd_from_ordinal(ordinal);
}

bool draw_fold(PyObject* record) { return draw_fair_boolean(record); }

// cls(*fields, fold=1) when fold is set, else cls(*fields).
py::Ref build(py::Name& cls_name, std::initializer_list<int64_t> fields, bool fold) {
    py::Ref cls = dt_class(cls_name);
    py::Ref args = py::check(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
    Py_ssize_t i = 0;
    for (int64_t f : fields) PyTuple_SetItem(args.get(), i++, py::from_i64(f).release());
    py::Ref kwargs;
    if (fold) {
        kwargs = py::new_dict();
        py::Ref one = py::from_i64(1);
        py::dict_set(kwargs.get(), "fold", one.get());
    }
    return py::call_args(cls.get(), args.get(), kwargs.get());
}

}  // namespace

py::Ref make_dates(PyObject* min_value, PyObject* max_value) {
    return make_temporal(Temporal::Date, min_value, max_value);
}

py::Ref draw_dates(const kinds::Dates& n, PyObject* record) {
    static py::Name k_date{"date"};
    Ymd d = checked_ymd(draw_day(record, n.min_ordinal, n.max_ordinal));
    return build(k_date, {d.year, d.month, d.day}, false);
}

py::Ref draw_times(const kinds::Times& n, PyObject* record) {
    static py::Name k_time{"time"};
    int64_t us = draw_i64(record, n.min_micros, n.max_micros, 0);
    bool fold = draw_fold(record);
    return build(k_time,
                 {us / US_PER_HOUR, us % US_PER_HOUR / US_PER_MINUTE, us % US_PER_MINUTE / US_PER_SECOND,
                  us % US_PER_SECOND},
                 fold);
}

py::Ref draw_datetimes(const kinds::Datetimes& n, PyObject* record) {
    static py::Name k_datetime{"datetime"};
    int64_t day = draw_day(record, n.min_ordinal, n.max_ordinal);
    int64_t lo = day == n.min_ordinal ? n.min_time_micros : 0;
    int64_t hi = day == n.max_ordinal ? n.max_time_micros : US_PER_DAY - 1;
    int64_t us = draw_i64(record, lo, hi, 0);
    bool fold = draw_fold(record);
    Ymd d = checked_ymd(day);
    return build(k_datetime,
                 {d.year, d.month, d.day, us / US_PER_HOUR, us % US_PER_HOUR / US_PER_MINUTE,
                  us % US_PER_MINUTE / US_PER_SECOND, us % US_PER_SECOND},
                 fold);
}

py::Ref draw_timedeltas(const kinds::Timedeltas& n, PyObject* record) {
    const mpz_class per_day = US_PER_DAY;
    mpz_class dmin, rmin, dmax, rmax;
    mpz_fdiv_qr(dmin.get_mpz_t(), rmin.get_mpz_t(), n.min_micros.get_mpz_t(), per_day.get_mpz_t());
    mpz_fdiv_qr(dmax.get_mpz_t(), rmax.get_mpz_t(), n.max_micros.get_mpz_t(), per_day.get_mpz_t());
    py::Ref day;
    {
        data::RecordMut r(record);
        day = r->draw_integer_rs(dmin, dmax, nullptr, 0);
    }
    mpz_class d = py::to_mpz(day.get());
    int64_t lo = d == dmin ? rmin.get_si() : 0;
    int64_t hi = d == dmax ? rmax.get_si() : US_PER_DAY - 1;
    int64_t rem = draw_i64(record, lo, hi, 0);
    static py::Name k_timedelta{"timedelta"};
    py::Ref cls = dt_class(k_timedelta);
    py::Ref zero = py::from_i64(0), micros = py::from_i64(rem);
    return py::call_args(cls.get(), py::tuple_of({day.get(), zero.get(), micros.get()}).get());
}

// ---------------------------------------------------------------------------
// Python functions

namespace {

PyObject* dates_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"dates", {"min_value", "max_value"}, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        return make_dates(a[0], a[1]).release();
    });
}

PyObject* times_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"times", {"min_value", "max_value", "timezones"}, 0, 2};
        auto a = sig.parse<3>(args, nargs, kwnames);
        return make_temporal(Temporal::Time, a[0], a[1]).release();
    });
}

PyObject* datetimes_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"datetimes", {"min_value", "max_value", "timezones", "allow_imaginary"}, 0, 2};
        auto a = sig.parse<4>(args, nargs, kwnames);
        if (a[3] && a[3] != Py_None) check_bool_flag(a[3], "allow_imaginary");
        return make_temporal(Temporal::Datetime, a[0], a[1]).release();
    });
}

PyObject* timedeltas_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"timedeltas", {"min_value", "max_value"}, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        return make_temporal(Temporal::Timedelta, a[0], a[1]).release();
    });
}

}  // namespace

namespace defs {
PyMethodDef dates = {"dates", QF_FASTCALL(dates_fn), METH_FASTCALL | METH_KEYWORDS,
                     "dates(min_value=None, max_value=None)\n--\n\n"
                     "Dates between the two bounds, shrinking towards 2000-01-01."};
PyMethodDef times = {"times", QF_FASTCALL(times_fn), METH_FASTCALL | METH_KEYWORDS,
                     "times(min_value=None, max_value=None, *, timezones=None)\n--\n\n"
                     "Naive times of day between the two bounds."};
PyMethodDef datetimes = {
    "datetimes", QF_FASTCALL(datetimes_fn), METH_FASTCALL | METH_KEYWORDS,
    "datetimes(min_value=None, max_value=None, *, timezones=None, allow_imaginary=None)\n--\n\n"
    "Naive datetimes between the two bounds, shrinking towards 2000-01-01."};
PyMethodDef timedeltas = {"timedeltas", QF_FASTCALL(timedeltas_fn), METH_FASTCALL | METH_KEYWORDS,
                          "timedeltas(min_value=None, max_value=None)\n--\n\n"
                          "Timedeltas between the two bounds, to the microsecond."};
}  // namespace defs

}  // namespace strategy
