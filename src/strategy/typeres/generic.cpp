// Generic aliases: parameterised generics, their bare forms, unions,
// literals, callables, tuples and the abstract collection types, mapped onto
// the module's constructors with each argument resolved through from_type.
#include "strategy/node_queries.hpp"
#include "strategy/object.hpp"
#include "strategy/typeres/common.hpp"
#include "strategy/typeres/typeres.hpp"

namespace strategy::typeres {
namespace {

// Is `origin` the attribute `name` of `mod` (an absent module or name never
// matches)?
bool is_attr(PyObject* mod, const char* name, PyObject* origin) {
    if (!mod) return false;
    py::Ref v = attr_opt(mod, name);
    return v && v.get() == origin;
}

bool is_any_attr(PyObject* mod, std::initializer_list<const char*> names, PyObject* origin) {
    for (const char* n : names) {
        if (is_attr(mod, n, origin)) return true;
    }
    return false;
}

// Is `origin` typing.Union or types.UnionType?
bool is_union_origin(const Mods& m, PyObject* origin) {
    if (is_attr(m.typing.get(), "Union", origin)) return true;
    py::Ref types = module_opt("types");
    return is_attr(types.get(), "UnionType", origin);
}

py::Ref get_args(const Mods& m, PyObject* thing) {
    py::Ref f = py::getattr(m.typing.get(), "get_args");
    py::Ref args = py::call(f.get(), thing);
    if (!PyTuple_Check(args.get())) py::raise_cannot_convert(args.get(), "PyTuple");
    return args;
}

// Could the type `t` (or a member of the union `t`) hold ints?
bool int_admissible(const Mods& m, PyObject* t) {
    py::Ref get_origin = py::getattr(m.typing.get(), "get_origin");
    py::Ref origin = py::call(get_origin.get(), t);
    if (is_union_origin(m, origin.get())) {
        py::Ref members = get_args(m, t);
        for (Py_ssize_t i = 0; i < PyTuple_Size(members.get()); ++i) {
            if (int_admissible(m, PyTuple_GetItem(members.get(), i))) return true;
        }
        return false;
    }
    int r = PyObject_IsInstance(t, reinterpret_cast<PyObject*>(&PyType_Type));
    if (r < 0) throw py::Err{};
    if (r == 0) return false;
    r = PyObject_IsSubclass(reinterpret_cast<PyObject*>(&PyLong_Type), t);
    if (r < 0) throw py::Err{};
    return r == 1;
}

// Set elements and dictionary keys whose type might have unhashable
// instances are filtered instead of failing at insertion.
py::Ref filtered_hashable(const Mods& m, PyObject* element_type, PyObject* strategy) {
    if (element_type == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) return py::Ref::borrow(strategy);
    for (const char* name : {"bool", "int", "float", "complex", "str", "bytes"}) {
        if (element_type == m.builtin(name).get()) return py::Ref::borrow(strategy);
    }
    py::Ref can_hash = py::getattr(m.engine.get(), "can_hash");
    return py::call_method(strategy, "filter", can_hash.get());
}

// A class named by a type argument: the class, the value of a string or
// forward reference (evaluated in an empty namespace), or empty.
py::Ref resolve_type_arg(const Mods& m, PyObject* arg) {
    py::Ref type = m.builtin("type");
    py::Ref isinstance = m.builtin("isinstance");
    py::Ref eval = m.builtin("eval");
    py::Ref forward_ref = py::getattr(m.typing.get(), "ForwardRef");
    auto instance_of = [&](PyObject* cls) {
        py::Ref r = py::call(isinstance.get(), arg, cls);
        return py::truthy(r.get());
    };
    auto evaluate = [&](PyObject* text) -> py::Ref {
        py::Ref ns = py::new_dict();
        PyObject* v = PyObject_CallFunctionObjArgs(eval.get(), text, ns.get(), nullptr);
        if (!v) py::drop_exception();
        return py::Ref::steal(v);
    };
    if (instance_of(type.get())) return py::Ref::borrow(arg);
    if (PyUnicode_Check(arg)) return evaluate(arg);
    if (instance_of(forward_ref.get())) {
        py::Ref text = attr_opt(arg, "__forward_arg__");
        return text ? evaluate(text.get()) : py::Ref();
    }
    return {};
}

py::Ref map_with(PyObject* strategy, PyObject* pack) { return py::call_method(strategy, "map", pack); }

py::Ref methodcaller(const char* name) {
    py::Ref f = py::getattr(import("operator").get(), "methodcaller");
    py::Ref n = py::str(name);
    return py::call(f.get(), n.get());
}

py::Ref kwargs_of(const char* name, PyObject* value) {
    py::Ref kw = py::new_dict();
    py::dict_set(kw.get(), name, value);
    return kw;
}

// A bare generic (no arguments), or empty when no row matches its origin.
py::Ref bare_generic(const Mods& m, PyObject* origin) {
    py::Ref abc = module_opt("collections.abc");
    PyObject* a = abc.get();
    auto u = [&] { return m.any_scalar_union(); };
    if (origin == m.builtin("type").get()) return m.any_scalar_class();
    if (origin == m.builtin("list").get() ||
        is_any_attr(a, {"Sequence", "MutableSequence", "Iterable", "Collection"}, origin)) {
        return m.call("lists", {u().get()});
    }
    if (origin == m.builtin("set").get() || is_any_attr(a, {"Set", "MutableSet", "AbstractSet"}, origin)) {
        return m.call("sets", {u().get()});
    }
    if (origin == m.builtin("frozenset").get()) return m.call("frozensets", {u().get()});
    if (origin == m.builtin("dict").get() || is_any_attr(a, {"Mapping", "MutableMapping"}, origin)) {
        py::Ref keys = u();
        py::Ref values = u();
        return m.call("dictionaries", {keys.get(), values.get()});
    }
    if (origin == m.builtin("tuple").get()) {
        return map_with(m.call("lists", {u().get()}).get(), m.builtin("tuple").get());
    }
    if (is_any_attr(a, {"Iterator", "Iterable"}, origin)) {
        return map_with(m.call("lists", {u().get()}).get(), m.builtin("iter").get());
    }
    return {};
}

// type[...]: the class itself, or one of the classes of a union.
py::Ref resolve_type_of(const Mods& m, PyObject* thing, PyObject* a0) {
    py::Ref get_origin = py::getattr(m.typing.get(), "get_origin");
    py::Ref origin = py::call(get_origin.get(), a0);
    if (is_union_origin(m, origin.get())) {
        py::Ref members = get_args(m, a0);
        py::Ref classes = py::new_list();
        for (Py_ssize_t i = 0; i < PyTuple_Size(members.get()); ++i) {
            py::Ref c = resolve_type_arg(m, PyTuple_GetItem(members.get(), i));
            if (!c) return python_from_type(thing);
            py::list_append(classes.get(), c.get());
        }
        return m.call("sampled_from", {classes.get()});
    }
    py::Ref c = resolve_type_arg(m, a0);
    if (!c) return python_from_type(thing);
    return m.call("just", {c.get()});
}

py::Ref resolve_callable(PyObject* args) {
    py::Ref native = import("quorvantis_fast.native_strategies");
    py::Ref kwargs = py::new_dict();
    Py_ssize_t n = PyTuple_Size(args);
    if (n >= 1) {
        PyObject* params = PyTuple_GetItem(args, 0);
        py::Ref like;
        if (PyList_Check(params)) {
            py::Ref arity = py::from_i64(PyList_Size(params));
            like = py::call_method(native.get(), "_arity_callable", arity.get());
        } else {
            like = py::getattr(native.get(), "_any_callable");
        }
        py::dict_set(kwargs.get(), "like", like.get());
    }
    if (n >= 2) {
        py::Ref returns = from_type(PyTuple_GetItem(args, n - 1));
        if (is_native(returns.get())) py::dict_set(kwargs.get(), "returns", returns.get());
    }
    py::Ref functions = py::getattr(native.get(), "functions");
    py::Ref empty = py::tuple_of({});
    return py::call_args(functions.get(), empty.get(), kwargs.get());
}

// The strategy of a type argument: typing.Any stands for any scalar.
py::Ref resolve_argument(const Mods& m, PyObject* arg) {
    py::Ref any = attr_opt(m.typing.get(), "Any");
    if (any && arg == any.get()) return m.any_scalar_union();
    return from_type(arg);
}

// The collection rows for an origin whose arguments resolved to `s`;
// empty when no row applies.
py::Ref collection_of(const Mods& m, PyObject* origin, PyObject* args, const std::vector<py::Ref>& s) {
    const size_t n = s.size();
    auto arg = [&](Py_ssize_t i) { return PyTuple_GetItem(args, i); };

    if (is_union_origin(m, origin)) {
        std::vector<py::Ref> ordered;
        PyObject* none_type = reinterpret_cast<PyObject*>(Py_TYPE(Py_None));
        for (size_t i = 0; i < n; ++i)
            if (arg(static_cast<Py_ssize_t>(i)) == none_type) ordered.push_back(s[i]);
        for (size_t i = 0; i < n; ++i)
            if (arg(static_cast<Py_ssize_t>(i)) != none_type) ordered.push_back(s[i]);
        return m.call_list("one_of", ordered);
    }
    if (n == 1 && origin == m.builtin("list").get()) return m.call("lists", {s[0].get()});
    if (n == 1 && origin == m.builtin("set").get()) {
        return m.call("sets", {filtered_hashable(m, arg(0), s[0].get()).get()});
    }
    if (n == 1 && origin == m.builtin("frozenset").get()) {
        return m.call("frozensets", {filtered_hashable(m, arg(0), s[0].get()).get()});
    }
    if (n == 2 && origin == m.builtin("dict").get()) {
        return m.call("dictionaries", {filtered_hashable(m, arg(0), s[0].get()).get(), s[1].get()});
    }
    if (origin == m.builtin("tuple").get()) return m.call_list("tuples", s);

    if (py::Ref abc = module_opt("collections.abc")) {
        PyObject* a = abc.get();
        if (n == 1 && is_any_attr(a, {"Sequence", "MutableSequence", "Iterable", "Collection",
                                      "Container", "Reversible"}, origin)) {
            py::Ref lists = m.call("lists", {s[0].get()});
            // bytes is a sequence of int, but not a mutable one.
            if (is_attr(a, "MutableSequence", origin) || !int_admissible(m, arg(0))) return lists;
            return m.call("one_of", {lists.get(), m.call("binary").get()});
        }
        if (n == 3 && is_attr(a, "Generator", origin)) {
            py::Ref yields = m.call("lists", {s[0].get()});
            py::Ref pair = m.call("tuples", {yields.get(), s[2].get()});
            py::Ref make = py::import_attr("quorvantis_fast.native_strategies", "_make_generator");
            return map_with(pair.get(), make.get());
        }
        if (n == 1 && is_attr(a, "Iterator", origin)) {
            return map_with(m.call("lists", {s[0].get()}).get(), m.builtin("iter").get());
        }
        if (n == 1 && is_any_attr(a, {"Set", "MutableSet"}, origin)) {
            return m.call("sets", {filtered_hashable(m, arg(0), s[0].get()).get()});
        }
        if (n == 2 && is_any_attr(a, {"Mapping", "MutableMapping"}, origin)) {
            return m.call("dictionaries", {filtered_hashable(m, arg(0), s[0].get()).get(), s[1].get()});
        }
        if (n == 1 && is_attr(a, "KeysView", origin)) {
            py::Ref d = m.call("dictionaries", {s[0].get(), m.call("none").get()});
            return map_with(d.get(), methodcaller("keys").get());
        }
        if (n == 1 && is_attr(a, "ValuesView", origin)) {
            py::Ref d = m.call("dictionaries", {m.call("integers").get(), s[0].get()});
            return map_with(d.get(), methodcaller("values").get());
        }
        if (n == 2 && is_attr(a, "ItemsView", origin)) {
            py::Ref d = m.call("dictionaries", {s[0].get(), s[1].get()});
            return map_with(d.get(), methodcaller("items").get());
        }
    }

    if (py::Ref coll = module_opt("collections")) {
        PyObject* c = coll.get();
        if (n == 1 && is_attr(c, "deque", origin)) {
            return map_with(m.call("lists", {s[0].get()}).get(), origin);
        }
        if (n == 2 && is_attr(c, "OrderedDict", origin)) {
            return map_with(m.call("dictionaries", {s[0].get(), s[1].get()}).get(), origin);
        }
        if (n == 1 && is_attr(c, "Counter", origin)) {
            py::Ref zero = py::from_i64(0);
            py::Ref counts = m.call("integers", {}, kwargs_of("min_value", zero.get()).get());
            return map_with(m.call("dictionaries", {s[0].get(), counts.get()}).get(), origin);
        }
        if (n == 2 && is_attr(c, "defaultdict", origin)) {
            py::Ref partial = py::getattr(import("functools").get(), "partial");
            py::Ref factory = py::call(partial.get(), origin, Py_None);
            return map_with(m.call("dictionaries", {s[0].get(), s[1].get()}).get(), factory.get());
        }
        if (n == 2 && is_attr(c, "ChainMap", origin)) {
            return map_with(m.call("dictionaries", {s[0].get(), s[1].get()}).get(), origin);
        }
    }
    return {};
}

bool has_typevar_argument(const Mods& m, PyObject* args) {
    py::Ref typevar = attr_opt(m.typing.get(), "TypeVar");
    if (!typevar) return false;
    for (Py_ssize_t i = 0; i < PyTuple_Size(args); ++i) {
        if (isinstance_opt(PyTuple_GetItem(args, i), typevar.get())) return true;
    }
    return false;
}

std::string empty_message(PyObject* thing) { return "Error: " + py::repr(thing) + " resolved to an empty strategy"; }

}  // namespace

py::Ref resolve_generic(const Mods& m, PyObject* thing, PyObject* origin) {
    if (py::Ref hook = attr_opt(m.native.get(), "_resolve_generic_subtypes")) {
        py::Ref r = py::call(hook.get(), thing);
        if (r.get() != Py_None) {
            if (is_native(r.get()) && node_is_empty(node_of(r.get()))) {
                return invalid_node(empty_message(thing), true);
            }
            return r;
        }
    }

    py::Ref args = get_args(m, thing);
    const Py_ssize_t n = PyTuple_Size(args.get());
    py::Ref tuple_ref = m.builtin("tuple");
    PyObject* tuple_type = tuple_ref.get();

    if (n == 0) {
        if (origin == tuple_type && attr_opt(thing, "__args__")) {
            py::Ref empty = py::tuple_of({});
            return m.call("just", {empty.get()});
        }
        if (py::Ref s = bare_generic(m, origin)) return s;
    }

    if (is_attr(m.typing.get(), "Literal", origin)) return m.call("sampled_from", {args.get()});
    if (n >= 1 && (is_attr(m.typing.get(), "Final", origin) || is_attr(m.typing.get(), "ClassVar", origin))) {
        return from_type(PyTuple_GetItem(args.get(), 0));
    }
    if (n >= 1 && origin == m.builtin("type").get()) return resolve_type_of(m, thing, PyTuple_GetItem(args.get(), 0));
    if (py::Ref abc = module_opt("collections.abc"); is_attr(abc.get(), "Callable", origin)) {
        return resolve_callable(args.get());
    }

    if (origin == tuple_type) {
        PyObject* a0 = n > 0 ? PyTuple_GetItem(args.get(), 0) : nullptr;
        if (n == 0 || (n == 1 && PyTuple_Check(a0) && PyTuple_Size(a0) == 0)) {
            py::Ref empty = py::tuple_of({});
            return m.call("just", {empty.get()});
        }
        bool variadic = false;
        for (Py_ssize_t i = 0; i < n; ++i) variadic = variadic || PyTuple_GetItem(args.get(), i) == Py_Ellipsis;
        if (variadic) {
            py::Ref element = resolve_argument(m, PyTuple_GetItem(args.get(), 0));
            if (!is_native(element.get())) return python_from_type(thing);
            return map_with(m.call("lists", {element.get()}).get(), tuple_type);
        }
    }

    std::vector<py::Ref> s;
    bool all_native = true;
    for (Py_ssize_t i = 0; i < n; ++i) {
        s.push_back(resolve_argument(m, PyTuple_GetItem(args.get(), i)));
        all_native = all_native && is_native(s.back().get());
    }
    if (!all_native) return python_from_type(thing);
    if (py::Ref r = collection_of(m, origin, args.get(), s)) return r;

    if (py::Ref native = module_opt("quorvantis_fast.native_strategies")) {
        py::Ref registry = attr_opt(native.get(), "_NATIVE_TYPE_REGISTRY");
        if (registry && contains_opt(registry.get(), origin)) {
            py::Ref entry = py::check(PyObject_GetItem(registry.get(), origin));
            if (py::Ref r = resolve_registry_entry(entry.get(), thing)) return r;
        }
    }
    if (is_class(origin) && has_typevar_argument(m, args.get())) {
        return invalid_node(could_not_resolve(py::repr(thing)), true);
    }
    return python_from_type(thing);
}

}  // namespace strategy::typeres
