// sets(), frozensets(), dictionaries(), fixed_dictionaries(), iterables(),
// permutations() and binary(). Bad sizes are stored in an Invalid node;
// every other argument error is raised at once.
#include <string>

#include "strategy/check_strategy.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/checks.hpp"
#include "strategy/scalars/scalars.hpp"

namespace strategy {
namespace {

// The node built from accepted sizes, or the stored error of rejected ones.
template <class Build>
py::Ref sized(PyObject* min_size, PyObject* max_size, const char* collection, bool empty,
              const std::string& elements_repr, Build build) {
    OrMessage<Sizes> sizes = collection_sizes(min_size, max_size, collection, empty, elements_repr);
    if (auto* message = std::get_if<std::string>(&sizes)) return stored_error(std::move(*message));
    const auto& s = std::get<Sizes>(sizes);
    return SearchStrategy::wrap(build(s.min_size, s.max_size));
}

py::Ref make_sets(PyObject* elements, PyObject* min_size, PyObject* max_size, bool frozen) {
    bool empty = strat_is_empty(elements);
    std::string r = empty ? repr_or_empty(elements) : std::string();  // only messages use it
    return sized(min_size, max_size, frozen ? "frozensets" : "sets", empty, r, [&](uint64_t lo, uint64_t hi) {
        return kinds::Sets{py::Ref::borrow(elements), lo, hi, frozen};
    });
}

py::Ref make_dictionaries(PyObject* keys, PyObject* values, PyObject* min_size, PyObject* max_size) {
    check_strategy(keys, "dictionaries() keys");
    check_strategy(values, "dictionaries() values");
    PyObject* empty = strat_is_empty(keys) ? keys : strat_is_empty(values) ? values : nullptr;
    std::string r = empty ? repr_or_empty(empty) : std::string();
    return sized(min_size, max_size, "dictionaries", empty != nullptr, r, [&](uint64_t lo, uint64_t hi) {
        return kinds::Dictionaries{py::Ref::borrow(keys), py::Ref::borrow(values), lo, hi};
    });
}

using Entries = std::vector<std::pair<py::Ref, py::Ref>>;

// The (key, value) pairs of a dict in dict order, read once up front: the
// checks below run Python code that could change the dict.
Entries dict_entries(PyObject* d) {
    py::Ref items = py::check(PyDict_Items(d));
    Entries out;
    const Py_ssize_t n = PyList_Size(items.get());
    out.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GetItem(items.get(), i);  // a 2-tuple made by the dict
        out.emplace_back(py::Ref::borrow(PyTuple_GetItem(item, 0)), py::Ref::borrow(PyTuple_GetItem(item, 1)));
    }
    return out;
}

std::string type_name_of(PyObject* o) {
    py::Ref name = py::getattr(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__");
    return py::utf8(py::check(PyObject_Str(name.get())).get());
}

py::Ref make_fixed_dictionaries(PyObject* mapping, PyObject* optional) {
    if (!PyDict_Check(mapping)) {
        raise_invalid_argument("mapping=" + py::repr(mapping) + " must be a dict mapping keys to strategies.");
    }
    const bool has_optional = given(optional) != nullptr;
    if (has_optional && !PyDict_Check(optional)) {
        raise_invalid_argument("optional=" + py::repr(optional) + " must be a dict mapping keys to strategies.");
    }
    if (has_optional && Py_TYPE(mapping) != Py_TYPE(optional)) {
        raise_invalid_argument("Got arguments of different types: mapping=" + type_name_of(mapping) +
                               ", optional=" + type_name_of(optional));
    }
    kinds::FixedDictionaries node;
    if (has_optional) {
        node.optional = dict_entries(optional);
        for (const auto& [key, value] : node.optional) {
            int both = PyDict_Contains(mapping, key.get());
            if (both < 0) throw py::Err{};
            if (both) {
                raise_invalid_argument(
                    "The following keys were in both mapping and optional, which is invalid: {" +
                    py::repr(key.get()) + "}");
            }
            check_strategy(value.get(), "fixed_dictionaries() optional value");
        }
    }
    node.entries = dict_entries(mapping);
    for (const auto& [key, value] : node.entries) check_strategy(value.get(), "fixed_dictionaries() value");
    return SearchStrategy::wrap(std::move(node));
}

// A lists() strategy mapped to one-pass iterators over its lists.
py::Ref make_iterables(PyObject* elements, PyObject* min_size, PyObject* max_size, PyObject* unique_by,
                       bool unique) {
    py::Ref base = make_lists(elements, min_size, max_size, unique_by, unique);
    py::Ref pack = py::import_attr("quorvantis_fast.native_strategies", "_PrettyIter");
    return SearchStrategy::wrap(kinds::Map{std::move(base), std::move(pack)});
}

py::Ref make_permutations(PyObject* values) {
    check_ordered_sample(values, "permutations");
    py::Ref it = py::check(PyObject_GetIter(values));
    kinds::Permutations node;
    while (PyObject* v = PyIter_Next(it.get())) node.values.push_back(py::Ref::steal(v));
    py::check_no_error();
    return SearchStrategy::wrap(std::move(node));
}

py::Ref make_binary(PyObject* min_size, PyObject* max_size) {
    return sized(min_size, max_size, "binary", false, std::string(), [](uint64_t lo, uint64_t hi) {
        return kinds::Binary{lo, hi};
    });
}

// ---------------------------------------------------------------------------
// Python functions

PyObject* sets_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"sets", {"elements", "min_size", "max_size"}, 1, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        return make_sets(a[0], a[1], a[2], false).release();
    });
}

PyObject* frozensets_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"frozensets", {"elements", "min_size", "max_size"}, 1, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        return make_sets(a[0], a[1], a[2], true).release();
    });
}

PyObject* dictionaries_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"dictionaries", {"keys", "values", "min_size", "max_size"}, 2, 2};
        auto a = sig.parse<4>(args, nargs, kwnames);
        return make_dictionaries(a[0], a[1], a[2], a[3]).release();
    });
}

PyObject* fixed_dictionaries_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"fixed_dictionaries", {"mapping", "optional"}, 1, 1};
        auto a = sig.parse<2>(args, nargs, kwnames);
        return make_fixed_dictionaries(a[0], a[1]).release();
    });
}

PyObject* iterables_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"iterables", {"elements", "min_size", "max_size", "unique_by", "unique"}, 1, 1};
        auto a = sig.parse<5>(args, nargs, kwnames);
        const bool unique = a[4] ? py::arg_bool(a[4], "unique") : false;
        return make_iterables(a[0], a[1], a[2], a[3], unique).release();
    });
}

PyObject* permutations_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"permutations", {"values"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return make_permutations(a[0]).release();
    });
}

PyObject* binary_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"binary", {"min_size", "max_size"}, 0, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        return make_binary(a[0], a[1]).release();
    });
}

}  // namespace

namespace defs {
PyMethodDef sets = {"sets", QF_FASTCALL(sets_fn), METH_FASTCALL | METH_KEYWORDS,
                    "sets(elements, *, min_size=None, max_size=None)\n--\n\n"
                    "Sets of distinct elements drawn from the element strategy."};
PyMethodDef frozensets = {"frozensets", QF_FASTCALL(frozensets_fn), METH_FASTCALL | METH_KEYWORDS,
                          "frozensets(elements, *, min_size=None, max_size=None)\n--\n\n"
                          "Frozensets of distinct elements drawn from the element strategy."};
PyMethodDef dictionaries = {"dictionaries", QF_FASTCALL(dictionaries_fn), METH_FASTCALL | METH_KEYWORDS,
                            "dictionaries(keys, values, *, min_size=None, max_size=None)\n--\n\n"
                            "Dicts with keys and values drawn from the two strategies."};
PyMethodDef fixed_dictionaries = {
    "fixed_dictionaries", QF_FASTCALL(fixed_dictionaries_fn), METH_FASTCALL | METH_KEYWORDS,
    "fixed_dictionaries(mapping, *, optional=None)\n--\n\n"
    "Dicts with the keys of mapping, each value drawn from its strategy; each key of optional is "
    "present or not."};
PyMethodDef iterables = {
    "iterables", QF_FASTCALL(iterables_fn), METH_FASTCALL | METH_KEYWORDS,
    "iterables(elements, *, min_size=None, max_size=None, unique_by=None, unique=False)\n--\n\n"
    "One-pass iterators over lists drawn as lists() draws them."};
PyMethodDef permutations = {"permutations", QF_FASTCALL(permutations_fn), METH_FASTCALL | METH_KEYWORDS,
                            "permutations(values)\n--\n\n"
                            "Lists holding the values in a drawn order."};
PyMethodDef binary = {"binary", QF_FASTCALL(binary_fn), METH_FASTCALL | METH_KEYWORDS,
                      "binary(*, min_size=None, max_size=None)\n--\n\n"
                      "Byte strings of a size between the bounds."};
}  // namespace defs

}  // namespace strategy
