// Python functions float_to_lex, lex_to_float and is_simple.
#include "floats/floats.hpp"
#include "py/py.hpp"
#include "registry.hpp"

namespace {

PyObject* float_to_lex_py(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"float_to_lex", {"f"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        double f = py::arg_f64(a[0], "f");
        return py::from_u64(floats::float_to_lex(f)).release();
    });
}

PyObject* lex_to_float_py(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"lex_to_float", {"i"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        uint64_t i = py::arg_u64(a[0], "i");
        return py::from_double(floats::lex_to_float_rs(i)).release();
    });
}

PyObject* is_simple_py(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"is_simple", {"f"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        double f = py::arg_f64(a[0], "f");
        return py::boolean(floats::is_simple(f)).release();
    });
}

PyMethodDef defs[] = {
    {"float_to_lex", QF_FASTCALL(float_to_lex_py), METH_FASTCALL | METH_KEYWORDS,
     "float_to_lex(f)\n--\n\nThe lexicographic position of the magnitude of f: simpler floats get "
     "smaller positions."},
    {"lex_to_float", QF_FASTCALL(lex_to_float_py), METH_FASTCALL | METH_KEYWORDS,
     "lex_to_float(i)\n--\n\nThe non-negative float at lexicographic position i (0 <= i < 2**64)."},
    {"is_simple", QF_FASTCALL(is_simple_py), METH_FASTCALL | METH_KEYWORDS,
     "is_simple(f)\n--\n\nWhether f is an integral, finite float of magnitude below 2**56."},
};

}  // namespace

namespace reg {
void float_functions(PyObject* m) {
    for (auto& d : defs) py::add_function(m, &d);
}
}  // namespace reg
