#include "strategy/typeres/common.hpp"

#include "strategy/check_strategy.hpp"
#include "strategy/object.hpp"

namespace strategy::typeres {

py::Ref module_opt(const char* name) {
    try {
        return import(name);
    } catch (const py::Err&) {
        py::drop_exception();
        return {};
    }
}

Mods Mods::load() {
    Mods m;
    m.engine = import("quorvantis_fast._engine");
    m.builtins = import("builtins");
    m.typing = import("typing");
    m.native = import("quorvantis_fast.native_strategies");
    return m;
}

py::Ref call_with(PyObject* callable, const std::vector<py::Ref>& args, PyObject* kwargs) {
    py::Ref t = py::check(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    for (size_t i = 0; i < args.size(); ++i) {
        PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), args[i].newref());
    }
    return py::call_args(callable, t.get(), kwargs);
}

py::Ref Mods::call(const char* name, std::initializer_list<PyObject*> args, PyObject* kwargs) const {
    py::Ref f = py::getattr(engine.get(), name);
    py::Ref t = py::tuple_of(args);
    return py::call_args(f.get(), t.get(), kwargs);
}

py::Ref Mods::call_list(const char* name, const std::vector<py::Ref>& args) const {
    py::Ref f = py::getattr(engine.get(), name);
    return call_with(f.get(), args);
}

py::Ref Mods::any_scalar_union() const {
    py::Ref none = call("none");
    py::Ref booleans = call("booleans");
    py::Ref integers = call("integers");
    py::Ref floats = call("floats");
    py::Ref text = call("text");
    return call("one_of", {none.get(), booleans.get(), integers.get(), floats.get(), text.get()});
}

py::Ref Mods::any_scalar_class() const {
    py::Ref classes = py::new_list();
    py::list_append(classes.get(), reinterpret_cast<PyObject*>(Py_TYPE(Py_None)));
    for (const char* name : {"bool", "int", "float", "str", "bytes"}) py::list_append(classes.get(), builtin(name).get());
    return call("sampled_from", {classes.get()});
}

py::Ref attr_opt(PyObject* o, const char* name) {
    PyObject* r = PyObject_GetAttrString(o, name);
    if (!r) py::drop_exception();
    return py::Ref::steal(r);
}

bool truthy_opt(PyObject* o) {
    int r = PyObject_IsTrue(o);
    if (r < 0) py::drop_exception();
    return r == 1;
}

bool attr_truthy(PyObject* o, const char* name) {
    py::Ref v = attr_opt(o, name);
    return v && truthy_opt(v.get());
}

bool isinstance_opt(PyObject* o, PyObject* cls) {
    int r = PyObject_IsInstance(o, cls);
    if (r < 0) py::drop_exception();
    return r == 1;
}

bool contains_opt(PyObject* container, PyObject* item) {
    int r = PySequence_Contains(container, item);
    if (r < 0) py::drop_exception();
    return r == 1;
}

bool is_class(PyObject* o) { return isinstance_opt(o, reinterpret_cast<PyObject*>(&PyType_Type)); }

bool call_truthy_opt(PyObject* f, PyObject* a, PyObject* b) {
    PyObject* r = PyObject_CallFunctionObjArgs(f, a, b, nullptr);
    if (!r) {
        py::drop_exception();
        return false;
    }
    py::Ref owned = py::Ref::steal(r);
    return truthy_opt(r);
}


bool is_native(PyObject* o) { return is_search_strategy(o); }

bool is_strategy_like(PyObject* o) {
    return is_native(o) || has_do_draw(o);
}

py::Ref invalid_node(std::string message, bool resolution_failure) {
    return SearchStrategy::wrap(kinds::Invalid{std::move(message), resolution_failure});
}

std::string could_not_resolve(std::string_view what) {
    return "Could not resolve " + std::string(what) +
           " to a strategy; consider using register_type_strategy";
}

py::Ref python_from_type(PyObject* thing) {
    py::Ref f = py::import_attr("quorvantis_fast.strategies", "from_type");
    return py::call(f.get(), thing);
}

}  // namespace strategy::typeres
