// Raising, dropping and carrying Python errors, and the boundary where a
// C++ exception becomes one.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <type_traits>

#include "py/ref.hpp"

namespace py {

// Raising.
[[noreturn]] void raise(PyObject* exc_type, const std::string& msg);
[[noreturn]] void raise_type_error(const std::string& msg);
[[noreturn]] void raise_value_error(const std::string& msg);
[[noreturn]] void raise_overflow_error(const std::string& msg);

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

// Throws when the current error is an interrupt or exit request (any
// BaseException that is not an Exception), leaving it set; nothing happens
// for an ordinary Exception or when no error is set. For code that handles
// an ordinary failure its own way (a fallback text, the unraisable hook).
inline void pass_interrupt() {
    PyObject* type = PyErr_Occurred();
    if (type && !PyErr_GivenExceptionMatches(type, PyExc_Exception)) throw Err{};
}

// Drop the current error of a call whose failure only means "no answer":
// an ordinary Exception is cleared; an interrupt or exit request (any other
// BaseException) is kept and thrown. Nothing happens when no error is set.
// The one way to drop an error outside this layer.
inline void drop_exception() {
    pass_interrupt();
    PyErr_Clear();
}
// f()'s result, or nullopt when f threw with a Python error that only means
// "no answer", which is dropped as drop_exception drops it.
template <class F>
inline std::optional<std::invoke_result_t<F>> unless_error(F&& f) {
    try {
        return f();
    } catch (const Err&) {
        drop_exception();
        return std::nullopt;
    }
}
// Drop whatever error is set, an interrupt or exit request included. Only
// for code that has no caller to hand an error to: destructors, functions
// that must not fail (noexcept), and reads made while another error is held
// pending (ErrorStash).
inline void discard_error() noexcept { PyErr_Clear(); }

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
