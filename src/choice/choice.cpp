// The choice functions on Python values and constraints dicts. Each reads
// only the keys it needs, in its own fixed order, so that the first failing
// read decides the error and a check that already failed answers before a
// later key is read.
#include <bit>
#include <compare>
#include <cstring>
#include <utility>

#include "choice/choice.hpp"
#include "intervalset/intervalset.hpp"

namespace choice {

namespace {

// A str as UTF-8. Lone surrogates (which strict UTF-8 refuses) are kept as
// their three bytes, in a bytes object that `keep` holds.
std::string_view utf8_of(PyObject* s, py::Ref& keep) {
    Py_ssize_t n = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(s, &n)) return {p, static_cast<size_t>(n)};
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::Err{};
    py::drop_exception();
    keep = py::check(PyUnicode_AsEncodedString(s, "utf-8", "surrogatepass"));
    return {PyBytes_AsString(keep.get()), static_cast<size_t>(PyBytes_Size(keep.get()))};
}

std::span<const uint8_t> bytes_of(PyObject* b) {
    char* p = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(b, &p, &n) < 0) throw py::Err{};
    return {reinterpret_cast<const uint8_t*>(p), static_cast<size_t>(n)};
}

PyObject* str_constant(const char* text) {
    // Interned once per process; never released.
    PyObject* s = PyUnicode_InternFromString(text);
    if (!s) throw py::Err{};
    return s;
}

PyObject* bool_tag() {
    static PyObject* s = nullptr;
    if (!s) s = str_constant("bool");
    return s;
}

PyObject* float_tag() {
    static PyObject* s = nullptr;
    if (!s) s = str_constant("float");
    return s;
}

uint64_t float_bits(PyObject* f) { return std::bit_cast<uint64_t>(PyFloat_AsDouble(f)); }

// A constraints dict read key by key.
class DictSource final : public ConstraintsSource {
public:
    explicit DictSource(PyObject* c) : c_(c) {}
    double p() const override { return req_f64(c_, Key::P); }
    std::optional<Int> min_value() const override { return opt_bigint(c_, Key::MinValue); }
    std::optional<Int> max_value() const override { return opt_bigint(c_, Key::MaxValue); }
    Int shrink_towards() const override { return req_int(c_, Key::ShrinkTowards); }
    FloatConstraints floating() const override { return parse_float(c_); }
    uint64_t min_size() const override { return req_u64(c_, Key::MinSize); }
    uint64_t max_size() const override { return req_u64(c_, Key::MaxSize); }
    py::Ref intervals() const override { return req_intervals(c_); }

private:
    PyObject* c_;
};

// parse_integer's reads, in its order.
IntegerConstraints integer_of(const ConstraintsSource& c) {
    IntegerConstraints r;
    r.min_value = c.min_value();
    r.max_value = c.max_value();
    r.shrink_towards = c.shrink_towards();
    return r;
}

}  // namespace

Int choice_to_index(PyObject* choice, const ConstraintsSource& constraints) {
    if (PyBool_Check(choice)) return bool_to_index(choice == Py_True, constraints.p());
    if (PyLong_Check(choice)) {
        IntegerConstraints c = integer_of(constraints);
        return int_to_index(Int::from_py(choice), c);
    }
    if (PyBytes_Check(choice)) {
        uint64_t min_size = constraints.min_size();
        return bytes_to_index(bytes_of(choice), min_size);
    }
    if (PyUnicode_Check(choice)) {
        py::Ref keep;
        std::string_view text = utf8_of(choice, keep);
        uint64_t min_size = constraints.min_size();
        py::Ref intervals = constraints.intervals();
        return string_to_index(text, min_size, intervalset::value(intervals.get()));
    }
    if (PyFloat_Check(choice)) return float_to_index(PyFloat_AsDouble(choice));
    py::raise(PyExc_NotImplementedError, "unhandled choice type");
}

py::Ref choice_from_index(const Int& index, ChoiceType t, const ConstraintsSource& constraints) {
    switch (t) {
        case ChoiceType::String: {
            uint64_t min_size = constraints.min_size();
            py::Ref intervals = constraints.intervals();
            return string_from_index(index, min_size, intervalset::value(intervals.get()));
        }
        case ChoiceType::Integer:
            return int_from_index(index, integer_of(constraints)).to_py();
        case ChoiceType::Boolean:
            return py::boolean(bool_from_index(index, constraints.p()));
        case ChoiceType::Bytes:
            return bytes_from_index(index, constraints.min_size());
        case ChoiceType::Float:
            return py::from_double(float_from_index(index, constraints.floating()));
    }
    py::throw_fault("bad choice type tag");
}

bool choice_permitted(PyObject* choice, const ConstraintsSource& constraints) {
    if (PyBool_Check(choice)) return bool_permitted(choice == Py_True, constraints.p());
    if (PyLong_Check(choice)) {
        Int v = Int::from_py(choice);
        std::optional<Int> min_value = constraints.min_value();
        if (min_value && v < *min_value) return false;
        std::optional<Int> max_value = constraints.max_value();
        return !(max_value && v > *max_value);
    }
    if (!PyFloat_Check(choice)) {
        if (PyUnicode_Check(choice)) {
            py::Ref keep;
            std::string_view text = utf8_of(choice, keep);
            StringConstraints c;
            c.min_size = constraints.min_size();
            uint64_t n = 0;
            for (char ch : text) n += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
            if (n < c.min_size) return false;
            c.max_size = constraints.max_size();
            if (n > c.max_size) return false;
            c.intervals = constraints.intervals();
            return string_permitted(text, c);
        }
        if (PyBytes_Check(choice)) {
            BytesConstraints c;
            auto n = static_cast<uint64_t>(PyBytes_Size(choice));
            c.min_size = constraints.min_size();
            if (n < c.min_size) return false;
            c.max_size = constraints.max_size();
            return bytes_permitted(n, c);
        }
        py::raise(PyExc_NotImplementedError, "unhandled choice type");
    }
    double f = PyFloat_AsDouble(choice);
    return float_permitted(f, constraints.floating());
}

Int choice_to_index(PyObject* choice, PyObject* constraints) {
    return choice_to_index(choice, DictSource(constraints));
}

py::Ref choice_from_index(const Int& index, ChoiceType t, PyObject* constraints) {
    return choice_from_index(index, t, DictSource(constraints));
}

py::Ref choice_from_index(const Int& index, std::string_view type_name, PyObject* constraints) {
    std::optional<ChoiceType> t = type_from_name(type_name);
    if (!t) py::raise(PyExc_NotImplementedError, "unhandled choice_type " + std::string(type_name));
    return choice_from_index(index, *t, constraints);
}

bool choice_permitted(PyObject* choice, PyObject* constraints) {
    return choice_permitted(choice, DictSource(constraints));
}

py::Ref choice_key(PyObject* choice) {
    if (PyBool_Check(choice)) return py::tuple_of({bool_tag(), choice});
    if (PyFloat_Check(choice)) {
        py::Ref bits = py::from_u64(float_bits(choice));
        return py::tuple_of({float_tag(), bits.get()});
    }
    return py::Ref::borrow(choice);
}

py::Ref choices_key(PyObject* choices) {
    if (PyList_CheckExact(choices) || PyTuple_CheckExact(choices)) {
        // Keys of a list are taken one at a time: nothing here runs Python
        // code that could change its length under us, but the length is
        // read again at each step all the same.
        py::Ref keys = py::new_list();
        bool is_list = PyList_CheckExact(choices);
        for (Py_ssize_t i = 0;; ++i) {
            Py_ssize_t n = is_list ? PyList_Size(choices) : PyTuple_Size(choices);
            if (i >= n) break;
            py::Ref item = py::Ref::borrow(is_list ? PyList_GetItem(choices, i)
                                                   : PyTuple_GetItem(choices, i));
            py::Ref k = choice_key(item.get());
            py::list_append(keys.get(), k.get());
        }
        return py::check(PyList_AsTuple(keys.get()));
    }
    py::Ref it = py::check(PyObject_GetIter(choices));
    py::Ref keys = py::new_list();
    for (;;) {
        py::Ref item = py::Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            py::check_no_error();
            break;
        }
        py::Ref k = choice_key(item.get());
        py::list_append(keys.get(), k.get());
    }
    return py::check(PyList_AsTuple(keys.get()));
}

bool choice_equal(PyObject* a, PyObject* b) {
    // Keys of bools and floats are tuples of a tag and a payload; compared
    // with each other they reduce to the payloads, and compared with the
    // exact builtin choice types they are never equal.
    bool a_tagged = PyBool_Check(a) || PyFloat_Check(a);
    bool b_tagged = PyBool_Check(b) || PyFloat_Check(b);
    if (a_tagged && b_tagged) {
        if (PyBool_Check(a) != PyBool_Check(b)) return false;
        return PyBool_Check(a) ? a == b : float_bits(a) == float_bits(b);
    }
    auto plain = [](PyObject* o) {
        return PyLong_CheckExact(o) || PyUnicode_CheckExact(o) || PyBytes_CheckExact(o);
    };
    if ((a_tagged && plain(b)) || (b_tagged && plain(a))) return false;
    py::Ref ka = choice_key(a);
    py::Ref kb = choice_key(b);
    py::Ref r = py::check(PyObject_RichCompare(ka.get(), kb.get(), Py_EQ));
    return py::truthy(r.get());
}

namespace {

// Known before unknown; two unknown are equal.
template <class T>
int compare_known(const std::optional<T>& a, const std::optional<T>& b) {
    if (a.has_value() != b.has_value()) return a ? -1 : 1;
    if (!a) return 0;
    auto c = *a <=> *b;
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// What a str's index is computed from, read as choice_to_index reads it.
struct StringArgs {
    py::Ref keep;
    std::string_view text;
    uint64_t min_size = 0;
    py::Ref intervals;
};

std::optional<StringArgs> string_args(PyObject* s, const ConstraintsSource& c) {
    return py::unless_error([&] {
        StringArgs a;
        a.text = utf8_of(s, a.keep);
        a.min_size = c.min_size();
        a.intervals = c.intervals();
        return a;
    });
}

// Where a str's index stands under its min_size and alphabet `s`, in the
// order of those indices: its length, then its characters' orders from the
// first (see string_orders).
std::optional<std::pair<size_t, std::vector<uint64_t>>> string_rank(const StringArgs& a, const IntervalSet& s) {
    return py::unless_error([&] {
        std::vector<uint64_t> orders = string_orders(a.text, a.min_size, s);
        return std::pair(orders.size(), std::move(orders));
    });
}

// Two strs whose indices are read under the same min_size and alphabet
// compare without them; nullopt when they are not.
std::optional<int> compare_strings(PyObject* x, const ConstraintsSource& cx, PyObject* y,
                                   const ConstraintsSource& cy) {
    std::optional<StringArgs> a = string_args(x, cx);
    if (!a) return std::nullopt;
    std::optional<StringArgs> b = string_args(y, cy);
    if (!b || a->min_size != b->min_size) return std::nullopt;
    const IntervalSet& s = intervalset::value(a->intervals.get());
    const IntervalSet& t = intervalset::value(b->intervals.get());
    if (&s != &t && s.intervals != t.intervals) return std::nullopt;
    // The same computation on the same text: equal indices, or none.
    if (a->text == b->text) return 0;
    return compare_known(string_rank(*a, s), string_rank(*b, s));
}

}  // namespace

int compare_indices(PyObject* x, const ConstraintsSource& cx, PyObject* y, const ConstraintsSource& cy) {
    if (PyUnicode_Check(x) && PyUnicode_Check(y)) {
        if (std::optional<int> c = compare_strings(x, cx, y, cy)) return *c;
    }
    return compare_known(py::unless_error([&] { return choice_to_index(x, cx); }),
                         py::unless_error([&] { return choice_to_index(y, cy); }));
}

int compare_indices(PyObject* x, PyObject* cx, PyObject* y, PyObject* cy) {
    return compare_indices(x, DictSource(cx), y, DictSource(cy));
}

}  // namespace choice
