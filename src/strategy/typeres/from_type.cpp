// The entry of type resolution with its recursion guard, and the fixed chain
// of tests that runs before generic aliases and classes.
#include <charconv>
#include <cstdio>
#include <string>

#include "data/tls.hpp"
#include "strategy/guards.hpp"
#include "strategy/node_queries.hpp"
#include "strategy/object.hpp"
#include "strategy/typeres/common.hpp"
#include "strategy/typeres/typeres.hpp"

namespace strategy::typeres {
namespace {

const char* const ANY_MESSAGE =
    "Could not resolve typing.Any to a strategy, because there is no such thing as a runtime "
    "instance of typing.Any. Consider using an explicit type, or register_type_strategy.";
const char* const UNION_MESSAGE =
    "Could not resolve typing.Union to a strategy; a bare Union is not a concrete type. Use "
    "Union[A, B, ...] with concrete members.";

// `deferred(partial(from_type, thing))`: resolves once the outer resolution
// of the same thing has finished.
py::Ref lazy_from_type(PyObject* thing) {
    py::Ref engine = import("quorvantis_fast._engine");
    py::Ref self = py::getattr(engine.get(), "from_type");
    py::Ref partial = py::getattr(import("functools").get(), "partial");
    py::Ref definition = py::call(partial.get(), self.get(), thing);
    py::Ref deferred = py::getattr(engine.get(), "deferred");
    return py::call(deferred.get(), definition.get());
}

// The innermost active resolution frame of this thread.
thread_local ResolutionFrame* innermost_frame = nullptr;

// The strategy cache key of a thing's own resolution: "T" and its identity
// in hex. A builds() key starts with a lowercase hex digit, so the two never
// meet.
std::string self_key(PyObject* thing) {
    char buf[1 + 2 * sizeof(uintptr_t)] = {'T'};
    auto end = std::to_chars(buf + 1, buf + sizeof buf, reinterpret_cast<uintptr_t>(thing), 16).ptr;
    return std::string(buf, end);
}

// What the run keeps for a thing on a cycle: the pair (thing, strategy), or
// (thing, None) while only its lazy references exist (note_cyclic). Holding
// the thing keeps its identity, and so the key, from naming another object.
struct Kept {
    py::Ref strategy;
    bool cyclic = false;
};

Kept kept_resolution(PyObject* thing) {
    py::Ref entry = data::builds_strategy_get(self_key(thing));
    if (!entry || !PyTuple_Check(entry.get()) || PyTuple_Size(entry.get()) != 2) return {};
    if (PyTuple_GetItem(entry.get(), 0) != thing) return {};
    PyObject* strategy = PyTuple_GetItem(entry.get(), 1);
    if (strategy == Py_None) return {{}, true};
    return {py::Ref::borrow(strategy), true};
}

void keep_resolution(PyObject* thing, PyObject* strategy) {
    data::builds_strategy_put(self_key(thing), py::tuple_of({thing, strategy}));
}

// The registry, when the module has one.
py::Ref registry_of(const Mods& m) { return attr_opt(m.native.get(), "_NATIVE_TYPE_REGISTRY"); }

// registry[key] when the key is in it (a failing test counts as absent).
py::Ref registered(PyObject* registry, PyObject* key) {
    if (!registry || !contains_opt(registry, key)) return {};
    return py::check(PyObject_GetItem(registry, key));
}

// A forward reference: evaluated in the namespace of `typing`; what does not
// evaluate goes to the Python-level resolver.
py::Ref resolve_forward_ref(const Mods& m, PyObject* thing) {
    py::Ref arg = attr_opt(thing, "__forward_arg__");
    if (!arg) return python_from_type(thing);
    py::Ref eval = m.builtin("eval");
    py::Ref ns = py::getattr(m.typing.get(), "__dict__");
    if (!PyDict_Check(ns.get())) py::raise_cannot_convert(ns.get(), "PyDict");
    py::Ref globals = py::check(PyDict_Copy(ns.get()));
    PyObject* value = PyObject_CallFunctionObjArgs(eval.get(), arg.get(), globals.get(), nullptr);
    if (!value) {
        py::drop_exception();
        return python_from_type(thing);
    }
    py::Ref owned = py::Ref::steal(value);
    return from_type(owned.get());
}

// The first strategy among the metadata of an annotated type, or empty.
py::Ref strategy_in_metadata(PyObject* metadata) {
    if (!PyTuple_Check(metadata)) return {};
    py::Ref items = py::Ref::borrow(metadata);
    for (Py_ssize_t i = 0; i < PyTuple_Size(items.get()); ++i) {
        PyObject* item = PyTuple_GetItem(items.get(), i);
        if (is_native(item)) return py::Ref::borrow(item);
        if (!attr_truthy(item, "__is_annotated_types_grouped_metadata__")) continue;
        PyObject* it = PyObject_GetIter(item);
        if (!it) {
            py::drop_exception();
            continue;
        }
        py::Ref iter = py::Ref::steal(it);
        while (PyObject* x = PyIter_Next(iter.get())) {
            py::Ref element = py::Ref::steal(x);
            if (is_native(element.get())) return element;
        }
        py::drop_exception();  // a group that fails part-way is passed over
    }
    return {};
}

// The text as a double-quoted literal with backslash escapes.
std::string quoted(PyObject* text) {
    std::string s;
    if (text && PyUnicode_Check(text)) {
        Py_ssize_t n = 0;
        if (const char* p = PyUnicode_AsUTF8AndSize(text, &n)) s.assign(p, static_cast<size_t>(n));
        else py::drop_exception();
    }
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char buf[12];
                std::snprintf(buf, sizeof buf, "\\u{%x}", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// isinstance(o, typing.ForwardRef), with every failure raised.
bool is_forward_ref(PyObject* o) {
    py::Ref cls = py::import_attr("typing", "ForwardRef");
    int r = PyObject_IsInstance(o, cls.get());
    if (r < 0) throw py::Err{};
    return r == 1;
}

// The bound of a type variable, written as a forward reference, evaluated in
// the namespace of the module that defined the variable; empty when it
// cannot be.
py::Ref eval_forward_ref_in_module(PyObject* typevar, PyObject* ref) {
    py::Ref arg = attr_opt(ref, "__forward_arg__");
    py::Ref modname = attr_opt(typevar, "__module__");
    if (!arg || !modname || modname.get() == Py_None) return {};
    py::Ref modules = py::getattr(import("sys").get(), "modules");
    PyObject* mod = PyObject_GetItem(modules.get(), modname.get());
    if (!mod) {
        py::drop_exception();
        return {};
    }
    py::Ref owned = py::Ref::steal(mod);
    py::Ref ns = attr_opt(mod, "__dict__");
    if (!ns) return {};
    py::Ref eval = py::getattr(import("builtins").get(), "eval");
    PyObject* value = PyObject_CallFunctionObjArgs(eval.get(), arg.get(), ns.get(), nullptr);
    if (!value) py::drop_exception();
    return py::Ref::steal(value);
}

py::Ref resolve_typevar(const Mods& m, PyObject* thing, PyObject* typevar_class) {
    // A strategy registered for every type variable.
    py::Ref registry = registry_of(m);
    if (py::Ref entry = registered(registry.get(), typevar_class)) {
        if (py::Ref s = resolve_registry_entry(entry.get(), thing)) return s;
        py::Ref text = py::check(PyObject_Str(thing));
        return invalid_node(could_not_resolve(py::utf8(text.get())), true);
    }
    py::Ref bound = attr_opt(thing, "__bound__");
    if (bound && bound.get() != Py_None) {
        if (!is_forward_ref(bound.get())) return from_type(bound.get());
        if (py::Ref value = eval_forward_ref_in_module(thing, bound.get())) return from_type(value.get());
        if (py::Ref native = module_opt("quorvantis_fast.native_strategies")) {
            py::Ref reg = attr_opt(native.get(), "_NATIVE_TYPE_REGISTRY");
            if (py::Ref entry = registered(reg.get(), bound.get())) {
                if (py::Ref s = resolve_registry_entry(entry.get(), bound.get())) return s;
            }
        }
        py::Ref arg = attr_opt(bound.get(), "__forward_arg__");
        return invalid_node("Could not resolve ForwardRef(" + quoted(arg.get()) +
                                ") to a type. Consider register_type_strategy to register a "
                                "strategy for this forward reference.",
                            true);
    }
    py::Ref constraints = attr_opt(thing, "__constraints__");
    if (constraints && PyTuple_Check(constraints.get()) && PyTuple_Size(constraints.get()) > 0) {
        // one_of draws a strategy of another library through the record, so a
        // registered foreign strategy keeps the draws within the constraints.
        std::vector<py::Ref> options;
        for (Py_ssize_t i = 0; i < PyTuple_Size(constraints.get()); ++i) {
            options.push_back(from_type(PyTuple_GetItem(constraints.get(), i)));
        }
        return m.call_list("one_of", options);
    }
    // Unconstrained: one type drawn per test case and variable, shared by
    // every use of the variable, then a value of that type.
    py::Ref sampled = m.any_scalar_class();
    py::Ref shared = SearchStrategy::wrap(kinds::Shared{"typevar=" + repr_or_empty(thing), std::move(sampled)});
    py::Ref expand = py::getattr(m.engine.get(), "from_type");
    return SearchStrategy::wrap(kinds::FlatMap{std::move(shared), std::move(expand)});
}

struct TableRow {
    const char* module;
    const char* cls;
    const char* ctor_module;
    const char* ctor;
};

const TableRow SCALAR_TYPES[] = {
    {"builtins", "complex", "quorvantis_fast.native_strategies", "complex_numbers"},
    {"decimal", "Decimal", "quorvantis_fast.native_strategies", "decimals"},
    {"fractions", "Fraction", "quorvantis_fast._engine", "fractions"},
    {"datetime", "datetime", "quorvantis_fast._engine", "datetimes"},
    {"datetime", "date", "quorvantis_fast._engine", "dates"},
    {"datetime", "time", "quorvantis_fast._engine", "times"},
    {"datetime", "timedelta", "quorvantis_fast._engine", "timedeltas"},
    {"uuid", "UUID", "quorvantis_fast._engine", "uuids"},
};

}  // namespace

ResolutionFrame::ResolutionFrame(PyObject* thing)
    : guard_(InProgressGuard::enter(reinterpret_cast<uintptr_t>(thing))), thing_(thing) {
    if (!guard_.active()) return;
    outer_ = innermost_frame;
    innermost_frame = this;
}

ResolutionFrame::~ResolutionFrame() {
    if (guard_.active()) innermost_frame = outer_;
}

py::Ref ResolutionFrame::lazy() {
    if (!lazy_) lazy_ = lazy_from_type(thing_);
    return lazy_;
}

py::Ref ResolutionFrame::reference(PyObject* thing) {
    ResolutionFrame* own = innermost_frame;
    while (own && own->thing_ != thing) own = own->outer_;
    if (!own) return lazy_from_type(thing);
    // Each resolution running inside the thing's own leads back to it.
    for (ResolutionFrame* f = innermost_frame; f != own; f = f->outer_) f->on_cycle_ = true;
    return own->lazy();
}

void note_cyclic(PyObject* target) {
    if (!kept_resolution(target).cyclic) keep_resolution(target, Py_None);
}

py::Ref from_type(PyObject* thing) {
    py::RecursionGuard depth(" while resolving a type");
    Kept kept = kept_resolution(thing);
    if (kept.strategy) return kept.strategy;
    if (in_progress(InProgress::FromType, reinterpret_cast<uintptr_t>(thing))) {
        return ResolutionFrame::reference(thing);
    }
    ResolutionFrame frame(thing);
    py::Ref result = from_type_impl(thing);
    // A class on a cycle through an outer resolution is handed out as its
    // lazy reference, which finds the kept result when drawn.
    const bool link = frame.on_cycle() && PyType_Check(thing);
    if (kept.cyclic || link || frame.referenced()) keep_resolution(thing, result.get());
    return link ? frame.lazy() : result;
}

py::Ref from_type_impl(PyObject* thing) {
    Mods m = Mods::load();

    py::Ref registry = registry_of(m);
    if (py::Ref entry = registered(registry.get(), thing)) {
        if (py::Ref s = resolve_registry_entry(entry.get(), thing)) return s;
    }

    if (thing != Py_None) {
        if (py::Ref supertype = attr_opt(thing, "__supertype__")) return from_type(supertype.get());
    }

    py::Ref forward_ref = attr_opt(m.typing.get(), "ForwardRef");
    if (forward_ref && isinstance_opt(thing, forward_ref.get())) return resolve_forward_ref(m, thing);

    if (thing != Py_None) {
        if (py::Ref metadata = attr_opt(thing, "__metadata__")) {
            if (py::Ref s = strategy_in_metadata(metadata.get())) return s;
            if (py::Ref origin = attr_opt(thing, "__origin__")) return from_type(origin.get());
        }
    }

    if (thing == Py_None || thing == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) return m.call("none");
    py::Ref any = attr_opt(m.typing.get(), "Any");
    if (any && thing == any.get()) return invalid_node(ANY_MESSAGE, false);
    py::Ref union_form = attr_opt(m.typing.get(), "Union");
    if (union_form && thing == union_form.get()) return invalid_node(UNION_MESSAGE, false);
    if (thing == m.builtin("object").get()) return m.any_scalar_union();

    // A class is a value of `type`: one of the scalar classes.
    if (thing == m.builtin("type").get()) return m.any_scalar_class();
    if (thing == m.builtin("list").get()) return m.call("lists", {m.any_scalar_union().get()});
    if (thing == m.builtin("set").get()) return m.call("sets", {m.any_scalar_union().get()});
    if (thing == m.builtin("frozenset").get()) return m.call("frozensets", {m.any_scalar_union().get()});
    if (thing == m.builtin("dict").get()) {
        py::Ref keys = m.any_scalar_union();
        py::Ref values = m.any_scalar_union();
        return m.call("dictionaries", {keys.get(), values.get()});
    }

    static const std::pair<const char*, const char*> SCALARS[] = {
        {"bool", "booleans"}, {"int", "integers"}, {"float", "floats"}, {"str", "text"}, {"bytes", "binary"}};
    for (const auto& [type_name, ctor] : SCALARS) {
        if (thing == m.builtin(type_name).get()) return m.call(ctor);
    }

    for (const TableRow& row : SCALAR_TYPES) {
        py::Ref mod = module_opt(row.module);
        py::Ref cls = mod ? attr_opt(mod.get(), row.cls) : py::Ref();
        if (!cls || cls.get() != thing) continue;
        py::Ref ctor = py::getattr(import(row.ctor_module).get(), row.ctor);
        return py::call(ctor.get());
    }

    for (const char* name : {"bytearray", "memoryview"}) {
        py::Ref t = m.builtin(name);
        if (thing == t.get()) return py::call_method(m.call("binary").get(), "map", t.get());
    }
    for (const char* name : {"range", "slice"}) {
        py::Ref t = m.builtin(name);
        if (thing == t.get()) return py::call_method(m.call("integers").get(), "map", t.get());
    }

    for (const char* name : {"ExceptionGroup", "BaseExceptionGroup"}) {
        py::Ref group = attr_opt(m.builtins.get(), name);
        if (!group || thing != group.get()) continue;
        py::Ref message = m.call("text");
        py::Ref exception = m.builtin("Exception");
        py::Ref member = m.call("builds", {exception.get()});
        py::Ref kwargs = py::new_dict();
        py::Ref one = py::from_i64(1);
        py::dict_set(kwargs.get(), "min_size", one.get());
        py::Ref members = m.call("lists", {member.get()}, kwargs.get());
        return m.call("builds", {thing, message.get(), members.get()});
    }

    if (py::Ref typevar = attr_opt(m.typing.get(), "TypeVar")) {
        int r = PyObject_IsInstance(thing, typevar.get());
        if (r < 0) throw py::Err{};
        if (r == 1) return resolve_typevar(m, thing, typevar.get());
    }

    {
        py::Ref issubclass = attr_opt(m.builtins.get(), "issubclass");
        py::Ref isinstance = attr_opt(m.builtins.get(), "isinstance");
        py::Ref type = attr_opt(m.builtins.get(), "type");
        py::Ref enum_mod = module_opt("enum");
        py::Ref enum_cls = enum_mod ? attr_opt(enum_mod.get(), "Enum") : py::Ref();
        if (issubclass && isinstance && type && enum_cls) {
            if (call_truthy_opt(isinstance.get(), thing, type.get()) &&
                call_truthy_opt(issubclass.get(), thing, enum_cls.get())) {
                py::Ref members = py::check(PySequence_List(thing));
                return m.call("sampled_from", {members.get()});
            }
        }
    }

    py::Ref get_origin = py::getattr(m.typing.get(), "get_origin");
    py::Ref origin = py::call(get_origin.get(), thing);
    if (origin.get() != Py_None) return resolve_generic(m, thing, origin.get());
    return resolve_class(m, thing);
}

}  // namespace strategy::typeres
