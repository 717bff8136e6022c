// The Python classes IntervalSet and IntervalSetIter.
#include <new>

#include "intervalset/intervalset.hpp"
#include "registry.hpp"

namespace intervalset {

namespace {

struct SetObject {
    PyObject_HEAD
    IntervalSet value;
    Py_hash_t hash;  // -1 until first asked
};

// Walks the stored intervals of its set, each from start to end.
struct IterObject {
    PyObject_HEAD
    PyObject* set;  // owned; the set never changes
    size_t interval_index;
    int64_t next_codepoint;
};

SetObject* as_set(PyObject* o) { return reinterpret_cast<SetObject*>(o); }
const IntervalSet& val(PyObject* o) { return as_set(o)->value; }

py::Ref make_set(PyTypeObject* tp, IntervalSet v) {
    PyObject* o = py::alloc(tp);
    new (&as_set(o)->value) IntervalSet(std::move(v));
    as_set(o)->hash = -1;
    return py::Ref::steal(o);
}

const IntervalSet& other_arg(PyObject* o) {
    if (!check(o)) py::raise_arg_cannot_convert(o, "other", "IntervalSet");
    return val(o);
}

// A pair member read from a raw constructor item: the host's conversion.
int64_t raw_member(PyObject* item, long at) {
    py::Ref key = py::check(PyLong_FromLong(at));
    py::Ref got = py::check(PyObject_GetItem(item, key.get()));
    py::Ref number = py::check(PyNumber_Index(got.get()));
    long long v = PyLong_AsLongLong(number.get());
    if (v == -1 && PyErr_Occurred()) throw py::Err{};
    return v;
}

Intervals raw_pairs(PyObject* src) {
    Intervals out;
    py::Ref it = py::check(PyObject_GetIter(src));
    while (py::Ref item = py::Ref::steal(PyIter_Next(it.get()))) {
        int64_t start = raw_member(item.get(), 0);
        int64_t end = raw_member(item.get(), 1);
        Py_ssize_t n = PyObject_Size(item.get());
        if (n < 0) throw py::Err{};
        if (n != 2) py::raise_value_error("intervals must be 2-tuples");
        out.push_back({start, end});
    }
    py::check_no_error();
    return out;
}

// --- IntervalSet slots and methods -----------------------------------------

PyObject* set_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"IntervalSet", {"intervals"}, 0};
        PyObject* a[1];
        sig.parse_tuple(args, kwargs, a);
        Intervals pairs;
        if (a[0] && a[0] != Py_None) pairs = raw_pairs(a[0]);
        return make_set(tp, IntervalSet::build(std::move(pairs))).release();
    });
}

void set_dealloc(PyObject* self) {
    as_set(self)->value.~IntervalSet();
    py::free_object(self);
}

PyObject* set_from_string(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"from_string", {"s"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        std::string text = py::arg_str(a[0], "s");
        return make_set(reinterpret_cast<PyTypeObject*>(cls), IntervalSet::from_string_rs(text)).release();
    });
}

// One argument named `name`, converted to a signed 64-bit integer.
int64_t one_i64(const py::Sig& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto a = sig.parse<1>(args, nargs, kwnames);
    return py::arg_i64(a[0], *sig.names.begin());
}

PyObject* one_arg(const py::Sig& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto a = sig.parse<1>(args, nargs, kwnames);
    return a[0];
}

PyObject* set_index(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"index", {"value"}, 1};
        return py::from_u64(val(self).ordinal_of(one_i64(sig, args, nargs, kwnames))).release();
    });
}

PyObject* set_index_above(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"index_above", {"value"}, 1};
        return py::from_u64(val(self).index_above(one_i64(sig, args, nargs, kwnames))).release();
    });
}

using SetOp = IntervalSet (*)(std::span<const Interval>, std::span<const Interval>);

PyObject* apply(PyObject* a, const IntervalSet& b, SetOp op) {
    return make_set(Py_TYPE(a), op(val(a).intervals, b.intervals)).release();
}

template <SetOp Op>
PyObject* named_op(const py::Sig& sig, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    QF_ENTRY(nullptr, { return apply(self, other_arg(one_arg(sig, args, nargs, kwnames)), Op); });
}

PyObject* set_union(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"union", {"other"}, 1};
    return named_op<IntervalSet::union_rs>(sig, self, args, nargs, kwnames);
}

PyObject* set_difference(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"difference", {"other"}, 1};
    return named_op<IntervalSet::difference_rs>(sig, self, args, nargs, kwnames);
}

PyObject* set_intersection(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"intersection", {"other"}, 1};
    return named_op<IntervalSet::intersection_rs>(sig, self, args, nargs, kwnames);
}

template <SetOp Op>
PyObject* binary_op(PyObject* a, PyObject* b) {
    if (!check(a) || !check(b)) Py_RETURN_NOTIMPLEMENTED;
    QF_ENTRY(nullptr, { return apply(a, val(b), Op); });
}

PyObject* set_char_in_shrink_order(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"char_in_shrink_order", {"i"}, 1};
        return codepoint_str(val(self).char_in_shrink_order(one_i64(sig, args, nargs, kwnames))).release();
    });
}

PyObject* set_index_from_char_in_shrink_order(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"index_from_char_in_shrink_order", {"c"}, 1};
        int64_t c = codepoint_of(one_arg(sig, args, nargs, kwnames));
        return py::from_u64(val(self).index_from_char_in_shrink_order(c)).release();
    });
}

PyObject* set_get_intervals(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return IntervalSet::intervals_tuple(val(self).intervals).release(); });
}

PyObject* set_get_size(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return py::from_u64(val(self).size).release(); });
}

Py_ssize_t set_len(PyObject* self) {
    uint64_t n = val(self).size;
    if (n > static_cast<uint64_t>(PY_SSIZE_T_MAX)) {
        PyErr_SetString(PyExc_OverflowError, "cannot fit 'int' into an index-sized integer");
        return -1;
    }
    return static_cast<Py_ssize_t>(n);
}

PyObject* set_getitem(PyObject* self, PyObject* key) {
    QF_ENTRY(nullptr, { return py::from_i64(val(self).getitem_rs(py::arg_i64(key, "i"))).release(); });
}

int set_contains(PyObject* self, PyObject* c) {
    return py::guard(-1, [&] { return val(self).contains(codepoint_of(c)) ? 1 : 0; });
}

PyObject* set_repr(PyObject* self) {
    QF_ENTRY(nullptr, {
        py::Ref t = IntervalSet::intervals_tuple(val(self).intervals);
        return py::str("IntervalSet(" + py::repr(t.get()) + ")").release();
    });
}

Py_hash_t set_hash(PyObject* self) {
    SetObject* s = as_set(self);
    if (s->hash == -1) s->hash = static_cast<Py_hash_t>(s->value.hash());
    return s->hash;
}

PyObject* set_richcompare(PyObject* a, PyObject* b, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    bool eq = check(b) && val(a).intervals == val(b).intervals;
    return py::boolean(eq == (op == Py_EQ)).release();
}

PyObject* set_iter(PyObject* self) {
    QF_ENTRY(nullptr, {
        PyObject* o = py::alloc(reinterpret_cast<PyTypeObject*>(iter_type()));
        auto* it = reinterpret_cast<IterObject*>(o);
        const Intervals& ivs = val(self).intervals;
        it->set = py::Ref::borrow(self).release();
        it->interval_index = 0;
        it->next_codepoint = ivs.empty() ? 0 : ivs.front().start;
        return o;
    });
}

// --- IntervalSetIter ---------------------------------------------------------

void iter_dealloc(PyObject* self) {
    py::clear_field(reinterpret_cast<IterObject*>(self)->set);
    py::free_object(self);
}

PyObject* iter_next(PyObject* self) {
    auto* it = reinterpret_cast<IterObject*>(self);
    const Intervals& ivs = val(it->set).intervals;
    // Steps to the next interval after yielding an interval's end, so an
    // interval ending at the largest 64-bit value never overflows the cursor.
    auto advance = [&] {
        ++it->interval_index;
        if (it->interval_index < ivs.size()) it->next_codepoint = ivs[it->interval_index].start;
    };
    while (it->interval_index < ivs.size()) {
        const Interval& iv = ivs[it->interval_index];
        if (it->next_codepoint <= iv.end) {
            int64_t cp = it->next_codepoint;
            if (cp == iv.end) advance();
            else ++it->next_codepoint;
            return PyLong_FromLongLong(cp);
        }
        advance();
    }
    return nullptr;  // exhausted: no exception set
}

// --- Type objects -------------------------------------------------------------

PyMethodDef set_methods[] = {
    {"from_string", QF_FASTCALL(set_from_string), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_string($cls, s)\n--\n\nThe set of the distinct characters of the string s."},
    {"index", QF_FASTCALL(set_index), METH_FASTCALL | METH_KEYWORDS,
     "index($self, value)\n--\n\nThe position of the code point value in the set."},
    {"index_above", QF_FASTCALL(set_index_above), METH_FASTCALL | METH_KEYWORDS,
     "index_above($self, value)\n--\n\nThe position of the first member >= value, or the size."},
    {"union", QF_FASTCALL(set_union), METH_FASTCALL | METH_KEYWORDS, "union($self, other)\n--\n\n"},
    {"difference", QF_FASTCALL(set_difference), METH_FASTCALL | METH_KEYWORDS,
     "difference($self, other)\n--\n\n"},
    {"intersection", QF_FASTCALL(set_intersection), METH_FASTCALL | METH_KEYWORDS,
     "intersection($self, other)\n--\n\n"},
    {"char_in_shrink_order", QF_FASTCALL(set_char_in_shrink_order), METH_FASTCALL | METH_KEYWORDS,
     "char_in_shrink_order($self, i)\n--\n\nThe character at place i of the shrink order."},
    {"index_from_char_in_shrink_order", QF_FASTCALL(set_index_from_char_in_shrink_order),
     METH_FASTCALL | METH_KEYWORDS,
     "index_from_char_in_shrink_order($self, c)\n--\n\nThe place of the character c in the shrink order."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef set_getset[] = {
    {"intervals", set_get_intervals, nullptr, "The (start, end) pairs, in stored order.", nullptr},
    {"size", set_get_size, nullptr, "The number of code points.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot set_slots[] = {
    {Py_tp_doc, const_cast<char*>("IntervalSet(intervals=None)\n--\n\nAn immutable set of code points held as "
                                  "closed intervals.")},
    {Py_tp_new, reinterpret_cast<void*>(set_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(set_dealloc)},
    {Py_tp_methods, set_methods},
    {Py_tp_getset, set_getset},
    {Py_tp_repr, reinterpret_cast<void*>(set_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(set_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(set_richcompare)},
    {Py_tp_iter, reinterpret_cast<void*>(set_iter)},
    {Py_mp_length, reinterpret_cast<void*>(set_len)},
    {Py_mp_subscript, reinterpret_cast<void*>(set_getitem)},
    {Py_sq_contains, reinterpret_cast<void*>(set_contains)},
    {Py_nb_subtract, reinterpret_cast<void*>(binary_op<IntervalSet::difference_rs>)},
    {Py_nb_or, reinterpret_cast<void*>(binary_op<IntervalSet::union_rs>)},
    {Py_nb_and, reinterpret_cast<void*>(binary_op<IntervalSet::intersection_rs>)},
    {0, nullptr},
};

PyType_Spec set_spec = {
    "quorvantis_fast._engine.IntervalSet", sizeof(SetObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, set_slots,
};

PyType_Slot iter_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(iter_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iter_next)},
    {0, nullptr},
};

PyType_Spec iter_spec = {
    "quorvantis_fast._engine.IntervalSetIter", sizeof(IterObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, iter_slots,
};

PyObject* set_type_cell = nullptr;
PyObject* iter_type_cell = nullptr;

}  // namespace

PyObject* type() { return reinterpret_cast<PyObject*>(py::type_once(set_type_cell, &set_spec)); }
PyObject* iter_type() { return reinterpret_cast<PyObject*>(py::type_once(iter_type_cell, &iter_spec)); }

bool check(PyObject* o) { return set_type_cell && Py_TYPE(o) == reinterpret_cast<PyTypeObject*>(set_type_cell); }

const IntervalSet& value(PyObject* o) { return val(o); }

py::Ref wrap(IntervalSet v) { return make_set(reinterpret_cast<PyTypeObject*>(type()), std::move(v)); }

}  // namespace intervalset

namespace reg {
void interval_set_classes(PyObject* m) {
    py::add_type(m, "IntervalSet", intervalset::type());
    py::add_type(m, "IntervalSetIter", intervalset::iter_type());
}
}  // namespace reg
