// The typed strategy views (ListStrategy, TextStrategy, BytesStrategy,
// FloatStrategy, IntegersStrategy, MappedStrategy, FilteredStrategy) and
// `wrapped_strategy`, which builds them from a plain strategy.
//
// A view made by Python through the inherited constructor has a NoneValue
// node and empty fields; every getter answers safely for it (0, None or ()).
#include <algorithm>
#include <cmath>

#include "strategy/lifetime.hpp"
#include "strategy/object.hpp"

namespace strategy {
namespace {

template <class T> T* view_of(PyObject* o) {
    return static_cast<T*>(reinterpret_cast<py::DictObject*>(o));
}

// Construction and release of each view's own fields.
void init_fields(SizedView* o) { o->min_size = o->max_size = 0; }
void init_fields(FloatStrategy* o) { o->min_value = o->max_value = 0.0; }
void init_fields(IntegersStrategy* o) {
    new (&o->start) OptInt();
    new (&o->end) OptInt();
}
void init_fields(MappedStrategy* o) {
    new (&o->mapped_strategy) py::Ref();
    new (&o->pack) py::Ref();
}
void init_fields(FilteredStrategy* o) {
    new (&o->filtered_strategy) py::Ref();
    new (&o->conditions) py::Ref();
}
// The references a view holds besides its node.
template <class F> void view_refs(SearchStrategy*, F&&) {}
template <class F> void view_refs(MappedStrategy* o, F&& f) {
    f(o->mapped_strategy);
    f(o->pack);
}
template <class F> void view_refs(FilteredStrategy* o, F&& f) {
    f(o->filtered_strategy);
    f(o->conditions);
}
template <class T> void release_fields(T* o) { view_refs(o, release_ref); }
void release_fields(IntegersStrategy* o) {
    o->start.~OptInt();
    o->end.~OptInt();
}

template <class T> T* make_view(PyTypeObject* type, StrategyNode&& node) {
    T* o = alloc_strategy<T>(type, std::move(node));
    init_fields(o);
    return o;
}

template <class T> PyObject* view_new(PyTypeObject* type, PyObject*, PyObject*) {
    QF_ENTRY(nullptr, { return as_object(make_view<T>(type, StrategyNode())); });
}

template <class T> void view_dealloc(PyObject* self) {
    py::untrack(self);
    T* o = view_of<T>(self);
    release_fields(o);
    release_strategy(o);
}

template <class T> int view_traverse(PyObject* self, visitproc visit, void* arg) {
    T* o = view_of<T>(self);
    py::Visitor v = visit_strategy(o, visit, arg);
    view_refs(o, v);
    return v.result();
}

PyObject* ref_or_none(const py::Ref& r) { return py::Ref::borrow(r ? r.get() : Py_None).release(); }

PyObject* size_value(uint64_t v, bool infinite_when_unbounded) {
    if (infinite_when_unbounded && v == UNBOUNDED_SIZE) return PyFloat_FromDouble(HUGE_VAL);
    return PyLong_FromUnsignedLongLong(v);
}

// ---- getters

PyObject* g_min_size(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(view_of<SizedView>(self)->min_size);
}
PyObject* g_max_size_or_inf(PyObject* self, void*) {
    return size_value(view_of<SizedView>(self)->max_size, true);
}
PyObject* g_max_size_int(PyObject* self, void*) {
    return size_value(view_of<SizedView>(self)->max_size, false);
}
PyObject* g_float_min(PyObject* self, void*) {
    return PyFloat_FromDouble(view_of<FloatStrategy>(self)->min_value);
}
PyObject* g_float_max(PyObject* self, void*) {
    return PyFloat_FromDouble(view_of<FloatStrategy>(self)->max_value);
}
PyObject* opt_int(const OptInt& v) {
    QF_ENTRY(nullptr, { return v ? py::from_mpz(*v).release() : py::Ref::borrow(Py_None).release(); });
}
PyObject* g_start(PyObject* self, void*) { return opt_int(view_of<IntegersStrategy>(self)->start); }
PyObject* g_end(PyObject* self, void*) { return opt_int(view_of<IntegersStrategy>(self)->end); }
PyObject* g_mapped_strategy(PyObject* self, void*) {
    return ref_or_none(view_of<MappedStrategy>(self)->mapped_strategy);
}
PyObject* g_pack(PyObject* self, void*) { return ref_or_none(view_of<MappedStrategy>(self)->pack); }
PyObject* g_filtered_strategy(PyObject* self, void*) {
    return ref_or_none(view_of<FilteredStrategy>(self)->filtered_strategy);
}
PyObject* g_conditions(PyObject* self, void*) {
    const py::Ref& c = view_of<FilteredStrategy>(self)->conditions;
    return c ? py::Ref::borrow(c.get()).release() : PyTuple_New(0);
}

PyGetSetDef list_getset[] = {
    {"min_size", g_min_size, nullptr, nullptr, nullptr},
    {"max_size", g_max_size_or_inf, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef bytes_getset[] = {
    {"min_size", g_min_size, nullptr, nullptr, nullptr},
    {"max_size", g_max_size_int, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef float_getset[] = {
    {"min_value", g_float_min, nullptr, nullptr, nullptr},
    {"max_value", g_float_max, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef integers_getset[] = {
    {"start", g_start, nullptr, nullptr, nullptr},
    {"end", g_end, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef mapped_getset[] = {
    {"mapped_strategy", g_mapped_strategy, nullptr, nullptr, nullptr},
    {"pack", g_pack, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef filtered_getset[] = {
    {"filtered_strategy", g_filtered_strategy, nullptr, nullptr, nullptr},
    {"flat_conditions", g_conditions, nullptr, nullptr, nullptr},
    {"condition", g_conditions, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// One class per view: a subclass of SearchStrategy that Python cannot
// subclass further.
template <class T> py::Ref view_type(const char* name, PyGetSetDef* getset) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(view_new<T>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(view_dealloc<T>)},
        {Py_tp_traverse, reinterpret_cast<void*>(view_traverse<T>)},
        {Py_tp_clear, reinterpret_cast<void*>(clear_strategy)},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    PyType_Spec spec = {name, static_cast<int>(sizeof(T)), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};
    return py::make_type(&spec, reinterpret_cast<PyObject*>(search_strategy_type()));
}

}  // namespace

#define QF_VIEW_TYPE(fn, T, name, getset)                                                  \
    PyTypeObject* fn() {                                                                   \
        static PyObject* cell = nullptr;                                                   \
        return py::type_once(cell,                                                         \
                             [] { return view_type<T>("quorvantis_fast._engine." name, getset); }); \
    }
QF_VIEW_TYPE(list_strategy_type, ListStrategy, "ListStrategy", list_getset)
QF_VIEW_TYPE(text_strategy_type, TextStrategy, "TextStrategy", list_getset)
QF_VIEW_TYPE(bytes_strategy_type, BytesStrategy, "BytesStrategy", bytes_getset)
QF_VIEW_TYPE(float_strategy_type, FloatStrategy, "FloatStrategy", float_getset)
QF_VIEW_TYPE(integers_strategy_type, IntegersStrategy, "IntegersStrategy", integers_getset)
QF_VIEW_TYPE(mapped_strategy_type, MappedStrategy, "MappedStrategy", mapped_getset)
QF_VIEW_TYPE(filtered_strategy_type, FilteredStrategy, "FilteredStrategy", filtered_getset)
#undef QF_VIEW_TYPE

// ---------------------------------------------------------------------------
// Builders

namespace {
template <class T> py::Ref build_sized(PyTypeObject* type, StrategyNode&& node, uint64_t lo, uint64_t hi) {
    T* o = make_view<T>(type, std::move(node));
    o->min_size = lo;
    o->max_size = hi;
    return py::Ref::steal(as_object(o));
}
}  // namespace

py::Ref ListStrategy::build(StrategyNode&& node, uint64_t min_size, uint64_t max_size) {
    return build_sized<ListStrategy>(list_strategy_type(), std::move(node), min_size, max_size);
}
py::Ref TextStrategy::build(StrategyNode&& node, uint64_t min_size, uint64_t max_size) {
    return build_sized<TextStrategy>(text_strategy_type(), std::move(node), min_size, max_size);
}
py::Ref BytesStrategy::build(StrategyNode&& node, uint64_t min_size, uint64_t max_size) {
    return build_sized<BytesStrategy>(bytes_strategy_type(), std::move(node), min_size, max_size);
}
py::Ref FloatStrategy::build(StrategyNode&& node, double min_value, double max_value) {
    FloatStrategy* o = make_view<FloatStrategy>(float_strategy_type(), std::move(node));
    o->min_value = min_value;
    o->max_value = max_value;
    return py::Ref::steal(as_object(o));
}
py::Ref IntegersStrategy::build(StrategyNode&& node, OptInt start, OptInt end) {
    IntegersStrategy* o = make_view<IntegersStrategy>(integers_strategy_type(), std::move(node));
    o->start = std::move(start);
    o->end = std::move(end);
    return py::Ref::steal(as_object(o));
}
py::Ref MappedStrategy::build(PyObject* base, PyObject* pack) {
    MappedStrategy* o = make_view<MappedStrategy>(
        mapped_strategy_type(), kinds::Map{py::Ref::borrow(base), py::Ref::borrow(pack)});
    o->mapped_strategy = py::Ref::borrow(base);
    o->pack = py::Ref::borrow(pack);
    return py::Ref::steal(as_object(o));
}
py::Ref FilteredStrategy::build(StrategyNode&& node, PyObject* filtered_strategy, PyObject* conditions) {
    FilteredStrategy* o = make_view<FilteredStrategy>(filtered_strategy_type(), std::move(node));
    o->filtered_strategy = py::Ref::borrow(filtered_strategy);
    o->conditions = py::Ref::borrow(conditions);
    return py::Ref::steal(as_object(o));
}

namespace {
// The sized view V over a node of kind K, or an empty Ref for another kind.
template <class V, class K> py::Ref sized_view_of(StrategyNode& node) {
    const K* k = node.get<K>();
    if (!k) return py::Ref();
    auto [lo, hi] = std::pair(k->min_size, k->max_size);
    return V::build(std::move(node), lo, hi);
}
}  // namespace

py::Ref build_typed_collection(StrategyNode&& node) {
    if (py::Ref r = sized_view_of<ListStrategy, kinds::Lists>(node)) return r;
    if (py::Ref r = sized_view_of<ListStrategy, kinds::Sets>(node)) return r;
    if (py::Ref r = sized_view_of<ListStrategy, kinds::Dictionaries>(node)) return r;
    if (py::Ref r = sized_view_of<TextStrategy, kinds::Text>(node)) return r;
    if (py::Ref r = sized_view_of<BytesStrategy, kinds::Binary>(node)) return r;
    return SearchStrategy::wrap(std::move(node));
}

// ---------------------------------------------------------------------------
// wrapped_strategy

namespace {
py::Ref view_or_self(PyObject* o) {
    return is_search_strategy(o) ? wrapped_strategy(o) : py::Ref::borrow(o);
}

// A chain of Filter nodes: each condition is applied again through the
// `filter` method, so that those the rewriting can fold into bounds or
// sizes disappear; the others stay as a chain of Filter nodes.
py::Ref wrapped_filter_chain(PyObject* self) {
    std::vector<py::Ref> conditions;
    py::Ref cur = py::Ref::borrow(self);
    while (auto f = as_filter_node(cur.get())) {
        conditions.push_back(std::move(f->second));
        cur = std::move(f->first);
    }
    std::reverse(conditions.begin(), conditions.end());
    std::vector<py::Ref> residual;
    static py::Name k_filter{"filter"};
    for (const py::Ref& c : conditions) {
        py::Ref r = py::check(PyObject_CallMethodObjArgs(cur.get(), k_filter.get(), c.get(), nullptr));
        if (auto f = as_filter_node(r.get())) {
            residual.push_back(std::move(f->second));
            cur = std::move(f->first);
        } else {
            cur = std::move(r);
        }
    }
    py::Ref inner = view_or_self(cur.get());
    if (residual.empty()) return inner;
    py::Ref conds = py::tuple_from_refs(residual);
    return FilteredStrategy::build(chain_filter_node(cur.get(), residual), inner.get(), conds.get());
}
}  // namespace

py::Ref wrapped_strategy(PyObject* self) {
    py::RecursionGuard guard(" while building a typed strategy view");
    const StrategyNode& node = node_of(self);
    switch (node.kind()) {
    case Kind::Integers: {
        const auto& n = *node.get<kinds::Integers>();
        return IntegersStrategy::build(StrategyNode(node), n.min_value, n.max_value);
    }
    case Kind::Floats: {
        const auto& n = *node.get<kinds::Floats>();
        return FloatStrategy::build(StrategyNode(node), n.min_value, n.max_value);
    }
    case Kind::Lists:
    case Kind::Sets:
    case Kind::Dictionaries:
    case Kind::Text:
    case Kind::Binary:
        return build_typed_collection(StrategyNode(node));
    case Kind::Map: {
        const auto& n = *node.get<kinds::Map>();
        py::Ref inner = view_or_self(n.base.get());
        return MappedStrategy::build(inner.get(), n.pack.get());
    }
    case Kind::Filter: {
        const auto& n = *node.get<kinds::Filter>();
        if (as_filter_node(n.base.get())) return wrapped_filter_chain(self);
        py::Ref inner = view_or_self(n.base.get());
        py::Ref conds = py::tuple_of({n.condition.get()});
        return FilteredStrategy::build(StrategyNode(node), inner.get(), conds.get());
    }
    default:
        return py::Ref::borrow(self);
    }
}

}  // namespace strategy
