// Classes, registered strategies and abstract types: the branch of the chain
// for everything that is not a generic alias.
#include <algorithm>
#include <unordered_set>

#include "data/tls.hpp"
#include "strategy/node_queries.hpp"
#include "strategy/object.hpp"
#include "strategy/typeres/common.hpp"
#include "strategy/typeres/typeres.hpp"

namespace strategy::typeres {
namespace {

// An abstract class that is not a protocol; failing tests count as false.
bool is_abstract_class(PyObject* thing) {
    if (!is_class(thing)) return false;
    py::Ref inspect = module_opt("inspect");
    py::Ref isabstract = inspect ? attr_opt(inspect.get(), "isabstract") : py::Ref();
    if (!isabstract) return false;
    return call_truthy_opt(isabstract.get(), thing) && !attr_truthy(thing, "_is_protocol");
}

// deferred(partial(_resolve_abstract, thing)): resolved at the first draw,
// when the subclasses and the registry are complete.
py::Ref deferred_abstract(const Mods& m, PyObject* thing) {
    py::Ref resolve = py::getattr(m.engine.get(), "_resolve_abstract");
    py::Ref partial = py::getattr(import("functools").get(), "partial");
    py::Ref definition = py::call(partial.get(), resolve.get(), thing);
    return m.call("deferred", {definition.get()});
}

bool is_typeddict(const Mods& m, PyObject* thing) {
    py::Ref test = attr_opt(m.typing.get(), "is_typeddict");
    if (test && call_truthy_opt(test.get(), thing)) return true;
    return static_cast<bool>(attr_opt(thing, "__required_keys__"));
}

py::Ref type_hints(const Mods& m, PyObject* of) {
    py::Ref f = py::getattr(m.typing.get(), "get_type_hints");
    return py::call(f.get(), of);
}

// The (key, hint) pairs of a hints dict, taken before anything runs.
py::Ref items_of(PyObject* hints) { return py::check(PyDict_Items(hints)); }

py::Ref resolve_typeddict(const Mods& m, PyObject* thing) {
    py::Ref hints = type_hints(m, thing);
    if (!PyDict_Check(hints.get())) return python_from_type(thing);
    py::Ref optional_keys = attr_opt(thing, "__optional_keys__");
    py::Ref required = py::new_dict();
    py::Ref optional = py::new_dict();
    py::Ref items = items_of(hints.get());
    for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
        PyObject* pair = PyList_GetItem(items.get(), i);
        PyObject* key = PyTuple_GetItem(pair, 0);
        py::Ref s = from_type(PyTuple_GetItem(pair, 1));
        if (!is_native(s.get())) return python_from_type(thing);
        bool is_optional = optional_keys && contains_opt(optional_keys.get(), key);
        py::check_rc(PyDict_SetItem(is_optional ? optional.get() : required.get(), key, s.get()));
    }
    if (PyDict_Size(optional.get()) == 0) return m.call("fixed_dictionaries", {required.get()});
    py::Ref kwargs = py::new_dict();
    py::dict_set(kwargs.get(), "optional", optional.get());
    return m.call("fixed_dictionaries", {required.get()}, kwargs.get());
}

// The init field names of a dataclass, or the fields of a named tuple, as a
// list; empty when `thing` is neither.
py::Ref dataclass_or_namedtuple_fields(PyObject* thing) {
    if (!is_class(thing)) return {};
    py::Ref dataclasses = import("dataclasses");
    py::Ref is_dataclass = py::getattr(dataclasses.get(), "is_dataclass");
    py::Ref names = py::new_list();
    if (py::truthy(py::call(is_dataclass.get(), thing).get())) {
        py::Ref fields = py::call(py::getattr(dataclasses.get(), "fields").get(), thing);
        py::Ref iter = py::check(PyObject_GetIter(fields.get()));
        while (PyObject* f = PyIter_Next(iter.get())) {
            py::Ref field = py::Ref::steal(f);
            if (!py::truthy(py::getattr(f, "init").get())) continue;
            py::list_append(names.get(), py::getattr(f, "name").get());
        }
        py::check_no_error();
        return names;
    }
    int sub = PyObject_IsSubclass(thing, reinterpret_cast<PyObject*>(&PyTuple_Type));
    if (sub < 0) throw py::Err{};
    py::Ref fields = sub ? attr_opt(thing, "_fields") : py::Ref();
    if (!fields) return {};
    py::Ref iter = py::check(PyObject_GetIter(fields.get()));
    while (PyObject* f = PyIter_Next(iter.get())) {
        py::Ref field = py::Ref::steal(f);
        py::list_append(names.get(), py::check(PyObject_Str(f)).get());
    }
    py::check_no_error();
    return names;
}

py::Ref resolve_fields(const Mods& m, PyObject* thing, PyObject* names) {
    py::Ref hints = type_hints(m, thing);
    if (!PyDict_Check(hints.get())) return python_from_type(thing);
    py::Ref kwargs = py::new_dict();
    for (Py_ssize_t i = 0; i < PyList_Size(names); ++i) {
        PyObject* name = PyList_GetItem(names, i);
        PyObject* hint = py::dict_get(hints.get(), name);
        if (!hint) continue;
        py::Ref keep_hint = py::Ref::borrow(hint);
        py::Ref s = from_type(hint);
        if (!is_native(s.get())) return python_from_type(thing);
        py::check_rc(PyDict_SetItem(kwargs.get(), name, s.get()));
    }
    py::Ref builds = py::getattr(m.engine.get(), "builds");
    py::Ref args = py::tuple_of({thing});
    return py::call_args(builds.get(), args.get(), kwargs.get());
}

// The upstream library's own table, when it knows the class; every failure
// counts as not knowing it.
py::Ref resolve_via_real_lookup(PyObject* cls) {
    try {
        py::Ref lookup = py::optional_attr("quorvantis.strategies._internal.types", "_global_type_lookup");
        if (!lookup || !contains_opt(lookup.get(), cls)) return {};
        py::Ref entry = py::check(PyObject_GetItem(lookup.get(), cls));
        if (attr_opt(entry.get(), "do_draw")) return entry;
        PyObject* r = PyObject_CallFunctionObjArgs(entry.get(), cls, nullptr);
        if (!r) throw py::Err{};
        py::Ref result = py::Ref::steal(r);
        if (attr_opt(r, "do_draw")) return result;
    } catch (const py::Err&) {
        py::drop_exception();
    }
    return {};
}

// builds(cls, ...) from the annotations of its constructor; empty when an
// annotation resolves to something that is not a native strategy.
py::Ref generic_class_strategy(const Mods& m, PyObject* cls) {
    py::Ref inspect = import("inspect");
    py::Ref builds = py::getattr(m.engine.get(), "builds");
    PyObject* sig = PyObject_CallMethod(inspect.get(), "signature", "O", cls);
    if (!sig) {
        py::drop_exception();
        return m.call("builds", {cls});
    }
    py::Ref signature = py::Ref::steal(sig);
    py::Ref hints;
    if (py::Ref init = attr_opt(cls, "__init__")) {
        if (py::Ref f = attr_opt(m.typing.get(), "get_type_hints")) {
            hints = py::Ref::steal(PyObject_CallFunctionObjArgs(f.get(), init.get(), nullptr));
            if (!hints) py::drop_exception();
        }
    }
    py::Ref parameter = py::getattr(inspect.get(), "Parameter");
    py::Ref empty = py::getattr(parameter.get(), "empty");
    py::Ref var_positional = py::getattr(parameter.get(), "VAR_POSITIONAL");
    py::Ref var_keyword = py::getattr(parameter.get(), "VAR_KEYWORD");
    py::Ref positional_only = py::getattr(parameter.get(), "POSITIONAL_ONLY");

    std::vector<py::Ref> positional{py::Ref::borrow(cls)};
    py::Ref kwargs = py::new_dict();
    py::Ref params = py::getattr(signature.get(), "parameters");
    py::Ref values = py::call_method(params.get(), "values");
    py::Ref iter = py::check(PyObject_GetIter(values.get()));
    while (PyObject* p = PyIter_Next(iter.get())) {
        py::Ref param = py::Ref::steal(p);
        py::Ref kind = py::getattr(p, "kind");
        if (kind.get() == var_positional.get() || kind.get() == var_keyword.get()) continue;
        py::Ref name = py::getattr(p, "name");
        py::Ref hint;
        if (hints) {
            hint = py::Ref::steal(PyObject_GetItem(hints.get(), name.get()));
            if (!hint) py::drop_exception();
        }
        if (hint) {
            py::Ref s = from_type(hint.get());
            if (!is_native(s.get())) return {};
            if (kind.get() == positional_only.get()) positional.push_back(std::move(s));
            else py::check_rc(PyObject_SetItem(kwargs.get(), name.get(), s.get()));
            continue;
        }
        if (py::getattr(p, "default").get() != empty.get()) continue;
        if (py::Ref s = resolve_via_real_lookup(cls)) return s;
        return invalid_node(could_not_resolve(py::repr(cls)), true);
    }
    py::check_no_error();
    return call_with(builds.get(), positional, kwargs.get());
}

// The check applied to every strategy a registry entry gives.
py::Ref checked(PyObject* s, PyObject* thing) {
    if (is_native(s) && node_is_empty(node_of(s))) {
        return invalid_node("Error: " + py::repr(thing) + " resolved to an empty strategy", true);
    }
    return py::Ref::borrow(s);
}

// Is a subclass's strategy worth a branch of the abstract type's one_of? A
// lazily resolved subclass is judged by what it resolves to, so an abstract
// subclass without implementations does not become a branch that fails.
bool usable_branch(PyObject* s) {
    if (!is_native(s)) return false;
    const StrategyNode* node = &node_of(s);
    py::Ref resolved;
    if (const auto* d = node->get<kinds::Deferred>()) {
        resolved = py::Ref::steal(PyObject_CallNoArgs(d->definition.get()));
        if (!resolved) {
            py::drop_exception();
            return true;
        }
        if (!is_native(resolved.get())) return true;
        node = &node_of(resolved.get());
    }
    if (node->kind() == Kind::Invalid) return false;
    try {
        return !node_is_empty(*node);
    } catch (const py::Err&) {
        py::drop_exception();
        return true;
    }
}

}  // namespace

py::Ref resolve_registry_entry(PyObject* entry, PyObject* thing) {
    if (is_strategy_like(entry)) return checked(entry, thing);
    py::Ref r = py::call(entry, thing);
    if (r.get() == Py_NotImplemented) return {};
    if (is_strategy_like(r.get())) return checked(r.get(), thing);
    return invalid_node("Error: " + py::repr(entry) + " was registered for " + py::repr(thing) +
                            ", but returned non-strategy " + py::repr(r.get()),
                        true);
}

py::Ref resolve_via_subclasses(PyObject* thing) {
    py::Ref registry = py::import_attr("quorvantis_fast.native_strategies", "_NATIVE_TYPE_REGISTRY");
    py::Ref builtins = import("builtins");
    py::Ref issubclass = py::getattr(builtins.get(), "issubclass");
    py::Ref type = py::getattr(builtins.get(), "type");

    std::vector<py::Ref> registered;
    std::unordered_set<PyObject*> registered_ids;
    py::Ref keys = py::call_method(registry.get(), "keys");
    py::Ref iter = py::check(PyObject_GetIter(keys.get()));
    while (PyObject* k = PyIter_Next(iter.get())) {
        py::Ref key = py::Ref::steal(k);
        int r = PyObject_IsInstance(k, type.get());
        if (r < 0) throw py::Err{};
        if (r == 0) continue;
        registered_ids.insert(k);
        registered.push_back(std::move(key));
    }
    py::check_no_error();

    struct Candidate {
        std::string repr;
        py::Ref cls;
    };
    std::vector<Candidate> candidates;
    for (const py::Ref& k : registered) {
        // A failing test (a protocol that is not runtime-checkable) is a no.
        if (!call_truthy_opt(issubclass.get(), k.get(), thing)) continue;
        if (py::Ref mro = attr_opt(k.get(), "__mro__")) {
            // Only a class with no registered ancestor of its own below thing.
            size_t count = 0;
            bool readable = true;
            if (PyObject* it = PyObject_GetIter(mro.get())) {
                py::Ref mro_iter = py::Ref::steal(it);
                while (py::Ref c = py::Ref::steal(PyIter_Next(it))) count += registered_ids.count(c.get());
                if (PyErr_Occurred()) {
                    py::drop_exception();
                    readable = false;
                }
            } else {
                py::drop_exception();
                readable = false;
            }
            if (readable && count != 1) continue;
        }
        candidates.push_back({repr_or_empty(k.get()), k});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.repr < b.repr; });

    std::vector<py::Ref> strategies;
    for (const Candidate& c : candidates) {
        py::Ref entry = py::check(PyObject_GetItem(registry.get(), c.cls.get()));
        if (py::Ref s = resolve_registry_entry(entry.get(), thing)) strategies.push_back(std::move(s));
    }
    if (strategies.empty()) return {};
    if (strategies.size() == 1) return strategies[0];
    py::Ref one_of = py::import_attr("quorvantis_fast._engine", "one_of");
    return call_with(one_of.get(), strategies);
}

py::Ref resolve_class(const Mods& m, PyObject* thing) {
    if (is_abstract_class(thing)) return deferred_abstract(m, thing);
    if (is_typeddict(m, thing)) return resolve_typeddict(m, thing);
    if (py::Ref names = dataclass_or_namedtuple_fields(thing); names && PyList_Size(names.get()) > 0) {
        return resolve_fields(m, thing, names.get());
    }
    if (!is_class(thing)) return python_from_type(thing);
    if (py::Ref s = resolve_via_subclasses(thing)) return s;
    if (!attr_truthy(thing, "_is_protocol")) {
        if (py::Ref s = generic_class_strategy(m, thing)) return s;
    }
    return python_from_type(thing);
}

py::Ref resolve_abstract(PyObject* thing) {
    if (py::Ref done = data::deferred_get(thing)) return done;
    if (py::Ref s = resolve_via_subclasses(thing)) {
        data::deferred_put(thing, s);
        return s;
    }
    std::vector<py::Ref> results;
    py::Ref subclasses = py::call_method(thing, "__subclasses__");
    py::Ref iter = py::check(PyObject_GetIter(subclasses.get()));
    while (PyObject* sub = PyIter_Next(iter.get())) {
        py::Ref owned = py::Ref::steal(sub);
        PyObject* r = nullptr;
        try {
            r = from_type(sub).release();
        } catch (const py::Err&) {
            py::drop_exception();
        }
        py::Ref s = py::Ref::steal(r);
        if (s && usable_branch(s.get())) results.push_back(std::move(s));
    }
    py::check_no_error();
    py::Ref outcome;
    if (results.empty()) {
        outcome = invalid_node("Could not resolve " + py::repr(thing) +
                                   " to a strategy, because it is an abstract type without "
                                   "resolvable subclasses. Consider using register_type_strategy",
                               true);
    } else if (results.size() == 1) {
        outcome = results[0];
    } else {
        py::Ref one_of = py::import_attr("quorvantis_fast._engine", "one_of");
        outcome = call_with(one_of.get(), results);
    }
    data::deferred_put(thing, outcome);
    return outcome;
}

}  // namespace strategy::typeres
