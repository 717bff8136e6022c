// StatefulRunner: runs one rule-based state-machine test case. Every choice
// of rule, printing and stopping belongs to quorvantis_fast.stateful; the
// runner fixes the order of the calls.
#include <cstdint>

#include "py/py.hpp"
#include "registry.hpp"

namespace stateful {
namespace {

struct Runner {
    PyObject_HEAD
    PyObject* factory;
    PyObject* settings;
    PyObject* flaky_state;
    int64_t min_steps;
};

Runner* as_runner(PyObject* o) { return reinterpret_cast<Runner*>(o); }

PyObject* runner_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"StatefulRunner", {"factory", "settings", "min_steps", "flaky_state"}, 4};
        PyObject* a[4];
        sig.parse_tuple(args, kwargs, a);
        int64_t min_steps = py::arg_i64(a[2], "min_steps");
        py::Ref self = py::Ref::steal(py::alloc(type));
        Runner* r = as_runner(self.get());
        r->factory = py::Ref::borrow(a[0]).release();
        r->settings = py::Ref::borrow(a[1]).release();
        r->flaky_state = py::Ref::borrow(a[3]).release();
        r->min_steps = min_steps;
        return self.release();
    });
}

void runner_dealloc(PyObject* self) {
    py::untrack(self);
    Runner* r = as_runner(self);
    py::clear_field(r->factory);
    py::clear_field(r->settings);
    py::clear_field(r->flaky_state);
    py::free_object(self);
}

// The three references are fixed at creation, so the runner has no
// tp_clear: a cycle through it passes through an object changed later
// (a class, a dict, a closure), whose own clear breaks it.
int runner_traverse(PyObject* self, visitproc visit, void* arg) {
    const Runner* r = as_runner(self);
    py::Visitor v(self, visit, arg);
    v(r->factory);
    v(r->settings);
    v(r->flaky_state);
    return v.result();
}

int64_t int_value(PyObject* o) {
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) throw py::Err{};
    return v;
}

void emit(PyObject* emitter, const std::string& text) {
    py::Ref s = py::str(text);
    py::call(emitter, s.get());
}

// The machine's and the record's methods are looked up at each use: a step
// may rebind them.
void check_invariants(PyObject* machine, PyObject* settings, PyObject* emitter) {
    py::Ref check = py::getattr(machine, "check_invariants");
    py::call(check.get(), settings, emitter);
}

// While it lives, `exc` (when not null) is the exception being handled, as
// in a `finally` block after it: an error raised then takes it as its
// __context__, and sys.exc_info() shows it. The exception handled before is
// handled again afterwards.
class Handling {
public:
    explicit Handling(PyObject* exc) {
        if (!exc) return;
        active_ = true;
        saved_ = py::Ref::steal(PyErr_GetHandledException());
        if (saved_) {
            // What is found may lie below this level of exception state (a
            // running generator has its own): then this level held none and
            // is given none back.
            PyErr_SetHandledException(nullptr);
            py::Ref outer = py::Ref::steal(PyErr_GetHandledException());
            if (outer.get() == saved_.get()) saved_ = py::Ref();
        }
        PyErr_SetHandledException(exc);
    }
    ~Handling() {
        if (active_) PyErr_SetHandledException(saved_.get());
    }
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

private:
    bool active_ = false;
    py::Ref saved_;
};

// The step loop; any exception ends it.
struct StepFunctions {
    py::Ref must_stop, select_rule, run_step;
};

void step_loop(Runner* r, const StepFunctions& fns, PyObject* record, PyObject* machine,
               PyObject* emitter, bool printing) {
    PyObject* must_stop_fn = fns.must_stop.get();
    emit(emitter, "state = " + py::utf8(py::getattr(reinterpret_cast<PyObject*>(Py_TYPE(machine)),
                                                    "__name__").get()) + "()");
    check_invariants(machine, r->settings, emitter);
    py::Ref step_count = py::getattr(r->settings, "stateful_step_count");
    int64_t max_steps = int_value(step_count.get());
    py::Ref min_steps = py::from_i64(r->min_steps);
    py::Ref max_steps_obj = py::from_i64(max_steps);
    py::Ref p = py::from_double(1.0 / 65536.0);
    py::Ref no_args = py::check(PyTuple_New(0));
    py::Ref printing_obj = py::boolean(printing);
    for (int64_t steps_run = 0;; ++steps_run) {
        py::Ref length_attr = py::getattr(record, "length");
        py::Ref length = py::from_i64(int_value(length_attr.get()));
        py::Ref steps = py::from_i64(steps_run);
        py::Ref forced = py::check(PyObject_CallFunctionObjArgs(
            must_stop_fn, steps.get(), min_steps.get(), max_steps_obj.get(), length.get(),
            nullptr));
        py::Ref kwargs = py::new_dict();
        py::dict_set(kwargs.get(), "p", p.get());
        py::dict_set(kwargs.get(), "forced", forced.get());
        py::Ref draw_boolean = py::getattr(record, "draw_boolean");
        py::Ref stop = py::call_args(draw_boolean.get(), no_args.get(), kwargs.get());
        if (py::truthy(stop.get())) break;
        py::Ref rule = py::check(PyObject_CallFunctionObjArgs(fns.select_rule.get(), machine, record,
                                                              r->flaky_state, nullptr));
        py::check(PyObject_CallFunctionObjArgs(fns.run_step.get(), machine, record, rule.get(),
                                               r->settings, emitter, printing_obj.get(), nullptr));
        check_invariants(machine, r->settings, emitter);
    }
}

PyObject* runner_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"__call__", {"data"}, 1};
        PyObject* a[1];
        sig.parse_tuple(args, kwargs, a);
        Runner* r = as_runner(self);
        py::Ref st = py::import("quorvantis_fast.stateful");
        py::Ref record = py::getattr(a[0], "brindlemar_data");
        py::Ref machine = py::call(r->factory);
        py::Ref base = py::getattr(st.get(), "RuleBasedStateMachine");
        int is = PyObject_IsInstance(machine.get(), base.get());
        py::check_rc(is);
        if (!is) {
            // Shown as the runner shows any of the user's objects: a repr
            // that raises must not take the place of this message.
            py::Ref shown = py::call(py::import_attr("quorvantis_fast.formatting", "shown_repr").get(),
                                     machine.get());
            py::raise_named("quorvantis_fast.errors", "InvalidArgument",
                            "state_machine_factory() must return a RuleBasedStateMachine, got " +
                                py::utf8(shown.get()));
        }
        py::check_rc(PyObject_SetAttrString(record.get(), "_qv_stateful_machine", machine.get()));
        bool is_final = py::truthy(py::call_method(st.get(), "_is_final").get());
        py::Ref verbosity = py::import_attr("quorvantis_fast.settings", "Verbosity");
        py::Ref debug = py::getattr(verbosity.get(), "debug");
        bool verbose = py::truthy(py::call_method(st.get(), "_verbosity_at_least", debug.get()).get());
        bool printing = is_final || verbose;
        py::Ref lines = py::new_list();
        py::Ref partial = py::import_attr("functools", "partial");
        py::Ref emit_fn = py::getattr(st.get(), "_emit");
        py::Ref printing_obj = py::boolean(printing);
        py::Ref emitter = py::check(PyObject_CallFunctionObjArgs(
            partial.get(), emit_fn.get(), lines.get(), printing_obj.get(), nullptr));

        StepFunctions fns{py::getattr(st.get(), "_must_stop"), py::getattr(st.get(), "_select_rule"),
                          py::getattr(st.get(), "_run_step")};
        py::Ref failure;
        try {
            step_loop(r, fns, record.get(), machine.get(), emitter.get(), printing);
        } catch (const py::Err&) {
            failure = py::fetch_error();
        }
        // Teardown runs on every path, as a `finally` block would: an error of
        // its own (a leak check) takes the place of the loop's, which it
        // carries as its __context__; not a StopTest, which only says that
        // the engine cut the steps short.
        try {
            const bool cut_short = failure && py::type_name_or_empty(failure.get()) == "StopTest";
            Handling handling(cut_short ? nullptr : failure.get());
            emit(emitter.get(), "state.teardown()");
            py::call_method(machine.get(), "teardown");
        } catch (const py::Err&) {
            failure = py::fetch_error();
        }
        if (!failure) return py::none().release();
        if (is_final) {
            py::Ref add_note = py::getattr(st.get(), "_add_note");
            py::Ref head = py::str("Falsifying example:");
            py::call(add_note.get(), failure.get(), head.get());
            for (Py_ssize_t i = 0; i < PyList_Size(lines.get()); ++i) {
                PyObject* item = PyList_GetItem(lines.get(), i);
                if (!item) throw py::Err{};
                py::Ref keep = py::Ref::borrow(item);
                py::call(add_note.get(), failure.get(), keep.get());
            }
        }
        py::restore_error(failure.get());
        throw py::Err{};
    });
}

PyObject* get_print_given_args(PyObject*, void*) { Py_RETURN_FALSE; }

PyGetSetDef getset[] = {
    {"_quorvantis_internal_print_given_args", get_print_given_args, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(runner_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(runner_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(runner_traverse)},
    {Py_tp_call, reinterpret_cast<void*>(runner_call)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

PyType_Spec spec = {
    "quorvantis_fast._engine.StatefulRunner",
    sizeof(Runner),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    slots,
};

}  // namespace
}  // namespace stateful

namespace reg {
void stateful(PyObject* m) {
    static PyObject* cell = nullptr;
    py::add_type(m, "StatefulRunner", reinterpret_cast<PyObject*>(py::type_once(cell, &::stateful::spec)));
}
}  // namespace reg
