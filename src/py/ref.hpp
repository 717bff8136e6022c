// Owned references: the C API with the module's settings, `py::Ref`, the
// two C++ exceptions that carry a failure to the boundary, interned names
// and the interpreter lock for thread teardown.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdexcept>
#include <string>

namespace py {

// A Python error is set; unwind to the boundary.
struct Err {};

// A broken invariant. Raised to Python as the internal-fault exception.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void throw_fault(const std::string& text);

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

// Drops the reference a C struct field owns (may be NULL) and empties the
// field first, as a deallocator or a clear slot must.
inline void clear_field(PyObject*& field) noexcept { Py_CLEAR(field); }

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
