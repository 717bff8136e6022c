#include "engine/finish.hpp"

#include <algorithm>

#include "choice/choice.hpp"
#include "database/choice_bytes.hpp"
#include "engine/shrink_report.hpp"

namespace engine {

py::Ref flaky_failure(const char* message, std::initializer_list<PyObject*> exceptions) {
    py::Ref list = py::new_list();
    for (PyObject* e : exceptions) py::list_append(list.get(), e);
    py::Ref text = py::str(message);
    for (const char* module : {"quorvantis.errors", "quorvantis_fast.errors"}) {
        PyObject* mod = PyImport_ImportModule(module);
        if (!mod) {
            PyErr_Clear();
            continue;
        }
        PyObject* cls = PyObject_GetAttrString(mod, "FlakyFailure");
        Py_DECREF(mod);
        if (!cls) {
            PyErr_Clear();
            continue;
        }
        PyObject* exc = PyObject_CallFunctionObjArgs(cls, text.get(), list.get(), nullptr);
        Py_DECREF(cls);
        if (!exc) {
            PyErr_Clear();
            continue;
        }
        return py::Ref::steal(exc);
    }
    return py::call(PyExc_AssertionError, text.get());
}

namespace {

[[noreturn]] void raise_instance(PyObject* exc) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc)), exc);
    throw py::Err{};
}

struct Shrunk {
    py::Ref args, exc, choices;
};

class Ending {
public:
    Ending(Replayer& rp, const FailureSettings& s) : rp_(rp), s_(s) {}

    FailureReport one(FailureEntry f, bool reproduced) {
        if (s_.max_shrinks != 0 && !reproduced) {
            py::Ref list = list_of(f.choices);
            Replay r = rp_.replay(list.get());
            if (r.interesting && !(origin_of(r.exc.get()) == f.origin)) {
                py::Ref e = flaky_failure(INCONSISTENT_REPLAY, {f.exc.get(), r.exc.get()});
                raise_instance(e.get());
            }
        }
        Shrunk primary{std::move(f.args), std::move(f.exc), list_of(f.choices)};
        if (!reproduced) {
            ShrinkResult r = shrink(rp_, std::move(primary.choices), std::move(primary.args),
                                    std::move(primary.exc), s_.max_shrinks);
            primary = Shrunk{std::move(r.args), std::move(r.exc), std::move(r.choices)};
        }
        set_minimal_choices(refs_of(primary.choices.get()));
        save(primary.choices.get());
        std::vector<Shrunk> slipped = shrink_slipped({f.origin});

        FailureReport out;
        if (slipped.empty() || s_.report_multiple_bugs) {
            out.emplace_back(std::move(primary.args), std::move(primary.exc));
            for (Shrunk& s : slipped) out.emplace_back(std::move(s.args), std::move(s.exc));
            return out;
        }
        const Shrunk* best = &primary;
        for (const Shrunk& s : slipped) {
            if (smaller(s.choices.get(), best->choices.get())) best = &s;
        }
        out.emplace_back(best->args, best->exc);
        return out;
    }

    FailureReport several(std::vector<FailureEntry> failures, bool reproduced) {
        std::vector<Origin> known;
        FailureReport out;
        for (FailureEntry& f : failures) {
            if (reproduced) {
                known.push_back(f.origin);
                out.emplace_back(std::move(f.args), std::move(f.exc));
                continue;
            }
            Shrunk s = confirmed(f);
            known.push_back(f.origin);
            save(s.choices.get());
            out.emplace_back(std::move(s.args), std::move(s.exc));
        }
        if (!reproduced) {
            for (Shrunk& s : shrink_slipped(std::move(known)))
                out.emplace_back(std::move(s.args), std::move(s.exc));
        }
        return out;
    }

private:
    // Shrinks a failure, then replays the result once more; one that does
    // not fail alike is reported with a FlakyFailure as its exception.
    Shrunk confirmed(FailureEntry& f) {
        ShrinkResult r = shrink(rp_, list_of(f.choices), std::move(f.args),
                                std::move(f.exc), s_.max_shrinks);
        Replay again = rp_.replay(r.choices.get());
        if (!again.interesting || !(origin_of(again.exc.get()) == f.origin)) {
            r.exc = flaky_failure(FALSIFIED_ONCE, {r.exc.get()});
        }
        return Shrunk{std::move(r.args), std::move(r.exc), std::move(r.choices)};
    }

    // Shrinks and saves each failure of a new origin that the shrinks above
    // met, without collecting further ones meanwhile.
    std::vector<Shrunk> shrink_slipped(std::vector<Origin> seen) {
        struct Restore {
            bool was = slip_enabled();
            ~Restore() { set_slip_enabled(was); }
        } restore;
        set_slip_enabled(false);
        std::vector<FailureEntry> taken = take_slipped();
        std::vector<Shrunk> results;
        for (FailureEntry& f : taken) {
            if (std::find(seen.begin(), seen.end(), f.origin) != seen.end()) continue;
            seen.push_back(f.origin);
            Shrunk s = confirmed(f);
            save(s.choices.get());
            results.push_back(std::move(s));
        }
        return results;
    }

    // Fewer choices first, then the lesser choices_key; ties keep `b`.
    bool smaller(PyObject* a, PyObject* b) {
        const Py_ssize_t na = PyList_Size(a), nb = PyList_Size(b);
        if (na < 0 || nb < 0) throw py::Err{};
        if (na != nb) return na < nb;
        py::Ref ka = choice::choices_key(py::check(PySequence_List(a)).get());
        py::Ref kb = choice::choices_key(py::check(PySequence_List(b)).get());
        const int lt = PyObject_RichCompareBool(ka.get(), kb.get(), Py_LT);
        if (lt < 0) throw py::Err{};
        return lt == 1;
    }

    // Stores a minimal sequence; encoding and database errors are dropped.
    void save(PyObject* choices) {
        if (!s_.database || !s_.db_key) return;
        py::Ref value;
        try {
            std::string bytes = database::encode_choices(refs_of(choices));
            value = py::check(PyBytes_FromStringAndSize(bytes.data(),
                                                        static_cast<Py_ssize_t>(bytes.size())));
        } catch (const py::Err&) {
            PyErr_Clear();
            return;
        }
        const std::string_view k = *s_.db_key;
        PyObject* key = PyBytes_FromStringAndSize(k.data(), static_cast<Py_ssize_t>(k.size()));
        if (!key) throw py::Err{};
        py::Ref owned_key = py::Ref::steal(key);
        PyObject* method = PyObject_GetAttrString(s_.database, "save");
        if (!method) {
            PyErr_Clear();
            return;
        }
        PyObject* r = PyObject_CallFunctionObjArgs(method, key, value.get(), nullptr);
        Py_DECREF(method);
        if (r) Py_DECREF(r);
        else PyErr_Clear();
    }

    Replayer& rp_;
    const FailureSettings& s_;
};

}  // namespace

FailureReport finish_failures(Replayer& replayer, const FailureSettings& settings,
                              Failures failures, bool reproduced) {
    Ending end(replayer, settings);
    if (failures.empty()) return {};
    if (failures.size() == 1) return end.one(std::move(failures.front()), reproduced);
    return end.several(std::move(failures), reproduced);
}

}  // namespace engine
