#include "engine/entry.hpp"

#include "choice/choice.hpp"
#include "choice/constraints.hpp"
#include "data/record.hpp"
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

// "an integer", "a float", "a string", "bytes", "a boolean".
std::string kind_phrase(uint8_t tag) {
    const char* name = data::choice_type_name(tag);
    if (!name) return "a value of no choice kind";
    if (tag == data::TAG_BYTES) return name;
    return std::string(tag == data::TAG_INTEGER ? "an " : "a ") + name;
}

// repr of a replayed value, cut short when long: at a character's first
// byte, so that the text stays UTF-8.
std::string short_repr(PyObject* v) {
    std::string r = py::repr(v);
    constexpr size_t limit = 60;
    if (r.size() <= limit) return r;
    size_t cut = limit - 3;
    while (cut > 0 && (static_cast<unsigned char>(r[cut]) & 0xC0) == 0x80) --cut;
    return r.substr(0, cut) + "...";
}

std::string count_of(size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Calls the test held in `self`, a list [test, called], setting `called`.
PyObject* call_noting(PyObject* self, PyObject* args) {
    py::Ref test = py::Ref::borrow(PyList_GetItem(self, 0));
    if (!test || PyList_SetItem(self, 1, py::boolean(true).release()) < 0) return nullptr;
    return PyObject_Call(test.get(), args, nullptr);
}

PyMethodDef call_noting_def = {"reproduced_test", call_noting, METH_VARARGS, nullptr};

// How the draws of the replay in `record` did not take `choices` exactly as
// given; empty when they did. Node i of the record is the draw that met
// choice i: a draw that did not take it is one it does not fit, or one that
// forces another value in its place (a collection's "one more element?" at
// its least or greatest size), which a replay runs as forced. Running past
// their end is a misfit only before the test was `called`: in its body it
// means that the test got past the point where it failed (and drew more), so
// the failure did not reproduce.
std::string misfit(PyObject* record, const RefList& choices, bool called) {
    const size_t n = choices.size();
    size_t at = n;
    std::optional<uint8_t> drawn;  // the kind drawn where choice `at` was not taken
    py::Ref forced;                // the value that draw forced instead, if it did
    {
        data::RecordRef r(record);
        const size_t used = r->prefix_cursor;
        for (size_t i = 0; i < r->nodes.size() && i < n; ++i) {
            const data::NodeData& node = r->nodes[i];
            PyObject* v = choices[i].get();
            if (node.was_forced ? !choice::choice_equal(v, node.value.get())
                                : r->misaligned && !data::replay_fits(v, node.choice_type, node.constraints)) {
                at = i;
                drawn = node.choice_type;
                if (node.was_forced) forced = node.value;
                break;
            }
        }
        if (!drawn) {
            if (r->misaligned) {
                // Past the recorded nodes: a draw that had no simplest value
                // to put in place of its misfit overran, unrecorded.
                at = r->nodes.size();
            } else if (r->status == data::Status::Overrun && used == n) {
                if (called) return {};
            } else if (used < n) {
                return "the test drew only " + std::to_string(used) + " of the " + count_of(n, "choice") +
                       " given, and " + std::to_string(n - used) + " " + (n - used == 1 ? "is" : "are") +
                       " left over";
            } else {
                return {};
            }
        }
    }
    if (at >= n) return "the test draws more than the " + count_of(n, "choice") + " given";
    PyObject* v = choices[at].get();
    const std::string where = "choice " + std::to_string(at + 1) + " of " + std::to_string(n);
    auto kind = choice::kind_of(v);
    const uint8_t own = kind ? static_cast<uint8_t>(*kind) : 0xff;
    if (!drawn) return where + " (" + short_repr(v) + ") does not fit the test's draw there";
    if (own != *drawn) {
        return where + " is " + kind_phrase(own) + " (" + short_repr(v) + "), but the test draws " +
               kind_phrase(*drawn) + " there";
    }
    const std::string shown = where + ", the " + data::choice_type_name(own) + " " + short_repr(v);
    if (forced) return shown + ", is not the " + short_repr(forced.get()) + " that the test's draw forces there";
    return shown + ", is outside what the test's draw there permits";
}

}  // namespace

PyObject* run_native(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        RunArgs a = convert(args, nargs, kwnames);
        RunNativeGuard guard;
        bool reproduced = false;
        Failures failures = generate(a, reproduced);
        if (failures.empty()) return py::none().release();
        return to_python(handle_failures(a, std::move(failures), reproduced)).release();
    });
}

PyObject* reproduce_native(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"reproduce_native", {"test", "strategies", "choices", "exact"}, 3};
        auto v = sig.parse<4>(args, nargs, kwnames);
        RefList strategies = ref_list_arg(v[1], "strategies");
        RefList choices = ref_list_arg(v[2], "choices");
        const bool exact = v[3] && py::arg_bool(v[3], "exact");
        py::Ref rec = record_for_choices(choices);
        py::Ref test = py::Ref::borrow(v[0]), noted;
        if (exact) {
            noted = py::list_from_refs({test, py::boolean(false)});
            test = py::check(PyCFunction_New(&call_noting_def, noted.get()));
        }
        Outcome o = run_one_named(test.get(), strategies, rec.get(), nullptr, nullptr);
        if (exact) {
            std::string how = misfit(rec.get(), choices, PyList_GetItem(noted.get(), 1) == Py_True);
            if (!how.empty()) return py::str(how).release();
        }
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
