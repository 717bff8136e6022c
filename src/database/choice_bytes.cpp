#include "database/choice_bytes.hpp"

#include <bit>
#include <cstring>

namespace database {
namespace {

enum Tag : unsigned { TagBool = 0, TagFloat = 1, TagInt = 2, TagBytes = 3, TagStr = 4 };
constexpr unsigned EXTENDED = 31;

void put_header(std::string& out, unsigned tag, size_t length) {
    if (length < EXTENDED) {
        out.push_back(static_cast<char>(tag << 5 | length));
        return;
    }
    out.push_back(static_cast<char>(tag << 5 | EXTENDED));
    do {
        unsigned char b = length & 0x7F;
        length >>= 7;
        if (length) b |= 0x80;
        out.push_back(static_cast<char>(b));
    } while (length);
}

void put_element(std::string& out, unsigned tag, const char* payload, size_t n) {
    put_header(out, tag, n);
    out.append(payload, n);
}

[[noreturn]] void not_bytes(PyObject* got) { py::raise_cannot_convert(got, "PyBytes"); }

// Payload width of an int: bit_length(|v|) / 8 + 1 bytes.
size_t int_width(uint64_t magnitude) { return static_cast<size_t>(std::bit_width(magnitude)) / 8 + 1; }
size_t int_width(const mpz_class& m) { return mpz_sizeinbase(m.get_mpz_t(), 2) / 8 + 1; }
uint64_t magnitude(int64_t v) {
    return v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

// Big-endian two's complement in int_width bytes.
std::string int_payload_native(PyObject* v) {
    int64_t small;
    if (py::as_i64(v, small)) {
        size_t n = int_width(magnitude(small));  // at most 9
        std::string p(n, '\0');
        const auto u = static_cast<uint64_t>(small);
        for (size_t k = 0; k < n; ++k) {
            unsigned char b = k < 8 ? static_cast<unsigned char>(u >> (8 * k)) : (small < 0 ? 0xFF : 0x00);
            p[n - 1 - k] = static_cast<char>(b);
        }
        return p;
    }
    mpz_class m = py::to_mpz(v);
    size_t n = int_width(m);
    if (m < 0) {
        mpz_class wrap;
        mpz_ui_pow_ui(wrap.get_mpz_t(), 2, 8 * n);
        m += wrap;
    }
    std::string p(n, '\0');
    size_t count = 0;
    // The magnitude fits in n bytes, so the export never writes past p.
    size_t need = (mpz_sizeinbase(m.get_mpz_t(), 2) + 7) / 8;
    if (need > n) py::throw_fault("integer payload wider than its length");
    mpz_export(p.data() + (n - need), &count, 1, 1, 1, 0, m.get_mpz_t());
    return p;
}

std::string int_payload(PyObject* v) {
    if (PyLong_CheckExact(v)) return int_payload_native(v);
    // A subclass encodes through its own to_bytes.
    int64_t small;
    size_t n = py::as_i64(v, small) ? int_width(magnitude(small)) : int_width(py::to_mpz(v));
    py::Ref method = py::getattr(v, "to_bytes");
    py::Ref len = py::from_u64(n);
    py::Ref order = py::str("big");
    py::Ref args = py::tuple_of({len.get(), order.get()});
    py::Ref kwargs = py::new_dict();
    py::dict_set(kwargs.get(), "signed", Py_True);
    py::Ref r = py::call_args(method.get(), args.get(), kwargs.get());
    if (!PyBytes_Check(r.get())) not_bytes(r.get());
    return std::string(PyBytes_AsString(r.get()), static_cast<size_t>(PyBytes_Size(r.get())));
}

// UTF-8 with lone surrogates passed through.
py::Ref str_payload(PyObject* v) {
    if (PyUnicode_CheckExact(v)) {
        return py::check(PyUnicode_AsEncodedString(v, "utf-8", "surrogatepass"));
    }
    py::Ref method = py::getattr(v, "encode");
    py::Ref enc = py::str("utf-8");
    py::Ref args = py::tuple_of({enc.get()});
    py::Ref kwargs = py::new_dict();
    py::Ref handler = py::str("surrogatepass");
    py::dict_set(kwargs.get(), "errors", handler.get());
    py::Ref r = py::call_args(method.get(), args.get(), kwargs.get());
    if (!PyBytes_Check(r.get())) not_bytes(r.get());
    return r;
}

py::Ref decode_int(const unsigned char* p, size_t n) {
    if (n == 0) return py::from_i64(0);
    const bool negative = p[0] & 0x80;
    if (n <= 8) {
        uint64_t u = 0;
        for (size_t k = 0; k < n; ++k) u = u << 8 | p[k];
        if (negative && n < 8) u |= ~uint64_t(0) << (8 * n);
        return py::from_i64(static_cast<int64_t>(u));
    }
    mpz_class m;
    mpz_import(m.get_mpz_t(), n, 1, 1, 1, 0, p);
    if (negative) {
        mpz_class wrap;
        mpz_ui_pow_ui(wrap.get_mpz_t(), 2, 8 * n);
        m -= wrap;
    }
    return py::from_mpz(m);
}

[[noreturn]] void bad(const char* what) { py::raise_value_error(what); }

}  // namespace

void encode_choice(PyObject* v, std::string& out) {
    if (PyBool_Check(v)) {
        out.push_back(v == Py_True ? 0x01 : 0x00);
        return;
    }
    if (PyFloat_Check(v)) {
        double d = PyFloat_AsDouble(v);
        if (d == -1.0 && PyErr_Occurred()) throw py::Err{};
        uint64_t bits = std::bit_cast<uint64_t>(d);
        char p[8];
        for (int k = 0; k < 8; ++k) p[k] = static_cast<char>(bits >> (56 - 8 * k));
        put_element(out, TagFloat, p, 8);
        return;
    }
    if (PyLong_Check(v)) {
        std::string p = int_payload(v);
        put_element(out, TagInt, p.data(), p.size());
        return;
    }
    if (PyBytes_Check(v)) {
        put_element(out, TagBytes, PyBytes_AsString(v), static_cast<size_t>(PyBytes_Size(v)));
        return;
    }
    if (PyUnicode_Check(v)) {
        py::Ref b = str_payload(v);
        put_element(out, TagStr, PyBytes_AsString(b.get()), static_cast<size_t>(PyBytes_Size(b.get())));
        return;
    }
    py::raise_type_error("unhandled choice type");
}

std::string encode_choices(const std::vector<py::Ref>& values) {
    std::string out;
    for (const py::Ref& v : values) encode_choice(v.get(), out);
    return out;
}

std::vector<py::Ref> decode(const unsigned char* data, size_t size) {
    std::vector<py::Ref> values;
    size_t p = 0;
    while (p < size) {
        const unsigned h = data[p++];
        const unsigned tag = h >> 5;
        const unsigned field = h & 31;
        if (tag == TagBool) {
            values.push_back(py::boolean(field != 0));
            continue;
        }
        uint64_t length = field;
        if (field == EXTENDED) {
            if (p >= size) bad("truncated");
            length = 0;
            for (unsigned k = 0; p < size; ++k) {
                const unsigned char b = data[p++];
                length |= uint64_t(b & 0x7F) << ((7 * k) % 64);
                if (!(b & 0x80)) break;
            }
        }
        if (length > size - p) bad("truncated");
        const unsigned char* payload = data + p;
        const auto n = static_cast<size_t>(length);
        py::Ref value;
        switch (tag) {
            case TagBytes:
                value = py::check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(payload),
                                                            static_cast<Py_ssize_t>(n)));
                break;
            case TagStr:
                value = py::check(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(payload),
                                                       static_cast<Py_ssize_t>(n), "surrogatepass"));
                break;
            case TagFloat: {
                if (n != 8) bad("expected float64");
                uint64_t bits = 0;
                for (size_t k = 0; k < 8; ++k) bits = bits << 8 | payload[k];
                value = py::from_double(std::bit_cast<double>(bits));
                break;
            }
            case TagInt:
                value = decode_int(payload, n);
                break;
            default:
                bad("bad tag");
        }
        values.push_back(std::move(value));
        p += n;
    }
    return values;
}

namespace {

PyObject* choices_to_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choices_to_bytes", {"choices"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        py::Ref it = py::check(PyObject_GetIter(a[0]));
        std::string out;
        while (PyObject* item = PyIter_Next(it.get())) {
            py::Ref owned = py::Ref::steal(item);
            encode_choice(item, out);
        }
        py::check_no_error();
        return py::check(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())))
            .release();
    });
}

PyObject* choices_from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choices_from_bytes", {"buffer"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        if (!PyBytes_Check(a[0])) py::raise_arg_cannot_convert(a[0], "buffer", "PyBytes");
        const auto* data = reinterpret_cast<const unsigned char*>(PyBytes_AsString(a[0]));
        std::vector<py::Ref> values;
        try {
            values = decode(data, static_cast<size_t>(PyBytes_Size(a[0])));
        } catch (const py::Err&) {
            py::drop_exception();
            return py::none().release();
        }
        return py::tuple_from_refs(values).release();
    });
}

PyMethodDef defs[] = {
    {"choices_to_bytes", QF_FASTCALL(choices_to_bytes), METH_FASTCALL | METH_KEYWORDS,
     "choices_to_bytes(choices)\n--\n\n"
     "Serialise a choice sequence into the database byte format."},
    {"choices_from_bytes", QF_FASTCALL(choices_from_bytes), METH_FASTCALL | METH_KEYWORDS,
     "choices_from_bytes(buffer)\n--\n\n"
     "Parse the database byte format back into a tuple of choices; None when the bytes\n"
     "do not decode."},
};

}  // namespace

void register_byte_functions(PyObject* module) {
    for (auto& d : defs) py::add_function(module, &d);
}

}  // namespace database
