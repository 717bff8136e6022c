// recursive() and the can_hash predicate.
#include <algorithm>
#include <cmath>

#include "strategy/object.hpp"

namespace strategy {
namespace {

// The nesting depth for at most max_leaves leaves: ceil(log2(max_leaves)),
// at least 1.
uint64_t recursion_depth(uint64_t max_leaves) {
    double leaves = static_cast<double>(std::max<uint64_t>(max_leaves, 2));
    return std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(std::log2(leaves))));
}

void warn_if_identity(PyObject* extend) {
    py::Ref is_identity = py::import_attr("quorvantis_fast.strategies", "_is_identity_function");
    py::Ref answer = py::call(is_identity.get(), extend);
    if (!py::truthy(answer.get())) return;
    py::Ref category = py::import_attr("quorvantis_fast.errors", "QuorvantisWarning");
    py::Ref warn = py::import_attr("warnings", "warn");
    py::Ref message = py::str("extend=lambda x: x is a no-op (the recursive() strategy will never extend)");
    py::call(warn.get(), message.get(), category.get());
}

PyObject* recursive_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"recursive", {"base", "extend", "max_leaves"}, 2, 2};
        auto a = sig.parse<3>(args, nargs, kwnames);
        PyObject* base = a[0];
        PyObject* extend = a[1];
        uint64_t depth = a[2] ? recursion_depth(py::arg_u64(a[2], "max_leaves")) : 6;
        warn_if_identity(extend);
        py::Ref current = py::Ref::borrow(base);
        for (uint64_t level = 0; level < depth; ++level) {
            py::Ref extended = py::call(extend, current.get());
            kinds::OneOf node;
            node.branches.push_back(py::Ref::borrow(base));
            node.branches.push_back(std::move(extended));
            current = SearchStrategy::wrap(std::move(node));
        }
        return current.release();
    });
}

PyObject* can_hash_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"can_hash", {"obj"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        if (PyObject_Hash(a[0]) == -1 && PyErr_Occurred()) {
            py::drop_exception();
            return py::boolean(false).release();
        }
        return py::boolean(true).release();
    });
}

}  // namespace

namespace defs {
PyMethodDef recursive = {"recursive", QF_FASTCALL(recursive_fn), METH_FASTCALL | METH_KEYWORDS,
                         "recursive(base, extend, *, max_leaves=50)\n--\n\n"
                         "Values of base, or of extend applied to this strategy, nested up to "
                         "ceil(log2(max_leaves)) levels deep."};
PyMethodDef can_hash = {"can_hash", QF_FASTCALL(can_hash_fn), METH_FASTCALL | METH_KEYWORDS,
                        "can_hash(obj)\n--\n\nDoes hash(obj) succeed?"};
}  // namespace defs

}  // namespace strategy
