// BrindlemarData: construction, seeding, prefix parsing, borrows and the
// Python class.
#include "data/record.hpp"

#include <structmember.h>

#include <limits>
#include <utility>

#include "data/record_py.hpp"
#include "data/tls.hpp"
#include "registry.hpp"

namespace data {

const char* choice_type_name(uint8_t tag) {
    static const char* const names[] = {"integer", "float", "string", "bytes", "boolean"};
    return tag < 5 ? names[tag] : nullptr;
}

// ---------------------------------------------------------------------------
// Construction

BrindlemarData BrindlemarData::build_with_seed(uint64_t seed, std::optional<Prefix> prefix,
                                               std::optional<uint64_t> max_choices) {
    BrindlemarData r(seed);
    r.max_length = buffer_limit();
    r.max_choices = max_choices;
    r.prefix = std::move(prefix);
    // One allocation each up front instead of a series of small regrowths.
    r.span_events.reserve(16);
    r.nodes.reserve(4);
    r.start_span_rs(0);
    return r;
}

void BrindlemarData::drop_references() {
    // Taken out before they go: what goes may run Python code, and with it
    // the cyclic collector, which reads the record. The node list keeps its
    // storage.
    std::vector<NodeData> gone = std::exchange(nodes, {});
    std::optional<Prefix> gone_prefix = std::exchange(prefix, std::nullopt);
    py::Ref gone_origin = std::move(interesting_origin);
    gone.clear();
    if (nodes.empty()) nodes.swap(gone);
}

// Every field of the class is reset here; on the tested platform the size
// check makes whoever adds a field come here too.
#if defined(__x86_64__) && defined(__GLIBCXX__)
static_assert(sizeof(BrindlemarData) == 592, "restart() must reset every field of BrindlemarData");
#endif

void BrindlemarData::restart(uint64_t seed) {
    drop_references();
    max_choices.reset();
    span_events.clear();
    labels.clear();
    output.clear();
    if (!label_index.empty()) label_index.clear();
    rng.reseed(seed);
    max_length = buffer_limit();
    length = 0;
    prefix_cursor = 0;
    depth = -1;
    max_depth = 0;
    testcounter = 0;
    frozen = false;
    has_discards = false;
    misaligned = false;
    status = Status::Valid;
    known_size_ = 0;
    start_span_rs(0);
}

BrindlemarData BrindlemarData::build(PyObject* random, std::optional<Prefix> prefix,
                                     std::optional<uint64_t> max_choices) {
    uint64_t seed = 0;
    bool seeded = false;
    if (random && random != Py_None) {
        if (py::Ref bits = py::Ref::steal(PyObject_CallMethod(random, "getrandbits", "i", 64))) {
            const bool is_int = PyLong_Check(bits.get());
            unsigned long long v = is_int ? PyLong_AsUnsignedLongLong(bits.get()) : 0;
            if (is_int && !(v == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
                seed = v;
                seeded = true;
            }
        }
        py::drop_exception();
    }
    if (!seeded) seed = rng::fresh_seed();
    return build_with_seed(seed, std::move(prefix), max_choices);
}

BrindlemarData BrindlemarData::new_for_choices(std::span<PyObject* const> values) {
    Prefix prefix;
    prefix.reserve(values.size());
    for (PyObject* v : values) prefix.push_back(PrefixEntry::Value(py::Ref::borrow(v)));
    BrindlemarData r = build_with_seed(rng::fresh_seed(), std::move(prefix), values.size());
    // At most one node per value, and a span event each besides the few of
    // the spans: room for a full replay from the start.
    r.nodes.reserve(values.size());
    r.span_events.reserve(values.size() + 16);
    return r;
}

BrindlemarData BrindlemarData::new_for_choices(PyObject* values) {
    Prefix prefix;
    if (PyList_Check(values) || PyTuple_Check(values)) {
        Py_ssize_t n = PySequence_Size(values);
        if (n < 0) throw py::Err{};
        prefix.reserve(static_cast<size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* v = PyList_Check(values) ? PyList_GetItem(values, i) : PyTuple_GetItem(values, i);
            if (!v) throw py::Err{};
            prefix.push_back(PrefixEntry::Value(py::Ref::borrow(v)));
        }
    } else {
        py::Ref it = py::check(PyObject_GetIter(values));
        while (PyObject* v = PyIter_Next(it.get())) prefix.push_back(PrefixEntry::Value(py::Ref::steal(v)));
        py::check_no_error();
    }
    uint64_t n = prefix.size();
    return build_with_seed(rng::fresh_seed(), std::move(prefix), n);
}

namespace {

// Builtin choice values carry no attributes, so they are always plain values.
bool plain_value(PyObject* item) {
    return PyLong_CheckExact(item) || PyFloat_CheckExact(item) || PyUnicode_CheckExact(item) ||
           PyBytes_CheckExact(item) || PyBool_Check(item) || item == Py_None;
}

bool is_simplest_template(PyObject* item) {
    py::Ref t = py::Ref::steal(PyObject_GetAttrString(item, "type"));
    if (!t) {
        py::drop_exception();
        return false;
    }
    return PyUnicode_Check(t.get()) && PyUnicode_CompareWithASCIIString(t.get(), "simplest") == 0;
}

PrefixEntry parse_entry(PyObject* item) {
    if (plain_value(item) || !is_simplest_template(item)) return PrefixEntry::Value(py::Ref::borrow(item));
    // Does it have a count at all?
    py::Ref probe = py::getattr_opt(item, "count");
    if (!probe) return PrefixEntry::Value(py::Ref::borrow(item));
    probe.reset();
    py::Ref count = py::getattr(item, "count");
    long v = PyLong_AsLong(count.get());
    if (v == -1 && PyErr_Occurred()) {
        py::drop_exception();
        return PrefixEntry::Simplest();
    }
    return PrefixEntry::Simplest(static_cast<int64_t>(v));
}

}  // namespace

Prefix parse_prefix(PyObject* iterable) {
    py::Ref it = py::check(PyObject_GetIter(iterable));
    Prefix out;
    while (PyObject* raw = PyIter_Next(it.get())) {
        py::Ref item = py::Ref::steal(raw);
        out.push_back(parse_entry(item.get()));
    }
    py::check_no_error();
    return out;
}

// ---------------------------------------------------------------------------
// Borrows

namespace {
constexpr uintptr_t EXCLUSIVE = std::numeric_limits<uintptr_t>::max();

RecordObject* record_object(PyObject* o) {
    if (!is_record(o)) py::throw_fault("not a BrindlemarData object");
    return py_record::obj(o);
}
}  // namespace

// Borrows are taken and given back only under the interpreter lock, whose
// hand-overs order them: a plain load and store serve, and a draw does not
// pay for a locked instruction.
RecordMut::RecordMut(PyObject* record) : obj_(record_object(record)) {
    if (obj_->borrow.load(std::memory_order_relaxed) != 0) py::raise(PyExc_RuntimeError, "Already borrowed");
    obj_->borrow.store(EXCLUSIVE, std::memory_order_relaxed);
}
RecordMut::~RecordMut() { obj_->borrow.store(0, std::memory_order_relaxed); }

RecordRef::RecordRef(PyObject* record) : obj_(record_object(record)) {
    const uintptr_t cur = obj_->borrow.load(std::memory_order_relaxed);
    if (cur == EXCLUSIVE || cur == EXCLUSIVE - 1) py::raise(PyExc_RuntimeError, "Already mutably borrowed");
    obj_->borrow.store(cur + 1, std::memory_order_relaxed);
}
RecordRef::~RecordRef() {
    obj_->borrow.store(obj_->borrow.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// The Python class

namespace py_record {

namespace {

std::optional<uint64_t> opt_u64(PyObject* o, const char* name) {
    if (!o || o == Py_None) return std::nullopt;
    return py::arg_u64(o, name);
}

PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"BrindlemarData",
                                 {"random", "observer", "provider", "prefix", "max_choices", "provider_kw"},
                                 0, 0};
        PyObject* a[6];
        sig.parse_tuple(args, kwargs, a);
        std::optional<uint64_t> max_choices = opt_u64(a[4], "max_choices");
        std::optional<Prefix> prefix;
        if (a[3] && a[3] != Py_None) prefix = parse_prefix(a[3]);
        BrindlemarData rec = BrindlemarData::build(a[0], std::move(prefix), max_choices);
        return wrap_record(std::move(rec), type).release();
    });
}

void tp_dealloc(PyObject* self) {
    py::untrack(self);
    RecordObject* o = obj(self);
    py::clear_field(o->base.dict);
    o->rec.~BrindlemarData();
    o->borrow.~atomic();
    py::free_object(self);
}

int tp_traverse(PyObject* self, visitproc visit, void* arg) {
    const RecordObject* o = obj(self);
    py::Visitor v(self, visit, arg);
    v(o->base.dict);
    const BrindlemarData& r = o->rec;
    for (const NodeData& n : r.nodes) {
        v(n.value);
        n.constraints.each_object(v);
    }
    if (r.prefix) {
        for (const PrefixEntry& e : *r.prefix) v(e.value);
    }
    v(r.interesting_origin);
    return v.result();
}

// Drops the attributes and every reference of the record, which is left as
// a record without choices. A borrowed record is in use, so it cannot be
// garbage: its choices stay.
int tp_clear(PyObject* self) {
    RecordObject* o = obj(self);
    py::clear_field(o->base.dict);
    if (o->borrow.load(std::memory_order_acquire) == 0) o->rec.drop_references();
    return 0;
}

PyObject* for_choices(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"for_choices", {"choices", "observer", "provider", "random"}, 1, 1};
        auto a = sig.parse<4>(args, nargs, kwnames);
        Prefix prefix = parse_prefix(a[0]);
        std::optional<uint64_t> max_choices = 0;
        for (const PrefixEntry& e : prefix) {
            uint64_t add = 1;
            if (e.kind == PrefixEntry::Kind::Simplest) {
                if (!e.has_count) {
                    max_choices.reset();
                    break;
                }
                add = e.count > 0 ? static_cast<uint64_t>(e.count) : 0;
            }
            // Saturate rather than wrap: a huge template count means "no limit
            // in practice", never a small one.
            *max_choices = add > EXCLUSIVE - *max_choices ? EXCLUSIVE : *max_choices + add;
        }
        BrindlemarData rec = BrindlemarData::build(a[3], std::move(prefix), max_choices);
        return wrap_record(std::move(rec)).release();
    });
}

#define QF_SIG_DOC(sig) sig "\n--\n\n"

PyMethodDef methods[] = {
    {"for_choices", QF_FASTCALL(for_choices), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     QF_SIG_DOC("for_choices($cls, choices, *, observer=None, provider=None, random=None)")},
    {"draw_integer", QF_FASTCALL(draw_integer), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("draw_integer($self, min_value=None, max_value=None, *, weights=None, "
                "shrink_towards=None, forced=None, observe=True)")},
    {"draw_float", QF_FASTCALL(draw_float), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("draw_float($self, min_value=None, max_value=None, *, allow_nan=True, "
                "smallest_nonzero_magnitude=..., forced=None, observe=True)")},
    {"draw_string", QF_FASTCALL(draw_string), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("draw_string($self, intervals, *, min_size=0, max_size=..., forced=None, observe=True)")},
    {"draw_bytes", QF_FASTCALL(draw_bytes), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("draw_bytes($self, min_size=0, max_size=..., *, forced=None, observe=True)")},
    {"draw_boolean", QF_FASTCALL(draw_boolean), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("draw_boolean($self, p=0.5, *, forced=None, observe=True)")},
    {"choice", QF_FASTCALL(choice), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("choice($self, values, *, forced=None, observe=True)")},
    {"draw", QF_FASTCALL(draw), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("draw($self, strategy, label=None, observe_as=None)")},
    {"start_span", QF_FASTCALL(start_span), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("start_span($self, label)")},
    {"stop_span", QF_FASTCALL(stop_span), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("stop_span($self, *, discard=False)")},
    {"freeze", QF_FASTCALL(freeze), METH_FASTCALL | METH_KEYWORDS, QF_SIG_DOC("freeze($self)")},
    {"note", QF_FASTCALL(note), METH_FASTCALL | METH_KEYWORDS, QF_SIG_DOC("note($self, value)")},
    {"mark_invalid", QF_FASTCALL(mark_invalid), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("mark_invalid($self, why=None)")},
    {"mark_overrun", QF_FASTCALL(mark_overrun), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("mark_overrun($self)")},
    {"mark_interesting", QF_FASTCALL(mark_interesting), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("mark_interesting($self, interesting_origin)")},
    {"conclude_test", QF_FASTCALL(conclude_test), METH_FASTCALL | METH_KEYWORDS,
     QF_SIG_DOC("conclude_test($self, status, interesting_origin=None)")},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef members[] = {
    {"__dictoffset__", T_PYSSIZET, static_cast<Py_ssize_t>(offsetof(py::DictObject, dict)), READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tp_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tp_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(tp_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(tp_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_tp_members, members},
    {Py_tp_doc, const_cast<char*>(QF_SIG_DOC(
                    "BrindlemarData(*, random=None, observer=None, provider=None, prefix=None, "
                    "max_choices=None, provider_kw=None)") "The record of one test case.")},
    {0, nullptr},
};

PyType_Spec spec = {
    "quorvantis_fast._engine.BrindlemarData",
    static_cast<int>(sizeof(RecordObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    slots,
};

}  // namespace
}  // namespace py_record

PyTypeObject* record_type() {
    static PyObject* cell = nullptr;
    return py::type_once(cell, &py_record::spec);
}

bool is_record(PyObject* o) {
    PyTypeObject* type = record_type();
    return Py_IS_TYPE(o, type) || PyObject_TypeCheck(o, type);
}

bool recycle_record(PyObject* record) {
    if (!Py_IS_TYPE(record, record_type()) || Py_REFCNT(record) != 1) return false;
    RecordObject* o = py_record::obj(record);
    if (o->borrow.load(std::memory_order_acquire) != 0) return false;
    // What goes may run Python code, which cannot reach this object: no one
    // else holds it.
    py::clear_field(o->base.dict);
    o->rec.drop_references();
    return true;
}

void restart_record(PyObject* record, uint64_t seed) { py_record::obj(record)->rec.restart(seed); }

py::Ref wrap_record(BrindlemarData&& rec, PyTypeObject* cls) {
    if (!cls) cls = record_type();
    PyObject* self = py::alloc(cls);
    RecordObject* o = py_record::obj(self);
    o->base.dict = nullptr;
    new (&o->borrow) std::atomic<uintptr_t>(0);
    new (&o->rec) BrindlemarData(std::move(rec));
    return py::Ref::steal(self);
}

}  // namespace data

void reg::record_class(PyObject* m) {
    py::add_type(m, "BrindlemarData", reinterpret_cast<PyObject*>(data::record_type()));
    data::remember_made_draw();
}
