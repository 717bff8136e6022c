// The one layer that owns every PyObject*.
//
// Error convention inside the module: a function that fails with a Python
// error set throws `py::Err` (nothing else is carried: the error lives in the
// interpreter). Every entry point CPython calls is wrapped by `py::guard`,
// which turns `py::Err` into a NULL/-1 return, std::bad_alloc into
// MemoryError and any other C++ exception into the internal fault. No C++
// exception ever crosses into CPython.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace py {

// A Python error is set; unwind to the boundary.
struct Err {};

// A broken invariant. Raised to Python as the internal-fault exception.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void throw_fault(const std::string& text);

// ---------------------------------------------------------------------------
// Owned reference.
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~Ref() { Py_XDECREF(p_); }
    Ref& operator=(const Ref& o) noexcept {
        if (this != &o) {
            PyObject* old = p_;
            p_ = o.p_;
            Py_XINCREF(p_);
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            PyObject* old = p_;
            p_ = o.p_;
            o.p_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }

    // Take ownership of a new reference (may be NULL).
    static Ref steal(PyObject* p) noexcept { Ref r; r.p_ = p; return r; }
    // Add a reference to a borrowed pointer (may be NULL).
    static Ref borrow(PyObject* p) noexcept { Py_XINCREF(p); return steal(p); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Give the reference away (to CPython, or to a container that steals).
    PyObject* release() noexcept { PyObject* p = p_; p_ = nullptr; return p; }
    // A new reference for returning to CPython, keeping ours.
    PyObject* newref() const noexcept { Py_XINCREF(p_); return p_; }
    void reset() noexcept { PyObject* old = p_; p_ = nullptr; Py_XDECREF(old); }

private:
    PyObject* p_ = nullptr;
};

// Throw Err if p is NULL, else own it.
inline Ref check(PyObject* p) {
    if (!p) throw Err{};
    return Ref::steal(p);
}
inline void check_rc(int rc) {
    if (rc < 0) throw Err{};
}
// True if a Python error is set; throws Err in that case when asked to.
inline void check_no_error() {
    if (PyErr_Occurred()) throw Err{};
}

// ---------------------------------------------------------------------------
// Raising.
[[noreturn]] void raise(PyObject* exc_type, const std::string& msg);
[[noreturn]] void raise_type_error(const std::string& msg);
[[noreturn]] void raise_value_error(const std::string& msg);
[[noreturn]] void raise_overflow_error(const std::string& msg);
// Import `module`, look up `name` and raise an instance made with `msg`.
// A failing import or lookup is raised instead.
[[noreturn]] void raise_named(const char* module, const char* name, const std::string& msg);
// The same, with the class called on no arguments.
[[noreturn]] void raise_named_noargs(const char* module, const char* name);
// Look a class up in each module in turn; the first that has it wins.
// Returns an empty Ref (and no error set) when none has it.
Ref lookup_class(std::initializer_list<const char*> modules, const char* name);

// The internal-fault exception class (derived directly from BaseException).
PyObject* fault_type();
void set_fault(const std::string& text);

// Translate the current C++ exception (inside a catch) into a Python error.
void translate_current_exception() noexcept;

// Run f at the boundary; on failure return `fail` with the error set.
template <class F>
inline std::invoke_result_t<F> guard(std::type_identity_t<std::invoke_result_t<F>> fail, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        translate_current_exception();
        return fail;
    }
}

// ---------------------------------------------------------------------------
// Small conversions.
Ref str(std::string_view s);                 // new str from UTF-8
std::string utf8(PyObject* s);               // str -> UTF-8 (throws)
// A str (or subclass) as UTF-8; nothing, with no error set, when `o` is not
// a str or holds a lone surrogate.
std::optional<std::string> utf8_opt(PyObject* o);
std::string repr(PyObject* o);               // repr() as UTF-8
std::string type_name(PyObject* o);          // type(o).__name__
std::string type_name_or_empty(PyObject* o);  // the same, "" when unreadable; never fails
Ref from_i64(int64_t v);
Ref from_u64(uint64_t v);
Ref from_double(double v);
inline Ref none() { return Ref::borrow(Py_None); }
inline Ref boolean(bool b) { return Ref::borrow(b ? Py_True : Py_False); }
Ref import(const char* module);
Ref getattr(PyObject* o, const char* name);
// Attribute lookup that answers an empty Ref (error cleared) when the
// attribute is missing; other errors propagate.
Ref getattr_opt(PyObject* o, const char* name);
Ref import_attr(const char* module, const char* name);
Ref call(PyObject* callable);
Ref call(PyObject* callable, PyObject* a);
Ref call(PyObject* callable, PyObject* a, PyObject* b);
Ref call_args(PyObject* callable, PyObject* tuple, PyObject* kwargs = nullptr);
Ref call_method(PyObject* o, const char* name);
Ref call_method(PyObject* o, const char* name, PyObject* a);
Ref tuple_of(std::initializer_list<PyObject*> items);   // borrowed items
// builtins.eval of a one-line expression with the namespace of __main__ as
// its globals (the fixed lambda sources the module evaluates).
Ref eval_main(const char* source);
Ref new_list(Py_ssize_t n = 0);
// A new list or tuple of the items, in order (the vector keeps its references).
Ref list_from_refs(const std::vector<Ref>& items);
Ref tuple_from_refs(const std::vector<Ref>& items);
void list_append(PyObject* list, PyObject* item);
Ref new_dict();
void dict_set(PyObject* d, const char* key, PyObject* v);
// Borrowed lookup, NULL when absent; a lookup error throws.
PyObject* dict_get(PyObject* d, const char* key);
PyObject* dict_get(PyObject* d, PyObject* key);
bool truthy(PyObject* o);
// `o` itself when it is an int, else o.__index__(), kept alive by `hold`.
inline PyObject* index_of(PyObject* o, Ref& hold) {
    if (PyLong_Check(o)) return o;
    hold = check(PyNumber_Index(o));
    return hold.get();
}
// Is the current error an instance of `type`?
inline bool error_matches(PyObject* type) { return PyErr_ExceptionMatches(type) != 0; }
// Drop the current error of a call whose failure only means "no answer":
// an ordinary Exception is cleared; an interrupt or exit request (any other
// BaseException) is kept and thrown.
inline void drop_exception() {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw Err{};
    PyErr_Clear();
}

// Conversions with the module's argument-error wording: a TypeError raised
// by the conversion is re-raised as "argument '{name}': {message}"; other
// errors (OverflowError) pass unchanged.
uint64_t arg_u64(PyObject* o, const char* name);
int64_t arg_i64(PyObject* o, const char* name);
// The host's C long conversion (its own OverflowError wording).
long arg_long(PyObject* o, const char* name);
uint32_t arg_u32(PyObject* o, const char* name);
uint8_t arg_u8(PyObject* o, const char* name);
double arg_f64(PyObject* o, const char* name);
bool arg_bool(PyObject* o, const char* name);
std::string arg_str(PyObject* o, const char* name);
// "'{}' object cannot be converted to '{}'"
[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target);
// "argument '{name}': '{}' object cannot be converted to '{target}'"
[[noreturn]] void raise_arg_cannot_convert(PyObject* o, const char* name, const char* target);
// Inside a failed conversion of argument `name` (a Python error set): a
// TypeError becomes "argument '{name}': {message}"; other errors pass. Throws.
[[noreturn]] void rethrow_argument_error(const char* name);

// ---------------------------------------------------------------------------
// Argument parsing, worded like CPython's own errors.
//
//   static const py::Sig sig{"run_native", {"test", "strategies", "max_examples"}, 2};
//   PyObject* a[3];
//   sig.parse(args, nargs, kwnames, a);   // a[i] borrowed, NULL when absent
struct Sig {
    const char* func;
    std::initializer_list<const char*> names;  // all parameters, in order
    int n_required;           // the first n_required positional are required
    int n_positional = -1;    // positional-or-keyword count (-1: all of them)
    int n_required_kwonly = 0;  // the first n of the keyword-only ones are required

    void parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const;
    // For METH_VARARGS | METH_KEYWORDS entry points (tp_init, tp_new).
    void parse_tuple(PyObject* args, PyObject* kwargs, PyObject** out) const;
};

// ---------------------------------------------------------------------------
// Big integers.
}  // namespace py

#include <gmpxx.h>

namespace py {
// Python int -> mpz (any size; 64-bit fast path, hex otherwise). Non-int
// objects go through __index__.
void to_mpz(PyObject* o, mpz_class& out);
mpz_class to_mpz(PyObject* o);
// mpz -> Python int.
Ref from_mpz(const mpz_class& v);
// True and sets `out` when o is an int that fits in int64.
bool as_i64(PyObject* o, int64_t& out);

// ---------------------------------------------------------------------------
// Heap types.
//
// Objects of the module's classes that carry an instance __dict__ start with
// this header. They never take part in cyclic GC (a Python subclass is GC
// tracked by CPython; the base's dealloc copes with that).
struct DictObject {
    PyObject_HEAD
    PyObject* dict;
};

// Free an object of a heap type: release its type reference as heap types
// must. Call at the end of every tp_dealloc.
void free_object(PyObject* self);

// Create a heap type from a spec, optionally with a base.
Ref make_type(PyType_Spec* spec, PyObject* base = nullptr);

// Allocate an instance of `type` (tp_alloc); fields zeroed.
PyObject* alloc(PyTypeObject* type);

// Register the function `def` on `module` under its name and add it to
// __all__.
void add_function(PyObject* module, PyMethodDef* def);
// Add a type object to `module` under `name` and to __all__.
void add_type(PyObject* module, const char* name, PyObject* type);

// ---------------------------------------------------------------------------
// Interpreter recursion check around recursion that follows user data.
//
// From CPython 3.12 on, the interpreter's limit on native recursion no longer
// follows sys.getrecursionlimit() and can allow more levels than a thread's
// stack holds for our frames. The guard therefore also counts its own levels
// against sys.getrecursionlimit(), as 3.11 does, and refuses to go on once the
// thread's own stack is nearly spent.
bool native_stack_nearly_exhausted();
[[noreturn]] void raise_native_stack_exhausted(const char* where);
extern thread_local int native_depth;

class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) {
        if (native_depth >= Py_GetRecursionLimit() || native_stack_nearly_exhausted()) {
            raise_native_stack_exhausted(where);
        }
        if (Py_EnterRecursiveCall(where)) throw Err{};
        ++native_depth;
    }
    ~RecursionGuard() {
        --native_depth;
        Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

// Save the current exception (if any) and restore it on scope exit.
class ErrorStash {
public:
    ErrorStash() { PyErr_Fetch(&t_, &v_, &tb_); }
    ~ErrorStash() { PyErr_Restore(t_, v_, tb_); }
    ErrorStash(const ErrorStash&) = delete;
    ErrorStash& operator=(const ErrorStash&) = delete;

private:
    PyObject *t_, *v_, *tb_;
};

// Fetch the current error as an owned (normalised) exception instance.
Ref fetch_error();
// Set the error from an exception instance (steals nothing).
void restore_error(PyObject* exc);

}  // namespace py

// Wrap an entry point body: `QF_ENTRY(nullptr, { ... return x.release(); })`.
#define QF_ENTRY(fail, ...) return ::py::guard(fail, [&]() -> PyObject* __VA_ARGS__)

// A METH_FASTCALL | METH_KEYWORDS function as a PyMethodDef's ml_meth.
#define QF_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))
// Signature of such a function.
#define QF_FASTCALL_ARGS PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames

namespace py {
// An interned Python str made once on first use, for attribute and key names
// on hot paths: `static py::Name k_draw{"draw"};` then `k_draw.get()`
// (borrowed; throws Err when the str cannot be made).
class Name {
public:
    constexpr explicit Name(const char* text) : text_(text) {}
    PyObject* get() {
        if (!obj_) {
            obj_ = PyUnicode_InternFromString(text_);
            if (!obj_) throw Err{};
        }
        return obj_;
    }

private:
    const char* text_;
    PyObject* obj_ = nullptr;
};
}  // namespace py
