#include "py/errors.hpp"

namespace py {

[[noreturn]] void throw_fault(const std::string& text) { throw Fault(text); }

PyObject* fault_type() {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "quorvantis_fast._engine.InternalFault",
            "A broken invariant inside the native engine.", PyExc_BaseException, nullptr);
    }
    return type;
}

void set_fault(const std::string& text) {
    PyObject* t = fault_type();
    if (!t) return;  // creating the class failed: that error stays set
    PyErr_SetString(t, text.c_str());
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const Err&) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "error return without exception set");
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const Fault& f) {
        set_fault(f.what());
    } catch (const std::exception& e) {
        set_fault(e.what());
    } catch (...) {
        set_fault("unknown native error");
    }
}

[[noreturn]] void raise(PyObject* exc_type, const std::string& msg) {
    PyErr_SetString(exc_type, msg.c_str());
    throw Err{};
}
[[noreturn]] void raise_type_error(const std::string& msg) { raise(PyExc_TypeError, msg); }
[[noreturn]] void raise_value_error(const std::string& msg) { raise(PyExc_ValueError, msg); }
[[noreturn]] void raise_overflow_error(const std::string& msg) { raise(PyExc_OverflowError, msg); }

Ref fetch_error() {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    if (!t) return Ref();
    PyErr_NormalizeException(&t, &v, &tb);
    if (tb && v) PyException_SetTraceback(v, tb);
    Py_XDECREF(t);
    Py_XDECREF(tb);
    return Ref::steal(v);
}

void restore_error(PyObject* exc) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    Py_INCREF(type);
    Py_INCREF(exc);
    PyErr_Restore(type, exc, PyException_GetTraceback(exc));
}

}  // namespace py
