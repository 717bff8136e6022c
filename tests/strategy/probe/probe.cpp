// Test access to strategy nodes: each builder makes a plain strategy object
// through the engine's own SearchStrategy class and puts the node in place,
// before anything else sees the object.
#include <cmath>
#include <utility>

#include "strategy/object.hpp"

namespace {

using namespace strategy;

py::Ref engine_attr(const char* name) { return py::import_attr("quorvantis_fast._engine", name); }

SearchStrategy* layout(PyObject* o) { return static_cast<SearchStrategy*>(reinterpret_cast<py::DictObject*>(o)); }

PyObject* finish(StrategyNode&& node) {
    py::Ref cls = engine_attr("SearchStrategy");
    py::Ref o = py::call(cls.get());
    layout(o.get())->node = std::move(node);
    return o.release();
}

py::Ref ref(PyObject* o) { return py::Ref::borrow(o); }
py::Ref opt_ref(PyObject* o) { return o == Py_None ? py::Ref() : py::Ref::borrow(o); }
OptInt opt_int(PyObject* o) { return o == Py_None ? OptInt() : OptInt(py::to_mpz(o)); }

Refs seq(PyObject* iterable) {
    Refs out;
    py::Ref it = py::check(PyObject_GetIter(iterable));
    while (PyObject* x = PyIter_Next(it.get())) out.push_back(py::Ref::steal(x));
    py::check_no_error();
    return out;
}

void unpack(PyObject* args, Py_ssize_t n, PyObject** items) {
    if (PyTuple_Size(args) != n) py::raise_type_error("probe: wrong number of arguments");
    for (Py_ssize_t i = 0; i < n; ++i) items[i] = PyTuple_GetItem(args, i);
}

#define PROBE(name, n, body)                                  \
    PyObject* name(PyObject*, PyObject* args) {               \
        QF_ENTRY(nullptr, {                                   \
            PyObject* a[8];                                   \
            unpack(args, n, a);                               \
            body                                              \
        });                                                   \
    }

PROBE(integers, 2, { return finish(make_integers(opt_int(a[0]), opt_int(a[1]))); })
PROBE(floats, 6, {
    kinds::Floats f;
    f.min_value = py::arg_f64(a[0], "min");
    f.max_value = py::arg_f64(a[1], "max");
    f.allow_nan = py::arg_bool(a[2], "allow_nan");
    f.allow_infinity = py::arg_bool(a[3], "allow_infinity");
    f.width = py::arg_u32(a[4], "width");
    f.smallest_nonzero_magnitude = py::arg_f64(a[5], "smallest");
    return finish(std::move(f));
})
PROBE(just, 1, { return finish(kinds::Just{ref(a[0])}); })
PROBE(sampled_from, 2, { return finish(kinds::SampledFrom{seq(a[0]), py::arg_bool(a[1], "is_tuple")}); })
PROBE(sampled_from_range, 1, { return finish(kinds::SampledFromRange{ref(a[0])}); })
PROBE(one_of, 1, { return finish(kinds::OneOf{seq(a[0])}); })
PROBE(tuples, 1, { return finish(kinds::Tuples{seq(a[0])}); })
PROBE(lists, 5, {
    kinds::Lists l;
    l.elements = ref(a[0]);
    l.min_size = py::arg_u64(a[1], "min_size");
    l.max_size = py::arg_u64(a[2], "max_size");
    l.unique_by = opt_ref(a[3]);
    if (a[4] != Py_None) l.unique_domain = seq(a[4]);
    return finish(std::move(l));
})
PROBE(deferred, 1, { return finish(kinds::Deferred{ref(a[0])}); })
PROBE(sets, 4, {
    return finish(kinds::Sets{ref(a[0]), py::arg_u64(a[1], "min_size"), py::arg_u64(a[2], "max_size"),
                              py::arg_bool(a[3], "frozen")});
})
PROBE(dictionaries, 4, {
    return finish(kinds::Dictionaries{ref(a[0]), ref(a[1]), py::arg_u64(a[2], "min_size"),
                                      py::arg_u64(a[3], "max_size")});
})
PROBE(fixed_dictionaries, 1, {
    kinds::FixedDictionaries f;
    for (py::Ref& pair : seq(a[0])) {
        f.entries.emplace_back(ref(PyTuple_GetItem(pair.get(), 0)), ref(PyTuple_GetItem(pair.get(), 1)));
    }
    return finish(std::move(f));
})
PROBE(text, 3, {
    return finish(kinds::Text{ref(a[0]), py::arg_u64(a[1], "min_size"), py::arg_u64(a[2], "max_size")});
})
PROBE(characters, 2, { return finish(kinds::Characters{py::arg_str(a[1], "repr"), ref(a[0])}); })
PROBE(binary, 2, { return finish(kinds::Binary{py::arg_u64(a[0], "min_size"), py::arg_u64(a[1], "max_size")}); })
PROBE(map_node, 2, { return finish(kinds::Map{ref(a[0]), ref(a[1])}); })
PROBE(filter_node, 2, { return finish(kinds::Filter{ref(a[0]), ref(a[1])}); })
PROBE(flatmap_node, 2, { return finish(kinds::FlatMap{ref(a[0]), ref(a[1])}); })
PROBE(builds, 3, {
    kinds::Builds b;
    b.target = ref(a[0]);
    b.args = seq(a[1]);
    for (py::Ref& pair : seq(a[2])) {
        b.kwargs.emplace_back(py::arg_str(PyTuple_GetItem(pair.get(), 0), "name"),
                              ref(PyTuple_GetItem(pair.get(), 1)));
    }
    return finish(std::move(b));
})
PROBE(composite, 3, { return finish(kinds::Composite{ref(a[0]), ref(a[1]), ref(a[2])}); })
PROBE(functions, 3, { return finish(kinds::Functions{ref(a[0]), ref(a[1]), py::arg_bool(a[2], "pure")}); })
PROBE(dates, 2, { return finish(kinds::Dates{py::arg_i64(a[0], "min"), py::arg_i64(a[1], "max")}); })
PROBE(dates_bounds, 1, {
    py::Ref cls = engine_attr("SearchStrategy");
    if (PyObject_IsInstance(a[0], cls.get()) != 1) py::raise_type_error("probe: not a strategy");
    const auto* d = layout(a[0])->node.get<kinds::Dates>();
    if (!d) py::raise_type_error("probe: not a dates strategy");
    return Py_BuildValue("(LL)", static_cast<long long>(d->min_ordinal), static_cast<long long>(d->max_ordinal));
})
PROBE(invalid, 2, { return finish(kinds::Invalid{py::arg_str(a[0], "message"), py::arg_bool(a[1], "resolution")}); })
PROBE(shared, 2, { return finish(kinds::Shared{py::arg_str(a[0], "key"), ref(a[1])}); })

// Kinds whose default fields make a complete node.
template <size_t I> void emplace_default(StrategyNode& out) {
    if constexpr (std::is_default_constructible_v<std::variant_alternative_t<I, NodeVariant>>) out.v.emplace<I>();
}
template <size_t... I>
StrategyNode default_node(size_t k, std::index_sequence<I...>) {
    StrategyNode out;
    ((k == I ? (emplace_default<I>(out), 0) : 0), ...);
    return out;
}
PROBE(plain, 1, {
    Kind k = static_cast<Kind>(py::arg_u32(a[0], "kind"));
    switch (k) {
    case Kind::Booleans: case Kind::NoneValue: case Kind::Nothing: case Kind::FixedDictionaries:
    case Kind::Binary: case Kind::Uuids: case Kind::Permutations: case Kind::Dates: case Kind::Times:
    case Kind::Datetimes: case Kind::Timedeltas: case Kind::ComplexNumbers: case Kind::IpAddresses:
    case Kind::Slices: case Kind::Fractions: case Kind::Decimals: case Kind::Data: case Kind::Randoms:
        return finish(default_node(static_cast<size_t>(k), std::make_index_sequence<KIND_COUNT>{}));
    default:
        py::raise_value_error("probe: kind needs fields");
    }
})
PROBE(kind, 1, {
    py::Ref cls = engine_attr("SearchStrategy");
    if (PyObject_IsInstance(a[0], cls.get()) != 1) py::raise_type_error("probe: not a strategy");
    return py::from_u64(static_cast<uint64_t>(layout(a[0])->node.kind())).release();
})
PROBE(data_object, 2, {
    py::Ref cls = engine_attr("DataObject");
    PyObject* o = py::alloc(reinterpret_cast<PyTypeObject*>(cls.get()));
    auto* d = reinterpret_cast<DataObject*>(o);
    d->record = Py_NewRef(a[0]);
    d->records_notes = py::arg_bool(a[1], "records_notes");
    return o;
})

#define ENTRY(name) {#name, name, METH_VARARGS, nullptr}
PyMethodDef methods[] = {
    ENTRY(integers), ENTRY(floats), ENTRY(just), ENTRY(sampled_from), ENTRY(sampled_from_range),
    ENTRY(one_of), ENTRY(tuples), ENTRY(lists), ENTRY(deferred), ENTRY(sets), ENTRY(dictionaries),
    ENTRY(fixed_dictionaries), ENTRY(text), ENTRY(characters), ENTRY(binary), ENTRY(map_node),
    ENTRY(filter_node), ENTRY(flatmap_node), ENTRY(builds), ENTRY(composite), ENTRY(functions),
    ENTRY(invalid), ENTRY(shared), ENTRY(dates), ENTRY(dates_bounds), ENTRY(plain), ENTRY(kind), ENTRY(data_object),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_strategy_probe", "", 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__strategy_probe(void) {
    return PyModule_Create(&module_def);
}
