// The Python draw methods of BrindlemarData: draw_integer, draw_float,
// draw_string, draw_bytes, draw_boolean and choice, with their arguments
// read and the constraints made as a dict or as native fields.
#include <limits>

#include "choice/constraints.hpp"
#include "data/record.hpp"
#include "data/record_py.hpp"
#include "intervalset/intervalset.hpp"

namespace data {

using choice::Key;
using choice::key_object;

namespace py_record {
namespace {

// The constraints dict of a draw method given integer bounds as objects:
// every key of the type, in the order of the table of keys. A null bound or
// weights is None.
py::Ref integer_constraints(PyObject* min, PyObject* max, PyObject* weights, PyObject* shrink_towards) {
    return py_record::make_dict({{key_object(Key::MinValue), min ? min : Py_None},
                                 {key_object(Key::MaxValue), max ? max : Py_None},
                                 {key_object(Key::Weights), weights ? weights : Py_None},
                                 {key_object(Key::ShrinkTowards), shrink_towards}});
}

constexpr double DEFAULT_SMALLEST = 5e-324;
constexpr uint64_t DEFAULT_MAX_SIZE = 10000000000ULL;

bool observe_arg(PyObject* o) { return o ? py::arg_bool(o, "observe") : true; }
PyObject* forced_arg(PyObject* o) { return o == Py_None ? nullptr : o; }

uint64_t size_arg(PyObject* o, const char* name, uint64_t dflt) {
    return o ? py::arg_u64(o, name) : dflt;
}

PyObject* draw_sized(PyObject* self, uint8_t t, PyObject* intervals, PyObject* min_o,
                     PyObject* max_o, PyObject* forced, PyObject* observe_o) {
    RecordMut r(self);
    uint64_t lo = size_arg(min_o, "min_size", 0);
    uint64_t hi = size_arg(max_o, "max_size", DEFAULT_MAX_SIZE);
    bool observe = observe_arg(observe_o);
    py::Ref alphabet;
    if (t == TAG_STRING) {
        if (intervalset::check(intervals)) {
            alphabet = py::Ref::borrow(intervals);
        } else {
            py::Ref pairs = py::getattr(intervals, "intervals");
            py::Ref cls = py::import_attr("quorvantis_fast._engine", "IntervalSet");
            alphabet = py::call(cls.get(), pairs.get());
        }
    }
    NodeConstraints c =
        t == TAG_STRING ? NodeConstraints::string(alphabet.get(), lo, hi) : NodeConstraints::bytes(lo, hi);
    return r->draw_inner(t, std::move(c), observe, forced_arg(forced)).release();
}

}  // namespace

py::Ref make_dict(std::initializer_list<std::pair<PyObject*, PyObject*>> items) {
    py::Ref d = py::new_dict();
    for (const auto& [key, value] : items) py::check_rc(PyDict_SetItem(d.get(), key, value));
    return d;
}

PyObject* draw_integer(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_integer",
                                 {"min_value", "max_value", "weights", "shrink_towards", "forced", "observe"},
                                 0, 2};
        auto a = sig.parse<6>(args, nargs, kwnames);
        RecordMut r(self);
        bool observe = observe_arg(a[5]);
        py::Ref st = a[3] && a[3] != Py_None ? py::Ref::borrow(a[3]) : py::from_i64(0);
        py::Ref c = integer_constraints(a[0], a[1], a[2], st.get());
        return r->draw_inner(TAG_INTEGER, NodeConstraints::of_dict(c.get()), observe, forced_arg(a[4])).release();
    });
}

PyObject* draw_float(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_float",
                                 {"min_value", "max_value", "allow_nan", "smallest_nonzero_magnitude",
                                  "forced", "observe"},
                                 0, 2};
        auto a = sig.parse<6>(args, nargs, kwnames);
        RecordMut r(self);
        const double inf = std::numeric_limits<double>::infinity();
        double lo = a[0] && a[0] != Py_None ? py::arg_f64(a[0], "min_value") : -inf;
        double hi = a[1] && a[1] != Py_None ? py::arg_f64(a[1], "max_value") : inf;
        bool allow_nan = a[2] ? py::arg_bool(a[2], "allow_nan") : true;
        double smallest = a[3] ? py::arg_f64(a[3], "smallest_nonzero_magnitude") : DEFAULT_SMALLEST;
        bool observe = observe_arg(a[5]);
        return r->draw_inner(TAG_FLOAT, NodeConstraints::floating(lo, hi, allow_nan, smallest), observe,
                             forced_arg(a[4]))
            .release();
    });
}

PyObject* draw_string(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_string", {"intervals", "min_size", "max_size", "forced", "observe"}, 1, 1};
        auto a = sig.parse<5>(args, nargs, kwnames);
        return draw_sized(self, TAG_STRING, a[0], a[1], a[2], a[3], a[4]);
    });
}

PyObject* draw_bytes(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_bytes", {"min_size", "max_size", "forced", "observe"}, 0, 2};
        auto a = sig.parse<4>(args, nargs, kwnames);
        return draw_sized(self, TAG_BYTES, nullptr, a[0], a[1], a[2], a[3]);
    });
}

PyObject* draw_boolean(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw_boolean", {"p", "forced", "observe"}, 0, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        RecordMut r(self);
        double p = a[0] ? py::arg_f64(a[0], "p") : 0.5;
        bool observe = observe_arg(a[2]);
        return r->draw_inner(TAG_BOOLEAN, NodeConstraints::boolean(p), observe, forced_arg(a[1])).release();
    });
}

PyObject* choice(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice", {"values", "forced", "observe"}, 1, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        RecordMut r(self);
        bool observe = observe_arg(a[2]);
        PyObject* values = a[0];
        Py_ssize_t n = PyObject_Size(values);
        if (n < 0) throw py::Err{};
        py::Ref forced;
        if (a[1] && a[1] != Py_None) {
            py::Ref i = py::call_method(values, "index", a[1]);
            forced = py::check(PyNumber_Index(i.get()));
        }
        py::Ref zero = py::from_i64(0), top = py::from_i64(static_cast<int64_t>(n) - 1);
        py::Ref c = integer_constraints(zero.get(), top.get(), nullptr, zero.get());
        py::Ref drawn = r->draw_inner(TAG_INTEGER, NodeConstraints::of_dict(c.get()), observe, forced.get());
        uint64_t i = py::arg_u64(drawn.get(), "index");
        py::Ref key = py::from_u64(i);
        return py::check(PyObject_GetItem(values, key.get())).release();
    });
}

}  // namespace py_record
}  // namespace data
