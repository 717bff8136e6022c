// Strategy reprs: every strategy prints as the call that would build it.
#include <string>

#include "strategy/node_queries.hpp"

namespace strategy {
namespace {

const char* const OPAQUE = "SearchStrategy(...)";

// The text of `r` when it is a str; an error or a non-str is dropped.
bool str_result(PyObject* r, std::string& out) {
    if (!r) {
        py::drop_exception();
        return false;
    }
    py::Ref owned = py::Ref::steal(r);
    if (!PyUnicode_Check(r)) return false;
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(r, &n);
    if (!p) {
        py::drop_exception();
        return false;
    }
    out.assign(p, static_cast<size_t>(n));
    return true;
}

// A function of the upstream reflection module, or an empty Ref (error
// cleared) when it cannot be had.
py::Ref reflection_function(const char* name) { return py::optional_attr("quorvantis.internal.reflection", name); }

std::string join_children(const Refs& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += child_repr(items[i].get());
    }
    return out;
}

std::string sampled_element_text(PyObject* nicerepr, PyObject* value) {
    std::string text;
    if (nicerepr && str_result(PyObject_CallFunctionObjArgs(nicerepr, value, nullptr), text)) return text;
    if (str_result(PyObject_Repr(value), text)) return text;
    return "";
}

std::string sampled_from_repr(const kinds::SampledFrom& n) {
    // The upstream module is looked up once per repr: when it is missing,
    // every element falls back to its plain repr.
    py::Ref nicerepr = reflection_function("nicerepr");
    std::string inner;
    for (size_t i = 0; i < n.values.size(); ++i) {
        if (i) inner += ", ";
        inner += sampled_element_text(nicerepr.get(), n.values[i].get());
    }
    if (!n.is_tuple) return "sampled_from([" + inner + "])";
    if (n.values.size() == 1) return "sampled_from((" + inner + ",))";
    return "sampled_from((" + inner + "))";
}

std::string integers_repr(const kinds::Integers& n) {
    if (n.min_value && n.max_value) {
        return "integers(" + n.min_value->get_str() + ", " + n.max_value->get_str() + ")";
    }
    if (n.min_value) return "integers(min_value=" + n.min_value->get_str() + ")";
    if (n.max_value) return "integers(max_value=" + n.max_value->get_str() + ")";
    return "integers()";
}

std::string builds_repr(const kinds::Builds& n) {
    std::string out = "builds(" + fn_repr(n.target.get());
    for (const py::Ref& a : n.args) out += ", " + child_repr(a.get());
    for (const auto& [name, value] : n.kwargs) out += ", " + name + "=" + child_repr(value.get());
    return out + ")";
}

std::string shared_repr(const kinds::Shared& n) {
    std::string key = "'" + n.key + "'";
    if (py::Ref s = py::Ref::steal(PyUnicode_FromStringAndSize(n.key.data(), static_cast<Py_ssize_t>(n.key.size())))) {
        std::string text;
        if (str_result(PyObject_Repr(s.get()), text)) key = text;
    } else {
        py::drop_exception();
    }
    return "shared(" + child_repr(n.base.get()) + ", key=" + key + ")";
}

template <class T> std::string suffixed(const T& n, const char* method, PyObject* f) {
    return child_repr(n.base.get()) + "." + method + "(" + fn_repr(f) + ")";
}

}  // namespace

std::string take_text(py::Ref s) {
    if (!PyUnicode_Check(s.get())) py::raise_cannot_convert(s.get(), "PyString");
    return py::utf8(s.get());
}

std::string child_repr(PyObject* child) { return take_text(py::check(PyObject_Repr(child))); }

std::string fn_repr(PyObject* f) {
    try {
        std::string text;
        if (py::Ref describe = reflection_function("get_pretty_function_description")) {
            if (str_result(PyObject_CallFunctionObjArgs(describe.get(), f, nullptr), text)) return text;
        }
        if (str_result(PyObject_GetAttrString(f, "__name__"), text) && !text.empty() &&
            text != "<lambda>") {
            return text;
        }
    } catch (...) {
        py::drop_exception();
    }
    return "...";
}

bool is_identity_function(PyObject* f) {
    py::Ref is_identity = reflection_function("is_identity_function");
    py::Ref r = py::Ref::steal(is_identity ? PyObject_CallFunctionObjArgs(is_identity.get(), f, nullptr) : nullptr);
    const bool yes = r && PyObject_IsTrue(r.get()) == 1;
    py::drop_exception();
    return yes;
}

std::string repr_node(const StrategyNode& node) {
    py::RecursionGuard guard(" while getting the repr of a strategy");
    switch (node.kind()) {
    case Kind::Integers: return integers_repr(*node.get<kinds::Integers>());
    case Kind::Booleans: return "booleans()";
    case Kind::Floats: return "floats()";
    case Kind::NoneValue: return "none()";
    case Kind::Just: return "just(" + child_repr(node.get<kinds::Just>()->value.get()) + ")";
    case Kind::Nothing: return "nothing()";
    case Kind::SampledFrom: return sampled_from_repr(*node.get<kinds::SampledFrom>());
    case Kind::SampledFromRange:
        return "sampled_from(" + child_repr(node.get<kinds::SampledFromRange>()->range.get()) + ")";
    case Kind::OneOf: return "one_of(" + join_children(node.get<kinds::OneOf>()->branches) + ")";
    case Kind::Tuples: return "tuples(" + join_children(node.get<kinds::Tuples>()->elements) + ")";
    case Kind::Lists: return "lists(" + child_repr(node.get<kinds::Lists>()->elements.get()) + ")";
    case Kind::Sets: {
        const auto& n = *node.get<kinds::Sets>();
        return std::string(n.frozen ? "frozensets(" : "sets(") + child_repr(n.elements.get()) + ")";
    }
    case Kind::Dictionaries: {
        const auto& n = *node.get<kinds::Dictionaries>();
        return "dictionaries(keys=" + child_repr(n.keys.get()) + ", values=" +
               child_repr(n.values.get()) + ")";
    }
    case Kind::Text: return "text()";
    case Kind::Characters: return node.get<kinds::Characters>()->repr;
    case Kind::Binary: return "binary()";
    case Kind::Map: {
        const auto& n = *node.get<kinds::Map>();
        return suffixed(n, "map", n.pack.get());
    }
    case Kind::Filter: {
        const auto& n = *node.get<kinds::Filter>();
        return suffixed(n, "filter", n.condition.get());
    }
    case Kind::FlatMap: {
        const auto& n = *node.get<kinds::FlatMap>();
        return suffixed(n, "flatmap", n.expand.get());
    }
    case Kind::Uuids: return "uuids()";
    case Kind::Builds: return builds_repr(*node.get<kinds::Builds>());
    case Kind::Dates: return "dates()";
    case Kind::Times: return "times()";
    case Kind::Datetimes: return "datetimes()";
    case Kind::Timedeltas: return "timedeltas()";
    case Kind::ComplexNumbers: return "complex_numbers()";
    case Kind::Fractions: return "fractions()";
    case Kind::Decimals: return "decimals()";
    case Kind::Data: return "data()";
    case Kind::Functions: {
        const auto& n = *node.get<kinds::Functions>();
        return "functions(like=" + fn_repr(n.like.get()) + ", returns=" + child_repr(n.returns.get()) +
               ", pure=" + (n.pure ? "True" : "False") + ")";
    }
    case Kind::Randoms: return "randoms()";
    case Kind::Shared: return shared_repr(*node.get<kinds::Shared>());
    case Kind::Deferred:
    case Kind::FixedDictionaries:
    case Kind::Permutations:
    case Kind::Composite:
    case Kind::IpAddresses:
    case Kind::Slices:
    case Kind::Invalid:
        return OPAQUE;
    }
    return OPAQUE;
}

}  // namespace strategy
