// The serialized size of a recorded value whose size the draw did not
// already know (a replayed or forced value).
#include "data/sizes.hpp"

namespace data {

namespace {

bool int_payload(PyObject* v, uint64_t& out) {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (!overflow) {
        if (x == -1 && PyErr_Occurred()) return false;
        out = i64_payload(x);
        return true;
    }
    mpz_class m;
    try {
        py::to_mpz(v, m);
    } catch (const py::Err&) {
        return false;
    }
    out = mpz_sizeinbase(m.get_mpz_t(), 2) / 8 + 1;
    return true;
}

bool str_payload(PyObject* v, uint64_t& out) {
    if (PyUnicode_CheckExact(v)) {
        Py_ssize_t n;
        if (PyUnicode_AsUTF8AndSize(v, &n)) {
            out = static_cast<uint64_t>(n);
            return true;
        }
        py::drop_exception();
        py::Ref b = py::Ref::steal(PyUnicode_AsEncodedString(v, "utf-8", "surrogatepass"));
        if (!b) return false;
        out = static_cast<uint64_t>(PyBytes_Size(b.get()));
        return true;
    }
    // A subclass encodes through its own method.
    PyObject* encode = PyObject_GetAttrString(v, "encode");
    if (!encode) return false;
    py::Ref owner = py::Ref::steal(encode);
    PyObject* args = Py_BuildValue("(s)", "utf-8");
    if (!args) return false;
    py::Ref a = py::Ref::steal(args);
    PyObject* kw = Py_BuildValue("{s:s}", "errors", "surrogatepass");
    if (!kw) return false;
    py::Ref k = py::Ref::steal(kw);
    py::Ref b = py::Ref::steal(PyObject_Call(encode, args, kw));
    if (!b) return false;
    Py_ssize_t n = PyObject_Size(b.get());
    if (n < 0) return false;
    out = static_cast<uint64_t>(n);
    return true;
}

}  // namespace

uint64_t serialized_size(PyObject* v) {
    uint64_t payload = 0;
    bool ok = true;
    if (PyBool_Check(v)) {
        payload = 0;
    } else if (PyLong_Check(v)) {
        ok = int_payload(v, payload);
    } else if (PyFloat_Check(v)) {
        payload = 8;
    } else if (PyUnicode_Check(v)) {
        ok = str_payload(v, payload);
    } else if (PyBytes_Check(v)) {
        payload = static_cast<uint64_t>(PyBytes_Size(v));
    } else {
        ok = false;
    }
    if (!ok) {
        py::drop_exception();
        return 1;
    }
    return with_header(payload);
}

}  // namespace data
