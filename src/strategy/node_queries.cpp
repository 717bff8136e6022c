// Node queries: emptiness, reusable values, validation and branches.
#include "strategy/node_queries.hpp"

#include "strategy/errors.hpp"
#include "strategy/guards.hpp"

namespace strategy {
namespace {

// A native child answers for its node; any other object is not empty.
bool child_is_empty(PyObject* child) {
    const SearchStrategy* s = as_strategy(child);
    return s && node_is_empty(s->node);
}

// A native child answers for its node; any other object is not reusable.
bool child_is_reusable(PyObject* child) {
    const SearchStrategy* s = as_strategy(child);
    return s && node_has_reusable_values(s->node);
}

// The definition's result; a NULL without an error set still raises.
py::Ref call_definition(PyObject* definition) {
    PyObject* r = PyObject_CallNoArgs(definition);
    if (!r) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        throw py::Err{};
    }
    return py::Ref::steal(r);
}

py::Ref opt_int_object(const OptInt& v) { return v ? py::from_mpz(*v) : py::none(); }

bool filter_is_empty(const kinds::Filter& f) {
    const SearchStrategy* base = as_strategy(f.base.get());
    if (!base) return false;
    if (node_is_empty(base->node)) return true;
    py::Ref fn = py::import_attr("quorvantis_fast.native_strategies", "_filter_makes_empty");
    py::Ref args;
    if (const auto* i = base->node.get<kinds::Integers>()) {
        py::Ref lo = opt_int_object(i->min_value), hi = opt_int_object(i->max_value);
        py::Ref kind = py::str("int");
        args = py::tuple_of({f.condition.get(), kind.get(), lo.get(), hi.get(), Py_False, Py_False});
    } else if (const auto* x = base->node.get<kinds::Floats>()) {
        py::Ref lo = py::from_double(x->min_value), hi = py::from_double(x->max_value);
        py::Ref kind = py::str("float");
        args = py::tuple_of({f.condition.get(), kind.get(), lo.get(), hi.get(),
                             x->allow_nan ? Py_True : Py_False, x->allow_infinity ? Py_True : Py_False});
    } else {
        return false;
    }
    py::Ref r = py::call_args(fn.get(), args.get());
    return py::truthy(r.get());
}

bool deferred_is_empty(const kinds::Deferred& d) {
    DeferredEntry entry(InProgress::DeferredEmpty, d.definition.get());
    if (entry.present()) return true;
    py::Ref r = call_definition(d.definition.get());
    return child_is_empty(r.get());
}

}  // namespace

bool node_is_empty(const StrategyNode& node) {
    py::RecursionGuard guard(" while checking whether a strategy is empty");
    switch (node.kind()) {
    case Kind::Nothing:
        return true;
    case Kind::SampledFrom:
        return node.get<kinds::SampledFrom>()->values.empty();
    case Kind::OneOf:
        for (const py::Ref& b : node.get<kinds::OneOf>()->branches)
            if (!child_is_empty(b.get())) return false;
        return true;
    case Kind::Tuples:
        for (const py::Ref& e : node.get<kinds::Tuples>()->elements)
            if (child_is_empty(e.get())) return true;
        return false;
    case Kind::Lists: {
        const auto& n = *node.get<kinds::Lists>();
        return n.min_size > 0 && child_is_empty(n.elements.get());
    }
    case Kind::Sets: {
        const auto& n = *node.get<kinds::Sets>();
        return n.min_size > 0 && child_is_empty(n.elements.get());
    }
    case Kind::FixedDictionaries:
        for (const auto& [key, value] : node.get<kinds::FixedDictionaries>()->entries)
            if (child_is_empty(value.get())) return true;
        return false;
    case Kind::Map:
        return child_is_empty(node.get<kinds::Map>()->base.get());
    case Kind::FlatMap:
        return child_is_empty(node.get<kinds::FlatMap>()->base.get());
    case Kind::Filter:
        return filter_is_empty(*node.get<kinds::Filter>());
    case Kind::Deferred:
        return deferred_is_empty(*node.get<kinds::Deferred>());
    default:
        return false;
    }
}

bool deferred_has_reusable(PyObject* definition) {
    py::Ref r = call_definition(definition);
    return child_is_reusable(r.get());
}

bool node_has_reusable_values(const StrategyNode& node) {
    py::RecursionGuard guard(" while checking whether a strategy has reusable values");
    switch (node.kind()) {
    case Kind::OneOf:
        for (const py::Ref& b : node.get<kinds::OneOf>()->branches)
            if (!child_is_reusable(b.get())) return false;
        return true;
    case Kind::Tuples:
        for (const py::Ref& e : node.get<kinds::Tuples>()->elements)
            if (!child_is_reusable(e.get())) return false;
        return true;
    case Kind::Deferred: {
        PyObject* definition = node.get<kinds::Deferred>()->definition.get();
        DeferredEntry entry(InProgress::DeferredReusable, definition);
        if (entry.present()) return true;
        return deferred_has_reusable(definition);
    }
    case Kind::Shared:
        return child_is_reusable(node.get<kinds::Shared>()->base.get());
    case Kind::Lists:
    case Kind::Sets:
    case Kind::Dictionaries:
    case Kind::FixedDictionaries:
    case Kind::Map:
    case Kind::Filter:
    case Kind::FlatMap:
    case Kind::Permutations:
    case Kind::Builds:
    case Kind::Composite:
    case Kind::Data:
    case Kind::Functions:
    case Kind::Randoms:
        return false;
    default:
        return true;
    }
}

void validate_child(PyObject* child) {
    if (const SearchStrategy* s = as_strategy(child)) node_validate(s->node);
}

void validate_builds_arg(std::string_view label, PyObject* arg) {
    if (const SearchStrategy* s = as_strategy(arg)) return node_validate(s->node);
    std::string r = py::repr(arg);
    raise_invalid_argument("Expected a SearchStrategy but got " + std::string(label) + r +
                           " (type=" + py::type_name(arg) + ")");
}

void node_validate(const StrategyNode& node) {
    py::RecursionGuard guard(" while validating a strategy");
    switch (node.kind()) {
    case Kind::OneOf:
        for (const py::Ref& b : node.get<kinds::OneOf>()->branches) validate_child(b.get());
        return;
    case Kind::Tuples:
        for (const py::Ref& e : node.get<kinds::Tuples>()->elements) validate_child(e.get());
        return;
    case Kind::Lists:
        return validate_child(node.get<kinds::Lists>()->elements.get());
    case Kind::Sets:
        return validate_child(node.get<kinds::Sets>()->elements.get());
    case Kind::Dictionaries: {
        const auto& n = *node.get<kinds::Dictionaries>();
        validate_child(n.keys.get());
        return validate_child(n.values.get());
    }
    case Kind::FixedDictionaries: {
        const auto& n = *node.get<kinds::FixedDictionaries>();
        for (const auto& [key, value] : n.entries) validate_child(value.get());
        for (const auto& [key, value] : n.optional) validate_child(value.get());
        return;
    }
    case Kind::Map:
        return validate_child(node.get<kinds::Map>()->base.get());
    case Kind::Filter:
        return validate_child(node.get<kinds::Filter>()->base.get());
    case Kind::FlatMap:
        return validate_child(node.get<kinds::FlatMap>()->base.get());
    case Kind::Builds: {
        const auto& n = *node.get<kinds::Builds>();
        for (const py::Ref& a : n.args) validate_builds_arg("", a.get());
        for (const auto& [name, value] : n.kwargs) validate_builds_arg(name + "=", value.get());
        return;
    }
    case Kind::Invalid:
        raise_stored_error(*node.get<kinds::Invalid>());
    default:
        return;
    }
}

py::Ref branches(PyObject* self) {
    py::RecursionGuard guard(" while listing the branches of a strategy");
    const auto* d = node_if<kinds::Deferred>(self);
    if (d) {
        DeferredEntry entry(InProgress::DeferredBranches, d->definition.get());
        if (!entry.present()) {
            py::Ref r = call_definition(d->definition.get());
            return py::getattr(r.get(), "branches");
        }
    }
    py::Ref list = py::new_list(0);
    py::list_append(list.get(), self);
    return list;
}

}  // namespace strategy
