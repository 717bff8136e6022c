#include "engine/entry.hpp"

#include "engine/failures.hpp"
#include "engine/run.hpp"

namespace engine::entry {
namespace {

bool given(PyObject* o) { return o && o != Py_None; }

// A sequence of str, as str objects.
RefList text_list_arg(PyObject* o, const char* name) {
    RefList out = ref_list_arg(o, name);
    for (const py::Ref& t : out) {
        if (!PyUnicode_Check(t.get())) py::raise_arg_cannot_convert(t.get(), name, "PyString");
    }
    return out;
}

RunArgs convert(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const py::Sig sig{"run_native",
                             {"test", "strategies", "max_examples", "seed", "database", "db_key",
                              "report_multiple_bugs", "names", "executor", "suppress_health_check",
                              "invalid_cap", "test_name", "deadline_ms", "max_shrinks"},
                             2};
    auto v = sig.parse<14>(args, nargs, kwnames);
    RunArgs a;
    a.test = py::Ref::borrow(v[0]);
    a.strategies = ref_list_arg(v[1], "strategies");
    if (v[2]) a.max_examples = py::arg_u32(v[2], "max_examples");
    if (v[3]) a.seed = py::arg_u64(v[3], "seed");
    if (given(v[4])) a.database = py::Ref::borrow(v[4]);
    if (given(v[5])) {
        std::string key;
        if (!to_byte_string(v[5], key)) py::raise_arg_cannot_convert(v[5], "db_key", "PyBytes");
        a.db_key = std::move(key);
    }
    if (v[6]) a.report_multiple_bugs = py::arg_bool(v[6], "report_multiple_bugs");
    if (given(v[7])) a.names = text_list_arg(v[7], "names");
    if (given(v[8])) a.executor = py::Ref::borrow(v[8]);
    if (given(v[9])) a.suppress_health_check = text_list_arg(v[9], "suppress_health_check");
    if (v[10]) a.invalid_cap = py::arg_u64(v[10], "invalid_cap");
    if (given(v[11])) {
        if (!PyUnicode_Check(v[11])) py::raise_arg_cannot_convert(v[11], "test_name", "PyString");
        a.test_name = py::Ref::borrow(v[11]);
    }
    if (v[12]) a.deadline_ms = py::arg_f64(v[12], "deadline_ms");
    if (v[13]) a.max_shrinks = py::arg_u64(v[13], "max_shrinks");
    return a;
}

py::Ref to_python(const Reported& reported) {
    if (reported.empty()) return py::none();
    py::Ref list = py::new_list(static_cast<Py_ssize_t>(reported.size()));
    for (size_t i = 0; i < reported.size(); ++i) {
        py::Ref pair = py::tuple_of({reported[i].first.get(), reported[i].second.get()});
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), pair.release());
    }
    return list;
}

}  // namespace

PyObject* run_native(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        RunArgs a = convert(args, nargs, kwnames);
        RunNativeGuard guard;
        RefList stored;
        Failures failures = generate(a, stored);
        if (failures.empty()) return py::none().release();
        return to_python(handle_failures(a, std::move(failures), std::move(stored))).release();
    });
}

PyObject* reproduce_native(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"reproduce_native", {"test", "strategies", "choices"}, 3};
        auto v = sig.parse<3>(args, nargs, kwnames);
        RefList strategies = ref_list_arg(v[1], "strategies");
        RefList choices = ref_list_arg(v[2], "choices");
        py::Ref rec = record_for_choices(choices);
        Outcome o = run_one_named(v[0], strategies, rec.get(), nullptr, nullptr);
        if (o.kind != OutcomeKind::Interesting) return py::none().release();
        return py::tuple_of({o.args.get(), o.exc.get()}).release();
    });
}

PyObject* draw_secs(PyObject*, PyObject*) {
    QF_ENTRY(nullptr, { return py::from_double(last_draw_secs()).release(); });
}

PyObject* set_use_py_clock(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"set_use_py_clock", {"on"}, 1};
        auto v = sig.parse<1>(args, nargs, kwnames);
        engine::set_use_py_clock(py::arg_bool(v[0], "on"));
        return py::none().release();
    });
}

}  // namespace engine::entry
