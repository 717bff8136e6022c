// Drawing a native strategy against a record that is not a BrindlemarData:
// the record of the upstream library, or any object with its methods.
//
// Every choice is asked of the record's Python methods (draw_integer,
// draw_boolean, draw_float, draw_string, draw_bytes, mark_invalid, draw),
// looked up by name at each call. No spans, no sharing and no build-context
// reporting happen here; whatever the record does inside its methods is its
// own business.
#include <algorithm>
#include <optional>
#include <string>

#include "strategy/interpreter.hpp"
#include "strategy/draw_collections.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"

namespace strategy {
namespace foreign {
namespace {

// Keyword arguments of one call; a null value leaves the keyword out.
using Keywords = std::initializer_list<std::pair<const char*, PyObject*>>;

py::Ref call_record(PyObject* record, py::Name& method, PyObject* args, Keywords kw) {
    py::Ref fn = py::check(PyObject_GetAttr(record, method.get()));
    py::Ref kwargs;
    for (const auto& [key, value] : kw) {
        if (!value) continue;
        if (!kwargs) kwargs = py::new_dict();
        py::dict_set(kwargs.get(), key, value);
    }
    py::Ref empty;
    if (!args) {
        empty = py::check(PyTuple_New(0));
        args = empty.get();
    }
    return py::call_args(fn.get(), args, kwargs.get());
}

py::Name k_draw_integer{"draw_integer"};
py::Name k_draw_boolean{"draw_boolean"};
py::Name k_draw_float{"draw_float"};
py::Name k_draw_string{"draw_string"};
py::Name k_draw_bytes{"draw_bytes"};
py::Name k_mark_invalid{"mark_invalid"};
py::Name k_draw{"draw"};

// record.mark_invalid(); the upstream record ends the test case by raising,
// which passes on. A normal return is dropped.
void mark_invalid_foreign(PyObject* record) { call_record(record, k_mark_invalid, nullptr, {}); }

// draw_integer(min_value=0, max_value=last) as a Python int.
py::Ref index_request(PyObject* record, PyObject* last) {
    py::Ref zero = py::from_i64(0);
    return call_record(record, k_draw_integer, nullptr, {{"min_value", zero.get()}, {"max_value", last}});
}

// An index in [0, n) for n >= 1 choices. A record that answers outside the
// bounds it was given gets a ValueError rather than an out-of-range read.
size_t index_below(PyObject* record, size_t n) {
    py::Ref last = py::from_u64(n - 1);
    py::Ref v = index_request(record, last.get());
    unsigned long long i = PyLong_AsUnsignedLongLong(v.get());
    if (i == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
    if (i >= n) {
        py::raise_value_error("record answered index " + std::to_string(i) + " outside [0, " +
                              std::to_string(n - 1) + "]");
    }
    return static_cast<size_t>(i);
}

py::Ref draw_child_foreign(PyObject* child, PyObject* record) {
    if (is_native_child(child)) return draw_node_foreign(node_of(child), record);
    return py::check(PyObject_CallMethodObjArgs(record, k_draw.get(), child, nullptr));
}

// Collection sizing through the record's draw_boolean. A forced answer is
// taken as forced even when the record says otherwise, so a record that
// ignores `forced` cannot grow a collection past max_size without end.
bool more_foreign(Many& many, PyObject* record) {
    bool answer;
    if (many.min_size == many.max_size) {
        answer = many.count < many.min_size;
    } else {
        std::optional<bool> forced;
        if (many.force_stop) forced = false;
        else if (many.count < many.min_size) forced = true;
        else if (many.count >= many.max_size) forced = false;
        py::Ref p = py::from_double(many.p_continue);
        PyObject* f = forced ? (*forced ? Py_True : Py_False) : nullptr;
        py::Ref r = call_record(record, k_draw_boolean, nullptr, {{"p", p.get()}, {"forced", f}});
        if (!PyBool_Check(r.get())) py::raise_cannot_convert(r.get(), "PyBool");
        answer = forced ? *forced : r.get() == Py_True;
    }
    if (answer) ++many.count;
    return answer;
}

// The element just drawn was rejected. When the collection cannot reach
// min_size any more the record is marked invalid; should mark_invalid
// return, the collection stops (rather than rejecting forever).
void reject_foreign(Many& many, PyObject* record) {
    --many.count;
    ++many.rejections;
    if (many.rejections <= std::max<uint64_t>(2 * many.count, 3)) return;
    if (many.count < many.min_size) mark_invalid_foreign(record);
    many.force_stop = true;
}

py::Ref draw_integers(const kinds::Integers& n, PyObject* record) {
    return call_record(record, k_draw_integer, nullptr,
                       {{"min_value", n.min_obj.get()}, {"max_value", n.max_obj.get()}});
}

py::Ref draw_floats(const kinds::Floats& n, PyObject* record) {
    py::Ref lo = py::from_double(n.min_value), hi = py::from_double(n.max_value);
    py::Ref m = py::from_double(n.smallest_nonzero_magnitude);
    return call_record(record, k_draw_float, nullptr,
                       {{"min_value", lo.get()},
                        {"max_value", hi.get()},
                        {"allow_nan", n.allow_nan ? Py_True : Py_False},
                        {"smallest_nonzero_magnitude", m.get()}});
}

py::Ref draw_range(const kinds::SampledFromRange& n, PyObject* record) {
    PyObject* range = n.range.get();
    const mpz_class length = range_length(range);
    if (length <= 0) {
        mark_invalid_foreign(record);
        return py::none();
    }
    py::Ref last = py::from_mpz(length - 1);
    py::Ref i = index_request(record, last.get());
    py::Ref start = py::getattr(range, "start"), step = py::getattr(range, "step");
    mpz_class v = py::to_mpz(start.get()) + py::to_mpz(i.get()) * py::to_mpz(step.get());
    return py::from_mpz(v);
}

py::Ref draw_unique_domain(const kinds::Lists& n, PyObject* record) {
    const Refs& domain = *n.unique_domain;
    py::Ref list = py::new_list(0);
    if (domain.empty()) return list;
    std::vector<PyObject*> left(domain.size());
    for (size_t i = 0; i < domain.size(); ++i) left[i] = domain[i].get();
    py::Ref seen = py::check(PySet_New(nullptr));
    Many many(n.min_size, n.max_size, n.p_continue);
    size_t last = left.size() - 1;
    bool exhausted = false;
    py::Ref zero = py::from_i64(0);
    while (!exhausted && more_foreign(many, record)) {
        py::Ref hi = py::from_u64(last);
        py::Ref args = py::tuple_of({zero.get(), hi.get()});
        py::Ref v = call_record(record, k_draw_integer, args.get(), {});
        unsigned long long i = PyLong_AsUnsignedLongLong(v.get());
        if (i == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
        if (i > last) {
            py::raise_value_error("record answered index " + std::to_string(i) + " outside [0, " +
                                  std::to_string(last) + "]");
        }
        PyObject* e = left[i];
        left[i] = left[last];
        if (seen_before(seen.get(), e)) reject_foreign(many, record);
        else py::list_append(list.get(), e);
        if (last == 0) exhausted = true;
        else --last;
    }
    // A domain with fewer distinct values than min_size cannot make a valid list.
    if (static_cast<uint64_t>(PyList_Size(list.get())) < n.min_size) mark_invalid_foreign(record);
    return list;
}

// The foreign record: choices and children through its Python methods.
struct AskForeign {
    PyObject* record;
    bool more(Many& many) const { return more_foreign(many, record); }
    void reject(Many& many) const { reject_foreign(many, record); }
    py::Ref child(PyObject* strategy) const { return draw_child_foreign(strategy, record); }
};

py::Ref draw_lists(const kinds::Lists& n, PyObject* record) {
    if (n.unique_domain) return draw_unique_domain(n, record);
    if (n.unique_by) return collections::draw_unique_by(n, AskForeign{record});
    return collections::draw_list(n, AskForeign{record});
}

py::Ref draw_text(const kinds::Text& n, PyObject* record) {
    py::Ref cls = py::import_attr("quorvantis.internal.intervalsets", "IntervalSet");
    py::Ref intervals = py::getattr(n.alphabet.get(), "intervals");
    py::Ref upstream = py::call(cls.get(), intervals.get());
    py::Ref args = py::tuple_of({upstream.get()});
    py::Ref lo = py::from_u64(n.min_size), hi = py::from_u64(n.max_size);
    return call_record(record, k_draw_string, args.get(), {{"min_size", lo.get()}, {"max_size", hi.get()}});
}

py::Ref draw_binary(const kinds::Binary& n, PyObject* record) {
    py::Ref lo = py::from_u64(n.min_size), hi = py::from_u64(n.max_size);
    return call_record(record, k_draw_bytes, nullptr, {{"min_size", lo.get()}, {"max_size", hi.get()}});
}

py::Ref draw_filter(const kinds::Filter& n, PyObject* record) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        py::Ref v = draw_child_foreign(n.base.get(), record);
        py::Ref ok = call_with_one(n.condition.get(), v.get());
        if (py::truthy(ok.get())) return v;
    }
    mark_invalid_foreign(record);
    return py::none();
}

py::Ref draw_kind(const StrategyNode& node, PyObject* record) {
    switch (node.kind()) {
    case Kind::Integers: return draw_integers(*node.get<kinds::Integers>(), record);
    case Kind::Booleans: {
        py::Ref p = py::from_double(0.5);
        return call_record(record, k_draw_boolean, nullptr, {{"p", p.get()}});
    }
    case Kind::Floats: return draw_floats(*node.get<kinds::Floats>(), record);
    case Kind::NoneValue: return py::none();
    case Kind::Just: return node.get<kinds::Just>()->value;
    case Kind::Nothing:
        mark_invalid_foreign(record);
        return py::none();
    case Kind::SampledFrom: {
        const Refs& values = node.get<kinds::SampledFrom>()->values;
        if (values.empty()) {
            mark_invalid_foreign(record);
            return py::none();
        }
        return values[index_below(record, values.size())];
    }
    case Kind::SampledFromRange: return draw_range(*node.get<kinds::SampledFromRange>(), record);
    case Kind::OneOf: {
        const Refs& branches = node.get<kinds::OneOf>()->branches;
        if (branches.empty()) {
            mark_invalid_foreign(record);
            return py::none();
        }
        return draw_child_foreign(branches[index_below(record, branches.size())].get(), record);
    }
    case Kind::Tuples: {
        const Refs& elements = node.get<kinds::Tuples>()->elements;
        py::Ref t = py::check(PyTuple_New(static_cast<Py_ssize_t>(elements.size())));
        for (size_t i = 0; i < elements.size(); ++i) {
            py::Ref v = draw_child_foreign(elements[i].get(), record);
            PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), v.release());
        }
        return t;
    }
    case Kind::Lists: return draw_lists(*node.get<kinds::Lists>(), record);
    case Kind::Sets: return collections::draw_set(*node.get<kinds::Sets>(), AskForeign{record});
    case Kind::Dictionaries: return collections::draw_dict(*node.get<kinds::Dictionaries>(), AskForeign{record});
    case Kind::Text: return draw_text(*node.get<kinds::Text>(), record);
    case Kind::Binary: return draw_binary(*node.get<kinds::Binary>(), record);
    case Kind::Map: {
        const auto& n = *node.get<kinds::Map>();
        py::Ref v = draw_child_foreign(n.base.get(), record);
        return call_with_one(n.pack.get(), v.get());
    }
    case Kind::Filter: return draw_filter(*node.get<kinds::Filter>(), record);
    // The composite draw asks only the record's `draw`, as here.
    case Kind::Composite: return strategy::draw_composite(*node.get<kinds::Composite>(), record);
    case Kind::Shared: return draw_child_foreign(node.get<kinds::Shared>()->base.get(), record);
    default:
        raise_invalid_argument(
            "this native strategy cannot yet be drawn against a real-quorvantis BrindlemarData "
            "(interop)");
    }
}

}  // namespace
}  // namespace foreign

py::Ref draw_node_foreign(const StrategyNode& node, PyObject* record) {
    py::RecursionGuard guard(" while drawing from a strategy");
    return foreign::draw_kind(node, record);
}

}  // namespace strategy
