#include "engine/example.hpp"

#include <optional>

#include "data/record.hpp"
#include "engine/interleave.hpp"
#include "timing/draw_clock.hpp"

namespace engine {
namespace {

// Freezes the record on the way out, keeping any pending error.
class FreezeOnExit {
public:
    explicit FreezeOnExit(PyObject* data) : data_(data) {}
    ~FreezeOnExit() {
        py::ErrorStash keep;
        try {
            if (data::is_record(data_)) {
                data::RecordMut r(data_);
                r->freeze_rs();
            } else {
                py::call_method(data_, "freeze");
            }
        } catch (...) {
            py::discard_error();
        }
    }
    FreezeOnExit(const FreezeOnExit&) = delete;
    FreezeOnExit& operator=(const FreezeOnExit&) = delete;

private:
    PyObject* data_;
};

bool is_rejection_name(const std::string& name) {
    return name == "UnsatisfiedAssumption" || name == "StopTest";
}

// An int attribute as a signed 64-bit value, if it reads as one.
std::optional<int64_t> read_counter(PyObject* o) {
    py::Ref v = py::Ref::steal(PyObject_GetAttrString(o, "testcounter"));
    if (!v) {
        py::drop_exception();
        return std::nullopt;
    }
    long long n = PyLong_AsLongLong(v.get());
    if (n == -1 && PyErr_Occurred()) {
        py::drop_exception();
        return std::nullopt;
    }
    return n;
}

// A StopTest belongs to this record unless both counters read and differ,
// and only once the record has in fact ended. Every record has counter 0,
// so the counter alone would take another record's stop for this one's.
bool is_own_stop(PyObject* exc, PyObject* data) {
    const auto theirs = read_counter(exc);
    if (data::is_record(data)) {
        try {
            data::RecordRef r(data);
            if (theirs && static_cast<int64_t>(r->testcounter) != *theirs) return false;
            return r->frozen;
        } catch (const py::Err&) {
            py::drop_exception();
            return false;
        }
    }
    const auto ours = read_counter(data);
    if (theirs && ours && *ours != *theirs) return false;
    py::Ref f = py::Ref::steal(PyObject_GetAttrString(data, "frozen"));
    if (!f) {
        py::drop_exception();
        return false;
    }
    int t = PyObject_IsTrue(f.get());
    if (t < 0) py::drop_exception();
    return t == 1;
}

bool is_skip_test(PyObject* exc) {
    py::Ref mod = py::Ref::steal(PyImport_ImportModule("unittest"));
    py::Ref cls = py::Ref::steal(mod ? PyObject_GetAttrString(mod.get(), "SkipTest") : nullptr);
    if (!cls) {
        py::drop_exception();
        return false;
    }
    int r = PyObject_IsInstance(exc, cls.get());
    if (r < 0) py::drop_exception();
    return r == 1;
}

// Is `exc` an instance of the class `cls` of the module `module`? Only a
// loaded module is asked: an instance cannot come from one never imported.
bool is_loaded_class(PyObject* exc, py::Name& module, const char* cls) {
    try {
        py::Ref mod = py::loaded_module(module.get());
        if (!mod) return false;
        py::Ref c = py::getattr(mod.get(), cls);
        const int r = PyObject_IsInstance(exc, c.get());
        py::check_rc(r);
        return r == 1;
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

// A usage error of the library (its InvalidArgument, or that of the upstream
// library) is the test's mistake, not a failure of the property.
bool is_usage_error(PyObject* exc) {
    static py::Name modules[] = {py::Name("quorvantis_fast.errors"), py::Name("quorvantis.errors")};
    for (py::Name& name : modules)
        if (is_loaded_class(exc, name, "InvalidArgument")) return true;
    return false;
}

// pytest's request to end the whole session (pytest.exit()): no failure of
// the test, though it derives from Exception.
bool is_session_exit(PyObject* exc) {
    static py::Name outcomes{"_pytest.outcomes"};
    return is_loaded_class(exc, outcomes, "Exit");
}

// A skip or an exit request of the test.
bool is_skip_or_exit(PyObject* exc) {
    return err_name(exc) == "Skipped" || is_skip_test(exc) || PyErr_GivenExceptionMatches(exc, PyExc_SystemExit);
}

// Whether formatting passed `exc` out (quorvantis_fast.formatting.pass_out):
// raised by the user's repr while the runner or a note formatted a value, it
// is no outcome of the example and ends the run at once. Only what is no
// Exception is marked, so an ordinary failure asks nothing.
bool passed_out_by_formatting(PyObject* exc) {
    if (PyErr_GivenExceptionMatches(exc, PyExc_Exception)) return false;
    try {
        py::Ref passes_out = py::import_attr("quorvantis_fast.formatting", "passes_out");
        return py::truthy(py::call(passes_out.get(), exc).get());
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

// Notes the argument being drawn on an error raised while drawing it.
void add_draw_note(PyObject* exc, PyObject* name, PyObject* strategy) {
    py::Ref note;
    if (py::Ref r = py::Ref::steal(PyObject_Repr(strategy))) {
        note = py::Ref::steal(PyUnicode_FromFormat("while generating '%U' from %U", name, r.get()));
    } else {
        py::take_formatting_error();  // an interrupt or exit request replaces `exc`
        note = py::Ref::steal(PyUnicode_FromFormat("while generating '%U'", name));
    }
    if (!note) {
        py::drop_exception();
        return;
    }
    py::Ref res = py::Ref::steal(PyObject_CallMethod(exc, "add_note", "O", note.get()));
    if (!res) py::drop_exception();
}

[[noreturn]] void rethrow(PyObject* exc) {
    py::restore_error(exc);
    throw py::Err{};
}

Outcome classify_test_error(py::Ref exc, PyObject* data, py::Ref args) {
    const std::string name = err_name(exc.get());
    if (name == "UnsatisfiedAssumption") return {OutcomeKind::Rejected, {}, {}};
    if (name == "StopTest") {
        if (!is_own_stop(exc.get(), data)) rethrow(exc.get());
        return {record_status(data) == data::Status::Valid ? OutcomeKind::Passed : OutcomeKind::Rejected, {},
                {}};
    }
    if (is_skip_or_exit(exc.get()) || PyErr_GivenExceptionMatches(exc.get(), PyExc_KeyboardInterrupt) ||
        is_usage_error(exc.get()) || is_session_exit(exc.get()) || passed_out_by_formatting(exc.get())) {
        rethrow(exc.get());
    }
    return {OutcomeKind::Interesting, std::move(args), std::move(exc)};
}

}  // namespace

bool drop_not_this_failure() {
    py::Ref exc = py::fetch_error();
    if (!exc) return false;
    if ((is_usage_error(exc.get()) || is_skip_or_exit(exc.get())) && !passed_out_by_formatting(exc.get()))
        return true;
    py::restore_error(exc.get());
    return false;
}

std::string err_name(PyObject* exc) { return py::type_name_or_empty(exc); }

Origin origin_of(PyObject* exc) {
    Origin o;
    py::Ref n = py::getattr(reinterpret_cast<PyObject*>(Py_TYPE(exc)), "__name__");
    o.name = py::utf8(n.get());
    PyObject* tb = PyObject_GetAttrString(exc, "__traceback__");
    if (!tb) {
        py::drop_exception();
        return o;
    }
    py::Ref cur = py::Ref::steal(tb);
    while (cur && cur.get() != Py_None) {
        if (py::Ref line = py::Ref::steal(PyObject_GetAttrString(cur.get(), "tb_lineno"))) {
            long long v = PyLong_AsLongLong(line.get());
            if (v == -1 && PyErr_Occurred()) py::drop_exception();
            else o.line = v;
        } else {
            py::drop_exception();
        }
        PyObject* next = PyObject_GetAttrString(cur.get(), "tb_next");
        if (!next) py::drop_exception();
        cur = py::Ref::steal(next);
    }
    return o;
}

std::vector<PyObject*> borrowed(const RefList& refs) {
    std::vector<PyObject*> out(refs.size());
    for (size_t i = 0; i < refs.size(); ++i) out[i] = refs[i].get();
    return out;
}

RefList extract_choices(PyObject* data) {
    RefList out;
    if (data::is_record(data)) {
        data::RecordRef r(data);
        out.reserve(r->nodes.size());
        for (const data::NodeData& n : r->nodes) out.push_back(n.value);
        return out;
    }
    py::Ref choices = py::getattr(data, "choices");
    py::Ref it = py::check(PyObject_GetIter(choices.get()));
    while (PyObject* v = PyIter_Next(it.get())) out.push_back(py::Ref::steal(v));
    py::check_no_error();
    return out;
}

uint8_t record_status(PyObject* data) {
    if (data::is_record(data)) {
        data::RecordRef r(data);
        return r->status;
    }
    py::Ref s = py::getattr(data, "status");
    long v = PyLong_AsLong(s.get());
    if (v == -1 && PyErr_Occurred()) throw py::Err{};
    return static_cast<uint8_t>(v);
}

Outcome run_one_named(PyObject* test, const RefList& strategies, PyObject* data, const RefList* names,
                      TrieCheck* check, bool time_draws) {
    FreezeOnExit freeze(data);
    let_other_threads_run();
    std::optional<timing::DrawClock> clock;
    if (time_draws || timing::use_py_clock()) clock.emplace();
    auto draw_time = [&] { return clock ? clock->elapsed() : 0.0; };
    const Py_ssize_t n = static_cast<Py_ssize_t>(strategies.size());
    py::Ref args = py::check(PyTuple_New(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* strategy = strategies[static_cast<size_t>(i)].get();
        PyObject* v = py::guard(nullptr, [&]() -> PyObject* { return data::draw_from(data, strategy).release(); });
        if (!v) {
            py::Ref exc = py::fetch_error();
            set_last_draw_secs(draw_time());
            if (is_rejection_name(err_name(exc.get()))) return {OutcomeKind::Rejected, {}, {}};
            if (names && static_cast<size_t>(i) < names->size()) {
                add_draw_note(exc.get(), (*names)[static_cast<size_t>(i)].get(), strategy);
            }
            rethrow(exc.get());
        }
        PyTuple_SetItem(args.get(), i, v);
    }
    set_last_draw_secs(draw_time());
    if (check) {
        Probe& probe = check->probe;
        probe.reset();
        bool known = false;
        try {
            node_seq(data, probe.path);
            known = check->trie.is_duplicate(probe);
            // Only a native record is known to keep the nodes read so far.
            probe.read = data::is_record(data);
        } catch (const py::Err&) {
            py::drop_exception();
        }
        if (!probe.read) probe.reset();
        if (known) return {OutcomeKind::Duplicate, {}, {}};
    }
    if (py::Ref::steal(PyObject_Call(test, args.get(), nullptr))) return {OutcomeKind::Passed, {}, {}};
    return classify_test_error(py::fetch_error(), data, std::move(args));
}

}  // namespace engine
