#include "py/modules.hpp"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "py/convert.hpp"
#include "py/errors.hpp"
#include "py/thread_exit.hpp"

namespace py {
namespace {

// One module asked for through optional_module. Entries are only touched
// with the interpreter lock held. A call keeps the entries it uses alive
// while it runs: its import lets other threads in, and the interpreter's
// exit may drop the table meanwhile (forget_optional_modules).
struct Optional {
    std::string text;
    Ref name;   // the full name, interned
    Ref names;  // the names of its packages and its own: "a", "a.b", "a.b.c"
    std::shared_ptr<Optional> top;  // the entry of its top-level package ("a"); empty for "a" itself
    // Empty, or what the last failed import depended on, as it stood then:
    // (copy of sys.path, copy of sys.meta_path, sys.modules entry of each of
    // `names`, `names` itself standing for a missing entry). While every item
    // is still the same object, the import would fail again.
    Ref failure;
};
using Entry = std::shared_ptr<Optional>;

// The entries made so far, until the interpreter exits. Never destroyed with
// the process: that would drop references after the interpreter has gone.
std::vector<Entry>& table() {
    static auto* entries = new std::vector<Entry>();
    return *entries;
}

Entry make_entry(const char* text) {
    Ref name = check(PyUnicode_InternFromString(text));
    std::vector<Ref> parts;
    for (const char* dot = std::strchr(text, '.'); dot; dot = std::strchr(dot + 1, '.')) {
        parts.push_back(check(PyUnicode_FromStringAndSize(text, dot - text)));
    }
    parts.push_back(name);
    return std::make_shared<Optional>(Optional{std::string(text), name, tuple_from_refs(parts), nullptr, Ref()});
}

Entry entry_for(const char* text) {
    for (const Entry& e : table()) {
        if (e->text == text) return e;
    }
    const char* dot = std::strchr(text, '.');
    Entry top = dot ? entry_for(std::string(text, dot).c_str()) : nullptr;
    Entry e = make_entry(text);
    e->top = std::move(top);
    // Making it can run Python code (a collection), meanwhile the interpreter
    // may have begun to exit: the entry then serves this call only.
    if (!interpreter_exiting()) table().push_back(e);
    return e;
}

// A copy of the list sys.<attr> as a tuple; None when sys has no such
// attribute; an empty Ref when it is not a list (nothing to compare later).
Ref sys_list_copy(const char* attr) {
    PyObject* now = PySys_GetObject(attr);
    if (!now) return Ref::borrow(Py_None);
    if (!PyList_Check(now)) return Ref();
    return check(PyList_AsTuple(now));
}

bool same_list(const char* attr, PyObject* copy) {
    PyObject* now = PySys_GetObject(attr);
    if (copy == Py_None) return now == nullptr;
    if (!now || !PyList_Check(now)) return false;
    const Py_ssize_t n = PyList_Size(now);
    if (n != PyTuple_Size(copy)) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyList_GetItem(now, i) != PyTuple_GetItem(copy, i)) return false;
    }
    return true;
}

// sys.modules[name] (borrowed), or `missing` when there is no such entry.
PyObject* modules_entry(PyObject* modules, PyObject* name, PyObject* missing) {
    PyObject* v = PyDict_GetItemWithError(modules, name);
    if (!v) {
        check_no_error();
        return missing;
    }
    return v;
}

bool still_fails(const Optional& e) {
    Ref failure = e.failure;
    PyObject* f = failure.get();
    if (!same_list("path", PyTuple_GetItem(f, 0)) || !same_list("meta_path", PyTuple_GetItem(f, 1))) return false;
    PyObject* modules = PyImport_GetModuleDict();
    if (!PyDict_Check(modules)) return false;
    PyObject* names = e.names.get();
    const Py_ssize_t n = PyTuple_Size(names);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (modules_entry(modules, PyTuple_GetItem(names, i), names) != PyTuple_GetItem(f, 2 + i)) return false;
    }
    return true;
}

// What the failed import depended on (see Optional::failure); an empty Ref
// when sys.path or sys.meta_path is not a list, so nothing is remembered.
Ref failure_state(const Optional& e) {
    Ref path = sys_list_copy("path");
    Ref meta_path = sys_list_copy("meta_path");
    PyObject* modules = PyImport_GetModuleDict();
    if (!path || !meta_path || !PyDict_Check(modules)) return Ref();
    PyObject* names = e.names.get();
    const Py_ssize_t n = PyTuple_Size(names);
    Ref state = check(PyTuple_New(2 + n));
    PyTuple_SetItem(state.get(), 0, path.release());
    PyTuple_SetItem(state.get(), 1, meta_path.release());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* v = modules_entry(modules, PyTuple_GetItem(names, i), names);
        PyTuple_SetItem(state.get(), 2 + i, Ref::borrow(v).release());
    }
    return state;
}

}  // namespace

Ref loaded_module(PyObject* name) {
    Ref m = Ref::steal(PyImport_GetModule(name));
    if (!m) check_no_error();
    if (m.get() == Py_None) return Ref();
    return m;
}

Ref import(PyObject* name) {
    if (Ref m = loaded_module(name)) return m;
    return check(PyImport_Import(name));
}

Ref import(const char* name) {
    Ref text = check(PyUnicode_FromString(name));
    return import(text.get());
}

Ref import_attr(const char* module, const char* name) {
    Ref m = import(module);
    return getattr(m.get(), name);
}

[[noreturn]] void raise_named(const char* module, const char* name, const std::string& msg) {
    Ref cls = import_attr(module, name);
    Ref text = str(msg);
    Ref exc = call(cls.get(), text.get());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw Err{};
}

[[noreturn]] void raise_named_noargs(const char* module, const char* name) {
    Ref cls = import_attr(module, name);
    Ref exc = call(cls.get());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw Err{};
}

Ref take_formatting_error() {
    Ref error = fetch_error();
    if (!error) throw Err{};
    return call(import_attr("quorvantis_fast.formatting", "pass_out").get(), error.get());
}

Ref eval_main(const char* source) {
    Ref main = import("__main__");
    Ref globals = Ref::borrow(PyModule_GetDict(main.get()));
    Ref eval = import_attr("builtins", "eval");
    Ref text = str(source);
    return check(PyObject_CallFunctionObjArgs(eval.get(), text.get(), globals.get(), nullptr));
}

Ref optional_module(const char* name) {
    if (interpreter_exiting()) {
        // No import any more: daemon threads may still run here, and an
        // import in one of them while the interpreter exits can crash it.
        Ref text = check(PyUnicode_FromString(name));
        return loaded_module(text.get());
    }
    Entry e = entry_for(name);
    if (Ref m = loaded_module(e->name.get())) return m;
    if (e->failure && still_fails(*e)) return Ref();
    if (e->top && e->top->failure && still_fails(*e->top)) return Ref();
    // The import lets other threads in: the entry may change meanwhile, and
    // the last thread to finish leaves its answer.
    if (PyObject* m = PyImport_Import(e->name.get())) {
        e->failure = Ref();
        return Ref::steal(m);
    }
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw Err{};
    PyErr_Clear();
    e->failure = failure_state(*e);
    return Ref();
}

void note_missing_package(const char* package) {
    try {
        Entry e = entry_for(package);
        if (e->failure || loaded_module(e->name.get())) return;
        Ref util = import("importlib.util");
        Ref find_spec = getattr(util.get(), "find_spec");
        Ref spec = call(find_spec.get(), e->name.get());
        if (spec.get() == Py_None) e->failure = failure_state(*e);
    } catch (const Err&) {
        drop_exception();  // nothing remembered: its modules are looked for when asked for
    }
}

void forget_optional_modules() noexcept {
    // Taken out first: dropping the entries can run Python code that asks
    // for an optional module again.
    std::vector<Entry> dropped;
    dropped.swap(table());
}

Ref optional_attr(const char* module, const char* attr) {
    PyObject* r = nullptr;
    try {
        Ref m = optional_module(module);
        if (!m) return Ref();
        r = PyObject_GetAttrString(m.get(), attr);
    } catch (const Err&) {
    }
    if (!r) drop_exception();
    return Ref::steal(r);
}

}  // namespace py
