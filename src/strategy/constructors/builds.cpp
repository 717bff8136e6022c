// builds(): the Python function, its per-run strategy cache and the draw of
// the Builds node.
#include "strategy/constructors/builds.hpp"

#include <algorithm>
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include "data/tls.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"

namespace strategy {
namespace {

void append_hex_id(std::string& key, PyObject* o) {
    char buf[2 * sizeof(uintptr_t)];
    auto end = std::to_chars(buf, buf + sizeof buf, reinterpret_cast<uintptr_t>(o), 16).ptr;
    key.append(buf, end);
}

// The key of one call: the identities of the target, of each positional
// argument and of each keyword value (by name). Empty when a keyword name
// holds '#' or '=': the key could then spell another call's key.
std::string strategy_key(PyObject* target, PyObject* extra, PyObject* kwargs) {
    std::string key;
    append_hex_id(key, target);
    for (Py_ssize_t i = 0; i < PyTuple_Size(extra); ++i) {
        key += '|';
        append_hex_id(key, PyTuple_GetItem(extra, i));
    }
    std::vector<std::pair<std::string, PyObject*>> named;
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
        std::string text = py::utf8(name);
        if (text.find_first_of("#=") != std::string::npos) return {};
        named.emplace_back(std::move(text), value);
    }
    std::sort(named.begin(), named.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [text, v] : named) {
        key += '#';
        key += text;
        key += '=';
        append_hex_id(key, v);
    }
    return key;
}

bool is_union(PyObject* target) {
    try {
        py::Ref typing = py::import("typing");
        py::Ref get_origin = py::getattr(typing.get(), "get_origin");
        py::Ref origin = py::call(get_origin.get(), target);
        py::Ref union_form = py::getattr(typing.get(), "Union");
        if (origin.get() == union_form.get()) return true;
    } catch (const py::Err&) {
        py::drop_exception();
    }
    try {
        py::Ref union_type = py::import_attr("types", "UnionType");
        int r = PyObject_IsInstance(target, union_type.get());
        if (r < 0) throw py::Err{};
        return r == 1;
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

[[noreturn]] void raise_not_callable(PyObject* target) {
    std::string suffix;
    if (is_union(target)) {
        suffix = " Try using from_type(" + py::utf8(py::check(PyObject_Str(target)).get()) + ") instead?";
    }
    raise_invalid_argument(
        "The first positional argument to builds() must be a callable target to construct, but got "
        "non-callable " + py::repr(target) + "." + suffix);
}

py::Ref build_strategy(PyObject* target, PyObject* extra, PyObject* kwargs) {
    std::string key = strategy_key(target, extra, kwargs);
    if (!key.empty()) {
        if (py::Ref hit = data::builds_strategy_get(key)) return hit;
    }
    int callable = PyCallable_Check(target);
    if (!callable) raise_not_callable(target);
    infer_builds_kwargs(target, extra, kwargs);

    kinds::Builds node;
    node.target = py::Ref::borrow(target);
    for (Py_ssize_t i = 0; i < PyTuple_Size(extra); ++i) {
        node.args.push_back(py::Ref::borrow(PyTuple_GetItem(extra, i)));
    }
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
        node.kwargs.emplace_back(py::utf8(name), py::Ref::borrow(value));
    }
    py::Ref strategy = SearchStrategy::wrap(std::move(node));
    if (!key.empty()) data::builds_strategy_put(key, strategy);
    return strategy;
}

PyObject* builds_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        py::Ref kwargs = py::new_dict();
        Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
        for (Py_ssize_t i = 0; i < nkw; ++i) {
            PyObject* name = PyTuple_GetItem(kwnames, i);
            py::arg_str(name, "kwargs");  // names must be text
            py::check_rc(PyDict_SetItem(kwargs.get(), name, args[nargs + i]));
        }
        if (nargs == 0) {
            raise_invalid_argument(
                "builds() must be passed a callable as the first positional argument, but no "
                "positional arguments were given.");
        }
        py::Ref extra = py::check(PyTuple_New(nargs - 1));
        for (Py_ssize_t i = 1; i < nargs; ++i) PyTuple_SetItem(extra.get(), i - 1, py::Ref::borrow(args[i]).release());
        return build_strategy(args[0], extra.get(), kwargs.get()).release();
    });
}

// The TypeError of a call without any argument strategies, for a target
// that builds() cannot call bare: a NewType or a generic alias.
bool wants_from_type(PyObject* target) {
    py::Ref get_origin = py::import_attr("typing", "get_origin");
    // A failing probe counts as absent; an interrupt is not swallowed, and
    // nothing is reported on the side.
    if (py::Ref::steal(PyObject_GetAttrString(target, "__supertype__"))) return true;
    py::drop_exception();
    py::Ref origin = py::Ref::steal(PyObject_CallFunctionObjArgs(get_origin.get(), target, nullptr));
    if (!origin) {
        py::drop_exception();
        return false;
    }
    return origin.get() != Py_None;
}

// A TypeError raised by calling the target: explain it where we can.
[[noreturn]] void explain_call_error(const kinds::Builds& n) {
    py::Ref caught = py::fetch_error();
    PyObject* target = n.target.get();
    if (n.args.empty() && n.kwargs.empty() && wants_from_type(target)) {
        std::string r = py::repr(target);
        raise_invalid_argument("Calling " + r + " with no arguments raised an error - try using from_type(" + r +
                               ") instead of builds(" + r + ")");
    }
    if (no_type_check_set(target)) {
        PyErr_SetString(PyExc_TypeError,
                        "This might be because the @no_type_check decorator prevented Quorvantis from "
                        "inferring a strategy for some required arguments.");
        py::Ref replacement = py::fetch_error();
        PyException_SetContext(replacement.get(), caught.release());
        py::restore_error(replacement.get());
        throw py::Err{};
    }
    py::restore_error(caught.get());
    throw py::Err{};
}

}  // namespace

py::Ref draw_builds(const kinds::Builds& n, PyObject* record) {
    py::Ref args = py::check(PyTuple_New(static_cast<Py_ssize_t>(n.args.size())));
    for (size_t i = 0; i < n.args.size(); ++i) {
        PyTuple_SetItem(args.get(), static_cast<Py_ssize_t>(i), draw_child(n.args[i].get(), record).release());
    }
    py::Ref kwargs;
    if (!n.kwargs.empty()) {
        kwargs = py::new_dict();
        for (const auto& [name, strategy] : n.kwargs) {
            py::Ref value = draw_child(strategy.get(), record);
            py::Ref key = py::str(name);
            py::check_rc(PyDict_SetItem(kwargs.get(), key.get(), value.get()));
        }
    }
    PyObject* result = PyObject_Call(n.target.get(), args.get(), kwargs.get());
    if (result) return py::Ref::steal(result);
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::Err{};
    explain_call_error(n);
}

namespace defs {
PyMethodDef builds = {
    "builds", QF_FASTCALL(builds_fn), METH_FASTCALL | METH_KEYWORDS,
    "builds(*args, **kwargs)\n--\n\n"
    "Values made by calling the first argument with values drawn from the other arguments; "
    "keyword arguments left out (or given as ...) are inferred from the target's type "
    "annotations."};
}  // namespace defs

}  // namespace strategy
