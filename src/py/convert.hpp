// Conversions between Python objects and C++ values, calls and container
// helpers, argument conversion and parsing worded like CPython's own
// errors, and Python ints as GMP integers.
#pragma once

#include <gmpxx.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "py/ref.hpp"

namespace py {

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
Ref getattr(PyObject* o, const char* name);
// Attribute lookup that answers an empty Ref (error cleared) when the
// attribute is missing; other errors propagate.
Ref getattr_opt(PyObject* o, const char* name);
Ref call(PyObject* callable);
Ref call(PyObject* callable, PyObject* a);
Ref call(PyObject* callable, PyObject* a, PyObject* b);
Ref call_args(PyObject* callable, PyObject* tuple, PyObject* kwargs = nullptr);
Ref call_method(PyObject* o, const char* name);
Ref call_method(PyObject* o, const char* name, PyObject* a);
Ref tuple_of(std::initializer_list<PyObject*> items);   // borrowed items
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

// Argument parsing, worded like CPython's own errors.
//
//   static const py::Sig sig{"run_native", {"test", "strategies", "max_examples"}, 2};
//   auto a = sig.parse<3>(args, nargs, kwnames);   // a[i] borrowed, NULL when absent
struct Sig {
    const char* func;
    std::initializer_list<const char*> names;  // all parameters, in order
    int n_required;           // the first n_required positional are required
    int n_positional = -1;    // positional-or-keyword count (-1: all of them)
    int n_required_kwonly = 0;  // the first n of the keyword-only ones are required

    void parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const;
    // The same into an array of N, which must be the number of names.
    template <size_t N>
    std::array<PyObject*, N> parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
        if (names.size() != N) throw_fault(std::string(func) + ": parameter count does not match its names");
        std::array<PyObject*, N> out{};
        parse(args, nargs, kwnames, out.data());
        return out;
    }
    // For METH_VARARGS | METH_KEYWORDS entry points (tp_init, tp_new).
    void parse_tuple(PyObject* args, PyObject* kwargs, PyObject** out) const;
};

// Big integers.
// Python int -> mpz (any size; 64-bit fast path, hex otherwise). Non-int
// objects go through __index__.
void to_mpz(PyObject* o, mpz_class& out);
mpz_class to_mpz(PyObject* o);
// mpz -> Python int.
Ref from_mpz(const mpz_class& v);
// True and sets `out` when o is an int that fits in int64.
bool as_i64(PyObject* o, int64_t& out);

}  // namespace py

// A METH_FASTCALL | METH_KEYWORDS function as a PyMethodDef's ml_meth.
#define QF_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))
// Signature of such a function.
#define QF_FASTCALL_ARGS PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames
