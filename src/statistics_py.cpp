// The module functions stdtr, stdtrit, integers_dist_cdf and
// integers_dist_inverse_cdf.
#include "py/py.hpp"
#include "registry.hpp"
#include "statistics.hpp"

namespace statistics {

namespace {

// The series behind stdtr takes about df / 2 steps when t * t / df is small,
// so a df of 2**62 would never return; beyond this bound (seconds of work)
// the functions refuse instead of hanging. The engine itself uses df 2.
constexpr int64_t MAX_DF = 2147483647;

// f(df, v) with df converted to a C long and v to a double.
PyObject* call_with_df(double (*f)(int64_t, double), const py::Sig& sig, const char* vname,
                       PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        auto a = sig.parse<2>(args, nargs, kwnames);
        const int64_t df = py::arg_long(a[0], "df");
        const double v = py::arg_f64(a[1], vname);
        if (df > MAX_DF) {
            py::raise_value_error("df=" + std::to_string(df) + " is too large: at most " +
                                  std::to_string(MAX_DF) + " degrees of freedom are supported");
        }
        return py::from_double(f(df, v)).release();
    });
}

// f(v) on the integer size distribution.
PyObject* call_on_distribution(double (Piecewise::*f)(double) const, const py::Sig& sig,
                               const char* vname, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        auto a = sig.parse<1>(args, nargs, kwnames);
        const double v = py::arg_f64(a[0], vname);
        return py::from_double((integers_distribution().*f)(v)).release();
    });
}

PyObject* py_stdtr(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const py::Sig sig{"stdtr", {"df", "t"}, 2};
    return call_with_df(stdtr, sig, "t", args, nargs, kwnames);
}

PyObject* py_stdtrit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const py::Sig sig{"stdtrit", {"df", "p"}, 2};
    return call_with_df(stdtrit, sig, "p", args, nargs, kwnames);
}

PyObject* py_integers_dist_cdf(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    static const py::Sig sig{"integers_dist_cdf", {"x"}, 1};
    return call_on_distribution(&Piecewise::cdf, sig, "x", args, nargs, kwnames);
}

PyObject* py_integers_dist_inverse_cdf(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    static const py::Sig sig{"integers_dist_inverse_cdf", {"u"}, 1};
    return call_on_distribution(&Piecewise::inverse_cdf, sig, "u", args, nargs, kwnames);
}

PyMethodDef defs[] = {
    {"stdtr", QF_FASTCALL(py_stdtr), METH_FASTCALL | METH_KEYWORDS,
     "stdtr(df, t)\n--\n\nStudent-t cumulative distribution function with df degrees of freedom."},
    {"stdtrit", QF_FASTCALL(py_stdtrit), METH_FASTCALL | METH_KEYWORDS,
     "stdtrit(df, p)\n--\n\nStudent-t quantile: the t at which stdtr(df, t) is p."},
    {"integers_dist_cdf", QF_FASTCALL(py_integers_dist_cdf), METH_FASTCALL | METH_KEYWORDS,
     "integers_dist_cdf(x)\n--\n\nCDF of the distribution that integer choices are drawn from."},
    {"integers_dist_inverse_cdf", QF_FASTCALL(py_integers_dist_inverse_cdf),
     METH_FASTCALL | METH_KEYWORDS,
     "integers_dist_inverse_cdf(u)\n--\n\nInverse CDF of the integer size distribution."},
};

}  // namespace

}  // namespace statistics

namespace reg {
void statistics_functions(PyObject* m) {
    for (auto& d : statistics::defs) py::add_function(m, &d);
}
}  // namespace reg
