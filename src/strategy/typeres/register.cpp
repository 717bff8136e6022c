// The Python functions from_type and _resolve_abstract.
#include "strategy/typeres/typeres.hpp"

namespace {

PyObject* from_type_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"from_type", {"thing"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return strategy::typeres::from_type(a[0]).release();
    });
}

PyObject* resolve_abstract_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"_resolve_abstract", {"thing"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return strategy::typeres::resolve_abstract(a[0]).release();
    });
}

}  // namespace

namespace strategy::defs {
PyMethodDef from_type = {
    "from_type", QF_FASTCALL(from_type_fn), METH_FASTCALL | METH_KEYWORDS,
    "from_type(thing)\n--\n\n"
    "A strategy for values of the type or typing construct ``thing``.\n\n"
    "Registered strategies win; abstract classes are resolved when first drawn."};
PyMethodDef _resolve_abstract = {
    "_resolve_abstract", QF_FASTCALL(resolve_abstract_fn), METH_FASTCALL | METH_KEYWORDS,
    "_resolve_abstract(thing)\n--\n\n"
    "The strategy of an abstract class from its registered or concrete subclasses\n"
    "(cached for the rest of the run)."};
}  // namespace strategy::defs
