// Modules by name: the loaded one from sys.modules, else an import, and what
// is reached through one (an attribute, an exception class to raise, the
// namespace of __main__); and the modules that may not be installed (the
// upstream library's helpers), whose failed import is remembered instead of
// being tried again on every call.
#pragma once

#include <string>

#include "py/ref.hpp"

namespace py {

// sys.modules[name] when the module is loaded; an empty Ref when it is not
// (or is blocked there with None). A failing lookup throws.
Ref loaded_module(PyObject* name);

// The module from sys.modules when it is loaded, else imported (a module
// blocked with None fails its import like any other). Failures throw.
Ref import(PyObject* name);
Ref import(const char* name);
// The attribute `name` of the module `module` (imported when not loaded).
Ref import_attr(const char* module, const char* name);
// Import `module`, look up `name` and raise an instance made with `msg`.
// A failing import or lookup is raised instead.
[[noreturn]] void raise_named(const char* module, const char* name, const std::string& msg);
// The same, with the class called on no arguments.
[[noreturn]] void raise_named_noargs(const char* module, const char* name);
// The error (set now) of formatting one of the user's objects for a note or
// a report (its repr, its str): an ordinary exception is taken and returned
// for the caller's fallback text; anything else (an interrupt, an exit, a
// cancellation) is thrown again, marked by quorvantis_fast.formatting.pass_out
// so that the engine lets it end the run at once rather than take it for the
// outcome of the example being formatted.
Ref take_formatting_error();
// builtins.eval of a one-line expression with the namespace of __main__ as
// its globals (the fixed lambda sources the module evaluates).
Ref eval_main(const char* source);

// A module that need not be installed: the module, or an empty Ref (no
// error set) when importing it fails with ImportError. Other errors of the
// import throw. A failed import is not tried again while it would fail the
// same way: until the module or one of its packages changes in sys.modules,
// or sys.path or sys.meta_path change, the answer is "missing" at the cost
// of a few lookups. Once the interpreter exits, nothing is imported any
// more: the answer is the module from sys.modules, or missing.
Ref optional_module(const char* name);
// Remembers the top-level package `package` as missing, as a failed import
// would, when no finder knows it now: its optional modules are then not
// looked for until that could change. Called once the module is imported, so
// that threads started later never race each other through the import
// system for a package that is not there (an import still in progress in a
// daemon thread when the interpreter exits can crash CPython 3.11 and 3.12).
// Asks importlib.util.find_spec, importing importlib.util when it is not
// loaded, and imports nothing else. An ordinary exception is dropped (and
// nothing remembered); an interrupt or exit request is thrown.
void note_missing_package(const char* package);
// Drops the table behind optional_module and note_missing_package, with the
// references it holds (module names, copies of sys.path and sys.meta_path,
// sys.modules entries). The interpreter's exit hook (thread_exit.hpp) calls
// it, so that they are released while the interpreter can still take them
// back. The table is not made again: from then on nothing more is imported
// and only sys.modules is read.
void forget_optional_modules() noexcept;
// The attribute `attr` of an optional module; an empty Ref when the module
// is missing or when its import or the lookup fails with an ordinary
// exception (dropped; an interrupt or exit request is thrown).
Ref optional_attr(const char* module, const char* attr);

}  // namespace py
