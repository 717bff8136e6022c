// Helpers shared by the parts of the type-resolution chain.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "py/py.hpp"
#include "strategy/errors.hpp"

namespace strategy::typeres {

// The modules every resolution step works with.
struct Mods {
    py::Ref engine;    // quorvantis_fast._engine
    py::Ref builtins;
    py::Ref typing;
    py::Ref native;    // quorvantis_fast.native_strategies

    static Mods load();
    // A builtin that must exist (a failed read throws).
    py::Ref builtin(const char* name) const { return py::getattr(builtins.get(), name); }
    // `_engine.NAME(*args, **kwargs)`.
    py::Ref call(const char* name, std::initializer_list<PyObject*> args = {},
                 PyObject* kwargs = nullptr) const;
    py::Ref call_list(const char* name, const std::vector<py::Ref>& args) const;
    // one_of(none(), booleans(), integers(), floats(), text()).
    py::Ref any_scalar_union() const;
    // sampled_from([NoneType, bool, int, float, str, bytes]).
    py::Ref any_scalar_class() const;
};

// The module from sys.modules, imported when it is not there yet.
using py::import;
// The module, or empty when it cannot be imported (error cleared).
py::Ref module_opt(const char* name);

// Probes that count any exception as a negative answer (error cleared).
py::Ref attr_opt(PyObject* o, const char* name);
bool truthy_opt(PyObject* o);
bool attr_truthy(PyObject* o, const char* name);
bool isinstance_opt(PyObject* o, PyObject* cls);
bool contains_opt(PyObject* container, PyObject* item);
bool is_class(PyObject* o);  // isinstance(o, type), errors false
// f(a) or f(a, b) is truthy; a failing call or truth test is false.
bool call_truthy_opt(PyObject* f, PyObject* a, PyObject* b = nullptr);

// `callable(*args, **kwargs)`.
py::Ref call_with(PyObject* callable, const std::vector<py::Ref>& args, PyObject* kwargs = nullptr);

// A native strategy: SearchStrategy or a subclass instance.
bool is_native(PyObject* o);
// A strategy for the registry: native, or any object with `do_draw`.
bool is_strategy_like(PyObject* o);

// A new strategy with an Invalid node carrying `message`.
py::Ref invalid_node(std::string message, bool resolution_failure);
// "Could not resolve {} to a strategy; consider using register_type_strategy"
std::string could_not_resolve(std::string_view what);

// quorvantis_fast.strategies.from_type(thing): the Python-level resolver.
py::Ref python_from_type(PyObject* thing);

// Generic aliases (typing.get_origin(thing) is `origin`, not None).
py::Ref resolve_generic(const Mods& m, PyObject* thing, PyObject* origin);
// Classes and everything else whose origin is None.
py::Ref resolve_class(const Mods& m, PyObject* thing);

}  // namespace strategy::typeres
