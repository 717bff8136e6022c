#include "py/convert.hpp"

#include <cstring>
#include <vector>

#include "py/errors.hpp"

namespace py {

Ref str(std::string_view s) {
    return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

std::string utf8(PyObject* s) {
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(s, &n);
    if (!p) throw Err{};
    return std::string(p, static_cast<size_t>(n));
}

std::optional<std::string> utf8_opt(PyObject* o) {
    if (!PyUnicode_Check(o)) return std::nullopt;
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(o, &n);
    if (!p) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(p, static_cast<size_t>(n));
}

std::string repr(PyObject* o) {
    Ref r = check(PyObject_Repr(o));
    return utf8(r.get());
}

std::string type_name(PyObject* o) {
    Ref n = check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__"));
    return utf8(n.get());
}

std::string type_name_or_empty(PyObject* o) {
    PyObject* n = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__");
    if (!n) {
        PyErr_Clear();
        return {};
    }
    std::string out;
    Py_ssize_t len = 0;
    const char* p = PyUnicode_Check(n) ? PyUnicode_AsUTF8AndSize(n, &len) : nullptr;
    if (p) out.assign(p, static_cast<size_t>(len));
    else PyErr_Clear();
    Py_DECREF(n);
    return out;
}

Ref from_i64(int64_t v) { return check(PyLong_FromLongLong(v)); }
Ref from_u64(uint64_t v) { return check(PyLong_FromUnsignedLongLong(v)); }
Ref from_double(double v) { return check(PyFloat_FromDouble(v)); }

Ref getattr(PyObject* o, const char* name) { return check(PyObject_GetAttrString(o, name)); }

Ref getattr_opt(PyObject* o, const char* name) {
    PyObject* r = PyObject_GetAttrString(o, name);
    if (!r) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return Ref();
        }
        throw Err{};
    }
    return Ref::steal(r);
}

Ref call(PyObject* callable) { return check(PyObject_CallNoArgs(callable)); }
Ref call(PyObject* callable, PyObject* a) {
    return check(PyObject_CallFunctionObjArgs(callable, a, nullptr));
}
Ref call(PyObject* callable, PyObject* a, PyObject* b) {
    return check(PyObject_CallFunctionObjArgs(callable, a, b, nullptr));
}
Ref call_args(PyObject* callable, PyObject* tuple, PyObject* kwargs) {
    return check(PyObject_Call(callable, tuple, kwargs));
}
Ref call_method(PyObject* o, const char* name) {
    Ref m = getattr(o, name);
    return call(m.get());
}
Ref call_method(PyObject* o, const char* name, PyObject* a) {
    Ref m = getattr(o, name);
    return call(m.get(), a);
}

Ref tuple_of(std::initializer_list<PyObject*> items) {
    Ref t = check(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t i = 0;
    for (PyObject* it : items) {
        Py_INCREF(it);
        PyTuple_SetItem(t.get(), i++, it);
    }
    return t;
}

Ref new_list(Py_ssize_t n) { return check(PyList_New(n)); }

Ref list_from_refs(const std::vector<Ref>& items) {
    Ref list = new_list(static_cast<Py_ssize_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), items[i].newref());
    }
    return list;
}

Ref tuple_from_refs(const std::vector<Ref>& items) {
    Ref t = check(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    for (size_t i = 0; i < items.size(); ++i) {
        PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), items[i].newref());
    }
    return t;
}
void list_append(PyObject* list, PyObject* item) { check_rc(PyList_Append(list, item)); }
Ref new_dict() { return check(PyDict_New()); }
void dict_set(PyObject* d, const char* key, PyObject* v) {
    check_rc(PyDict_SetItemString(d, key, v));
}
PyObject* dict_get(PyObject* d, const char* key) {
    Ref k = str(key);
    return dict_get(d, k.get());
}
PyObject* dict_get(PyObject* d, PyObject* key) {
    PyObject* v = PyDict_GetItemWithError(d, key);
    if (!v && PyErr_Occurred()) throw Err{};
    return v;
}

bool truthy(PyObject* o) {
    int r = PyObject_IsTrue(o);
    if (r < 0) throw Err{};
    return r != 0;
}

namespace {
// Re-raise a TypeError from a conversion as "argument '{name}': {message}".
[[noreturn]] void rethrow_conversion(const char* name) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        Ref exc = fetch_error();
        std::string msg;
        PyObject* s = PyObject_Str(exc.get());
        if (s) {
            Py_ssize_t n = 0;
            const char* p = PyUnicode_AsUTF8AndSize(s, &n);
            if (p) msg.assign(p, static_cast<size_t>(n));
            else PyErr_Clear();
            Py_DECREF(s);
        } else {
            drop_exception();  // an interrupt or exit request is the error instead
        }
        PyErr_Format(PyExc_TypeError, "argument '%s': %s", name, msg.c_str());
    }
    throw Err{};
}
}  // namespace

uint64_t arg_u64(PyObject* o, const char* name) {
    if (!PyLong_Check(o)) {
        Ref idx = Ref::steal(PyNumber_Index(o));
        if (!idx) rethrow_conversion(name);
        return arg_u64(idx.get(), name);
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            int sign = PyObject_RichCompareBool(o, Ref::steal(PyLong_FromLong(0)).get(), Py_LT);
            if (sign == 1) PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
            else PyErr_SetString(PyExc_OverflowError, "int too big to convert");
        }
        rethrow_conversion(name);
    }
    return v;
}

int64_t arg_i64(PyObject* o, const char* name) {
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) rethrow_conversion(name);
    return v;
}

long arg_long(PyObject* o, const char* name) {
    long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) rethrow_conversion(name);
    return v;
}

uint32_t arg_u32(PyObject* o, const char* name) {
    uint64_t v = arg_u64(o, name);
    if (v > UINT32_MAX) raise_overflow_error("out of range integral type conversion attempted");
    return static_cast<uint32_t>(v);
}

uint8_t arg_u8(PyObject* o, const char* name) {
    uint64_t v = arg_u64(o, name);
    if (v > UINT8_MAX) raise_overflow_error("out of range integral type conversion attempted");
    return static_cast<uint8_t>(v);
}

double arg_f64(PyObject* o, const char* name) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) rethrow_conversion(name);
    return v;
}

bool arg_bool(PyObject* o, const char* name) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyBool'",
                 type_name(o).c_str());
    rethrow_conversion(name);
}

std::string arg_str(PyObject* o, const char* name) {
    if (!PyUnicode_Check(o)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyString'",
                     type_name(o).c_str());
        rethrow_conversion(name);
    }
    return utf8(o);
}

[[noreturn]] void rethrow_argument_error(const char* name) { rethrow_conversion(name); }

[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target) {
    raise_type_error("'" + type_name(o) + "' object cannot be converted to '" + target + "'");
}

[[noreturn]] void raise_arg_cannot_convert(PyObject* o, const char* name, const char* target) {
    raise_type_error(std::string("argument '") + name + "': '" + type_name(o) +
                     "' object cannot be converted to '" + target + "'");
}

// ---------------------------------------------------------------------------
// Argument parsing

namespace {
std::string join_names(const std::vector<const char*>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() > 2 ? ", " : " ";
        if (i > 0 && i + 1 == names.size()) out += "and ";
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

[[noreturn]] void missing(const Sig& s, const std::vector<const char*>& names, bool kwonly) {
    std::string msg = std::string(s.func) + "() missing " + std::to_string(names.size()) +
                      " required " + (kwonly ? "keyword-only" : "positional") + " argument" +
                      (names.size() == 1 ? "" : "s") + ": " + join_names(names);
    raise_type_error(msg);
}
}  // namespace

void Sig::parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const {
    const int total = static_cast<int>(names.size());
    const int npos = n_positional < 0 ? total : n_positional;
    const char* const* nm = names.begin();
    for (int i = 0; i < total; ++i) out[i] = nullptr;
    if (nargs > npos) {
        std::string msg = std::string(func) + "() takes ";
        if (n_required < npos) {
            msg += "from " + std::to_string(n_required) + " to " + std::to_string(npos);
        } else {
            msg += std::to_string(npos);
        }
        msg += std::string(" positional argument") + (npos == 1 && n_required >= npos ? "" : "s") +
               " but " + std::to_string(nargs) + (nargs == 1 ? " was" : " were") + " given";
        raise_type_error(msg);
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames) {
        Py_ssize_t nk = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < nk; ++k) {
            PyObject* key = PyTuple_GetItem(kwnames, k);
            std::string ks = utf8(key);
            int found = -1;
            for (int i = 0; i < total; ++i) {
                if (ks == nm[i]) {
                    found = i;
                    break;
                }
            }
            if (found < 0) {
                raise_type_error(std::string(func) + "() got an unexpected keyword argument '" +
                                 ks + "'");
            }
            if (out[found]) {
                raise_type_error(std::string(func) + "() got multiple values for argument '" +
                                 ks + "'");
            }
            out[found] = args[nargs + k];
        }
    }
    std::vector<const char*> miss;
    for (int i = 0; i < n_required && i < npos; ++i) {
        if (!out[i]) miss.push_back(nm[i]);
    }
    if (!miss.empty()) missing(*this, miss, false);
    for (int i = npos; i < npos + n_required_kwonly && i < total; ++i) {
        if (!out[i]) miss.push_back(nm[i]);
    }
    if (!miss.empty()) missing(*this, miss, true);
}

void Sig::parse_tuple(PyObject* args, PyObject* kwargs, PyObject** out) const {
    Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    Py_ssize_t nkw = kwargs ? PyDict_Size(kwargs) : 0;
    std::vector<PyObject*> flat(static_cast<size_t>(nargs + nkw));
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[static_cast<size_t>(i)] = PyTuple_GetItem(args, i);
    Ref kwnames;
    if (nkw > 0) {
        kwnames = check(PyTuple_New(nkw));
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_INCREF(key);
            PyTuple_SetItem(kwnames.get(), k, key);
            flat[static_cast<size_t>(nargs + k)] = value;
            ++k;
        }
    }
    parse(flat.data(), nargs, kwnames.get(), out);
}

// Big integers

bool as_i64(PyObject* o, int64_t& out) {
    if (!PyLong_Check(o)) return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow) return false;
    if (v == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    out = v;
    return true;
}

void to_mpz(PyObject* o, mpz_class& out) {
    Ref owned;
    o = index_of(o, owned);
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (!overflow) {
        if (v == -1 && PyErr_Occurred()) throw Err{};
        if (v >= LONG_MIN && v <= LONG_MAX) {
            out = static_cast<long>(v);
        } else {
            mpz_set_si(out.get_mpz_t(), 0);
            mpz_import(out.get_mpz_t(), 1, 1, sizeof(v), 0, 0, &v);
        }
        return;
    }
    // Hexadecimal text is exempt from the interpreter's digit limit.
    Ref hex = check(PyNumber_ToBase(o, 16));
    std::string s = utf8(hex.get());
    bool neg = !s.empty() && s[0] == '-';
    const char* digits = s.c_str() + (neg ? 3 : 2);  // skip "-0x" / "0x"
    if (mpz_set_str(out.get_mpz_t(), digits, 16) != 0) throw_fault("bad hex from int");
    if (neg) mpz_neg(out.get_mpz_t(), out.get_mpz_t());
}

mpz_class to_mpz(PyObject* o) {
    mpz_class r;
    to_mpz(o, r);
    return r;
}

Ref from_mpz(const mpz_class& v) {
    if (mpz_fits_slong_p(v.get_mpz_t())) return check(PyLong_FromLong(mpz_get_si(v.get_mpz_t())));
    size_t n = mpz_sizeinbase(v.get_mpz_t(), 16);
    std::string buf(n + 2, '\0');
    mpz_get_str(buf.data(), 16, v.get_mpz_t());
    buf.resize(std::strlen(buf.c_str()));
    return check(PyLong_FromString(buf.c_str(), nullptr, 16));
}

}  // namespace py
