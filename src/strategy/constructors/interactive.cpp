// Strategies whose values draw on the live test case: data(), randoms(),
// functions (through _functions_strategy) and composite strategies.
#include <string>

#include "strategy/interpreter.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/checks.hpp"

namespace strategy {
namespace {

PyObject* data_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"data", {}, 0};
        sig.parse<0>(args, nargs, kwnames);
        return SearchStrategy::wrap(kinds::Data{}).release();
    });
}

PyObject* randoms_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"randoms", {"note_method_calls", "use_true_random"}, 0, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        kinds::Randoms node;
        if (a[0] && a[0] != Py_None) node.note_method_calls = check_bool_flag(a[0], "note_method_calls");
        if (a[1] && a[1] != Py_None) node.use_true_random = check_bool_flag(a[1], "use_true_random");
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

PyObject* functions_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"_functions_strategy", {"like", "returns", "pure"}, 3};
        auto a = sig.parse<3>(args, nargs, kwnames);
        bool pure = py::arg_bool(a[2], "pure");
        return SearchStrategy::wrap(kinds::Functions{py::Ref::borrow(a[0]), py::Ref::borrow(a[1]), pure})
            .release();
    });
}

PyObject* composite_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"_composite_strategy", {"func", "args", "kwargs"}, 3};
        auto a = sig.parse<3>(args, nargs, kwnames);
        return SearchStrategy::wrap(
                   kinds::Composite{py::Ref::borrow(a[0]), py::Ref::borrow(a[1]), py::Ref::borrow(a[2])})
            .release();
    });
}

}  // namespace

py::Ref draw_data(const kinds::Data&, PyObject* record) { return DataObject::make(record, true); }

py::Ref draw_functions(const kinds::Functions& n, PyObject* record) {
    py::Ref handle = DataObject::make(record, false);
    py::Ref build = py::import_attr("quorvantis_fast.native_strategies", "_build_function");
    py::Ref args = py::tuple_of({n.like.get(), n.returns.get(), n.pure ? Py_True : Py_False, handle.get()});
    return py::call_args(build.get(), args.get());
}

py::Ref draw_randoms(const kinds::Randoms& n, PyObject* record) {
    py::Ref handle = DataObject::make(record, false);
    py::Ref build = py::import_attr("quorvantis_fast.native_strategies", "_build_random");
    py::Ref args = py::tuple_of({handle.get(), n.use_true_random ? Py_True : Py_False,
                                 n.note_method_calls ? Py_True : Py_False});
    return py::call_args(build.get(), args.get());
}

py::Ref draw_composite(const kinds::Composite& n, PyObject* record) {
    py::Ref draw = py::getattr(record, "draw");
    PyObject* extra = n.args.get();
    if (!PyTuple_Check(extra)) py::raise_cannot_convert(extra, "PyTuple");
    if (!PyDict_Check(n.kwargs.get())) py::raise_cannot_convert(n.kwargs.get(), "PyDict");
    const Py_ssize_t count = PyTuple_Size(extra);
    py::Ref args = py::check(PyTuple_New(count + 1));
    PyTuple_SetItem(args.get(), 0, draw.release());
    for (Py_ssize_t i = 0; i < count; ++i) PyTuple_SetItem(args.get(), i + 1, py::Ref::borrow(PyTuple_GetItem(extra, i)).release());
    return py::call_args(n.function.get(), args.get(), n.kwargs.get());
}

namespace defs {
PyMethodDef data = {"data", QF_FASTCALL(data_fn), METH_FASTCALL | METH_KEYWORDS,
                    "data()\n--\n\nA handle for drawing values interactively inside the test."};
PyMethodDef randoms = {"randoms", QF_FASTCALL(randoms_fn), METH_FASTCALL | METH_KEYWORDS,
                       "randoms(*, note_method_calls=None, use_true_random=None)\n--\n\n"
                       "random.Random instances whose results are choices of the test case."};
PyMethodDef _functions_strategy = {"_functions_strategy", QF_FASTCALL(functions_fn),
                                   METH_FASTCALL | METH_KEYWORDS,
                                   "_functions_strategy(like, returns, pure)\n--\n\n"
                                   "Functions with the signature of like whose results are drawn from "
                                   "returns."};
PyMethodDef _composite_strategy = {"_composite_strategy", QF_FASTCALL(composite_fn),
                                   METH_FASTCALL | METH_KEYWORDS,
                                   "_composite_strategy(func, args, kwargs)\n--\n\n"
                                   "Values of func(draw, *args, **kwargs)."};
}  // namespace defs

}  // namespace strategy
