#include "engine/shrink_report.hpp"

namespace engine {

void record_pass(ShrinkReport& report, std::string_view name, uint64_t calls, bool progress) {
    if (progress) ++report.total_shrinks;
    for (PassEntry& e : report.passes) {
        if (e.pass_name == name) {
            e.calls += calls;
            if (progress) ++e.shrinks;
            return;
        }
    }
    report.passes.push_back(PassEntry{std::string(name), calls, progress ? 1u : 0u});
}

uint64_t total_calls(const ShrinkReport& report) {
    uint64_t t = 0;
    for (const PassEntry& e : report.passes) t += e.calls;
    return t;
}

py::Ref report_to_python(const ShrinkReport& report) {
    py::Ref list = py::new_list();
    for (const PassEntry& e : report.passes) {
        py::Ref name = py::str(e.pass_name);
        py::Ref calls = py::from_u64(e.calls);
        py::Ref shrinks = py::from_u64(e.shrinks);
        py::Ref item = py::tuple_of({name.get(), calls.get(), shrinks.get()});
        py::list_append(list.get(), item.get());
    }
    py::Ref tc = py::from_u64(total_calls(report));
    py::Ref ts = py::from_u64(report.total_shrinks);
    py::Ref cap = py::boolean(report.capped);
    return py::tuple_of({tc.get(), ts.get(), cap.get(), list.get()});
}

void record_pass(std::string_view name, uint64_t calls, bool progress) {
    update_shrink_report([&](ShrinkReport& r) { record_pass(r, name, calls, progress); });
}

void reset_shrink_report() {
    update_shrink_report([](ShrinkReport& r) { r = ShrinkReport{}; });
}

uint64_t report_total_shrinks() {
    uint64_t t = 0;
    update_shrink_report([&](ShrinkReport& r) { t = r.total_shrinks; });
    return t;
}

void set_report_capped() {
    update_shrink_report([](ShrinkReport& r) { r.capped = true; });
}

namespace {

PyObject* shrink_report_py(PyObject*, PyObject*) {
    QF_ENTRY(nullptr, { return report_to_python(shrink_report_result()).release(); });
}

PyObject* minimal_choices_py(PyObject*, PyObject*) {
    QF_ENTRY(nullptr, {
        return py::list_from_refs(minimal_choices_result()).release();
    });
}

PyMethodDef defs[] = {
    {"shrink_report", shrink_report_py, METH_NOARGS,
     "shrink_report()\n--\n\n"
     "Return the shrink-pass profiling report of the most recent shrink as\n"
     "(total_calls, total_shrinks, capped, [(pass_name, calls, shrinks), ...]).\n"
     "The Python side formats it for its debug-verbosity output and takes the\n"
     "number of shrinks from it for its statistics."},
    {"minimal_choices", minimal_choices_py, METH_NOARGS,
     "minimal_choices()\n--\n\n"
     "Expose the most recent run's primary minimal choice sequence, for\n"
     "reproducing a failure."},
};

}  // namespace

void register_report_functions(PyObject* module) {
    for (auto& d : defs) py::add_function(module, &d);
}

}  // namespace engine
