// Argument inference of builds(): strategies for the parameters a call
// leaves open, resolved from their annotations, with the per-run cache of
// what was inferred for each (target, given keyword names).
#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "data/tls.hpp"
#include "strategy/constructors/builds.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/typeres/typeres.hpp"

namespace strategy {
namespace {

// An ordinary exception of the call is no answer (empty); an interrupt is
// raised.
py::Ref call_or_empty(PyObject* f, PyObject* arg) {
    PyObject* r = PyObject_CallFunctionObjArgs(f, arg, nullptr);
    if (!r) py::drop_exception();
    return py::Ref::steal(r);
}

bool has_forwardref(PyObject* ann, PyObject* forward_ref, PyObject* get_args) {
    py::RecursionGuard guard(" while looking for forward references in an annotation");
    int r = PyObject_IsInstance(ann, forward_ref);
    if (r < 0) throw py::Err{};
    if (r) return true;
    py::Ref args = py::call(get_args, ann);
    if (!PyTuple_Check(args.get())) return false;
    for (Py_ssize_t i = 0; i < PyTuple_Size(args.get()); ++i) {
        if (has_forwardref(PyTuple_GetItem(args.get(), i), forward_ref, get_args)) return true;
    }
    return false;
}

// The names of the call's keyword arguments, sorted bytewise.
std::vector<std::string> sorted_names(PyObject* kwargs) {
    std::vector<std::string> names;
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) names.push_back(py::utf8(name));
    std::sort(names.begin(), names.end());
    return names;
}

// The inference key: target identity, "|", the names joined by 0x01. Empty
// when a name holds that byte and so could spell another set of names, and
// whenever the strategy key is empty ('#' or '=' in a name): only a cached
// strategy keeps the target, and so its identity, alive.
std::string infer_key(PyObject* target, PyObject* kwargs) {
    char buf[2 * sizeof(uintptr_t)];
    auto end = std::to_chars(buf, buf + sizeof buf, reinterpret_cast<uintptr_t>(target), 16).ptr;
    std::string key(buf, end);
    key += '|';
    bool first = true;
    for (const std::string& name : sorted_names(kwargs)) {
        if (name.find_first_of("\x01#=") != std::string::npos) return {};
        if (!first) key += '\x01';
        key += name;
        first = false;
    }
    return key;
}

bool has_ellipsis_value(PyObject* kwargs) {
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
        if (value == Py_Ellipsis) return true;
    }
    return false;
}

// dict.update(hints) with the type hints of `obj`, when they can be had.
void merge_hints(PyObject* hints, PyObject* get_type_hints, PyObject* obj) {
    py::Ref found = call_or_empty(get_type_hints, obj);
    if (found && PyDict_Check(found.get())) py::check_rc(PyDict_Update(hints, found.get()));
}

// The hints of the target: for a class its own merged with its __init__'s
// (which win); otherwise get_type_hints(target), empty when it fails.
py::Ref target_hints(PyObject* target, PyObject* typing) {
    py::Ref get_type_hints = py::getattr(typing, "get_type_hints");
    int is_class = PyObject_IsInstance(target, reinterpret_cast<PyObject*>(&PyType_Type));
    if (is_class < 0) throw py::Err{};
    if (!is_class) return call_or_empty(get_type_hints.get(), target);
    py::Ref hints = py::new_dict();
    merge_hints(hints.get(), get_type_hints.get(), target);
    PyObject* init = PyObject_GetAttrString(target, "__init__");
    if (!init) py::drop_exception();
    py::Ref owned = py::Ref::steal(init);
    if (owned) merge_hints(hints.get(), get_type_hints.get(), owned.get());
    return hints;
}

struct ParameterKinds {
    py::Ref empty, var_positional, var_keyword, keyword_only, positional_only;

    explicit ParameterKinds(PyObject* inspect) {
        py::Ref parameter = py::getattr(inspect, "Parameter");
        empty = py::getattr(parameter.get(), "empty");
        var_positional = py::getattr(parameter.get(), "VAR_POSITIONAL");
        var_keyword = py::getattr(parameter.get(), "VAR_KEYWORD");
        keyword_only = py::getattr(parameter.get(), "KEYWORD_ONLY");
        positional_only = py::getattr(parameter.get(), "POSITIONAL_ONLY");
    }
};

// The annotation to resolve for a parameter: its own, unless that is
// missing, a string or holds forward references, in which case the resolved
// hint of that name (empty when there is none).
py::Ref effective_annotation(PyObject* p, PyObject* name, PyObject* hints, const ParameterKinds& k) {
    py::Ref ann = py::getattr(p, "annotation");
    if (ann.get() != k.empty.get() && !PyUnicode_Check(ann.get()) && !ann_has_forwardref(ann.get())) {
        return ann;
    }
    if (!hints) return {};
    PyObject* hint = PyObject_GetItem(hints, name);
    if (!hint) py::drop_exception();
    return py::Ref::steal(hint);
}

// one_of(inferred, just(default)) through the module's own functions.
py::Ref with_default(py::Ref inferred, PyObject* default_value) {
    py::Ref engine = py::import("quorvantis_fast._engine");
    py::Ref just = py::getattr(engine.get(), "just");
    py::Ref one_of = py::getattr(engine.get(), "one_of");
    py::Ref fixed = py::call(just.get(), default_value);
    return py::call(one_of.get(), inferred.get(), fixed.get());
}

[[noreturn]] void raise_no_signature(PyObject* name) {
    raise_invalid_argument("Cannot infer a strategy for " + py::utf8(py::check(PyObject_Str(name)).get()) +
                           "=... (no signature available)");
}

}  // namespace

bool ann_has_forwardref(PyObject* annotation) {
    try {
        py::Ref typing = py::import("typing");
        py::Ref forward_ref = py::getattr(typing.get(), "ForwardRef");
        py::Ref get_args = py::getattr(typing.get(), "get_args");
        return has_forwardref(annotation, forward_ref.get(), get_args.get());
    } catch (...) {
        py::drop_exception();
        return false;
    }
}

bool no_type_check_set(PyObject* target) {
    py::Ref flag = py::Ref::steal(PyObject_GetAttrString(target, "__no_type_check__"));
    if (!flag) {
        py::drop_exception();
        return false;
    }
    int truth = PyObject_IsTrue(flag.get());
    if (truth < 0) py::drop_exception();
    return truth == 1;
}

void infer_builds_kwargs(PyObject* target, PyObject* extra, PyObject* kwargs) {
    py::Ref inspect = py::import("inspect");
    py::Ref typing = py::import("typing");
    py::import("quorvantis_fast._engine");

    const Py_ssize_t n_extra = PyTuple_Size(extra);
    for (Py_ssize_t i = 0; i < n_extra; ++i) {
        if (PyTuple_GetItem(extra, i) == Py_Ellipsis) {
            raise_invalid_argument(
                "... was passed as a positional argument to builds(), but is only allowed as a keyword "
                "argument");
        }
    }

    std::string key;
    if (n_extra == 0 && !has_ellipsis_value(kwargs)) key = infer_key(target, kwargs);
    const bool cache_on = !key.empty();
    if (cache_on) {
        if (auto hit = data::builds_infer_get(key)) {
            for (const auto& [name, strategy] : *hit) {
                py::Ref k = py::str(name);
                py::check_rc(PyDict_SetItem(kwargs, k.get(), strategy.get()));
            }
            return;
        }
    }

    if (no_type_check_set(target)) return;

    py::Ref signature_fn = py::getattr(inspect.get(), "signature");
    py::Ref sig = call_or_empty(signature_fn.get(), target);
    if (!sig) {
        Py_ssize_t pos = 0;
        PyObject *name, *value;
        while (PyDict_Next(kwargs, &pos, &name, &value)) {
            if (value == Py_Ellipsis) raise_no_signature(name);
        }
        return;
    }

    py::Ref hints = target_hints(target, typing.get());
    const ParameterKinds k(inspect.get());
    typeres::ResolutionFrame frame(target);

    py::Ref parameters = py::getattr(sig.get(), "parameters");
    py::Ref values = py::call_method(parameters.get(), "values");
    py::Ref it = py::check(PyObject_GetIter(values.get()));
    data::InferList recorded;
    Py_ssize_t consumed = 0;
    while (PyObject* raw = PyIter_Next(it.get())) {
        py::Ref p = py::Ref::steal(raw);
        py::Ref kind = py::getattr(p.get(), "kind");
        if (kind.get() == k.var_positional.get() || kind.get() == k.var_keyword.get()) continue;
        if (kind.get() != k.keyword_only.get() && consumed++ < n_extra) continue;
        py::Ref name = py::check(PyObject_Str(py::getattr(p.get(), "name").get()));
        py::Ref ann = effective_annotation(p.get(), name.get(), hints.get(), k);
        PyObject* given = PyDict_GetItemWithError(kwargs, name.get());
        if (!given && PyErr_Occurred()) throw py::Err{};
        if (given) {
            if (given != Py_Ellipsis) continue;
            if (!ann) {
                std::string text = py::utf8(name.get());
                raise_invalid_argument("passed ... for " + text + ", but " + text + " has no type annotation");
            }
            py::Ref s = typeres::from_type(ann.get());
            py::Ref default_value = py::getattr(p.get(), "default");
            if (default_value.get() != k.empty.get()) s = with_default(std::move(s), default_value.get());
            py::check_rc(PyDict_SetItem(kwargs, name.get(), s.get()));
            continue;
        }
        py::Ref default_value = py::getattr(p.get(), "default");
        if (default_value.get() != k.empty.get() || kind.get() == k.positional_only.get() || !ann) continue;
        py::Ref s = typeres::from_type(ann.get());
        py::check_rc(PyDict_SetItem(kwargs, name.get(), s.get()));
        if (cache_on) recorded.emplace_back(py::utf8(name.get()), std::move(s));
    }
    py::check_no_error();
    if (frame.referenced()) typeres::note_cyclic(target);
    if (cache_on) data::builds_infer_put(key, target, std::move(recorded));
}

}  // namespace strategy
