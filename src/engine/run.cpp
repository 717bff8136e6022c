#include "engine/run.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "choice/choice.hpp"
#include "data/record.hpp"
#include "database/choice_bytes.hpp"
#include "engine/failures.hpp"

namespace engine {

// ---------------------------------------------------------------------------
// Conversions

namespace {

bool is_abc_sequence(PyObject* o) {
    static PyObject* cls = nullptr;
    if (!cls) cls = py::import_attr("collections.abc", "Sequence").release();
    int r = PyObject_IsInstance(o, cls);
    if (r < 0) throw py::Err{};
    return r == 1;
}

}  // namespace

RefList ref_list_arg(PyObject* o, const char* name) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) py::raise_arg_cannot_convert(o, name, "Sequence");
    const Py_ssize_t n = PySequence_Size(o);
    if (n < 0) py::rethrow_argument_error(name);
    RefList out;
    out.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (!item) py::rethrow_argument_error(name);
        out.push_back(py::Ref::steal(item));
    }
    return out;
}

bool to_byte_string(PyObject* o, std::string& out) {
    if (PyBytes_Check(o)) {
        out.assign(PyBytes_AsString(o), static_cast<size_t>(PyBytes_Size(o)));
        return true;
    }
    try {
        if (PyUnicode_Check(o) || !is_abc_sequence(o)) return false;
        const Py_ssize_t n = PySequence_Size(o);
        if (n < 0) throw py::Err{};
        std::string bytes;
        bytes.reserve(static_cast<size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            py::Ref item = py::check(PySequence_GetItem(o, i));
            if (!PyLong_Check(item.get())) return false;
            long v = PyLong_AsLong(item.get());
            if (v == -1 && PyErr_Occurred()) throw py::Err{};
            if (v < 0 || v > 255) return false;
            bytes.push_back(static_cast<char>(v));
        }
        out = std::move(bytes);
        return true;
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

py::Ref record_for_choices(const RefList& choices) {
    return data::wrap_record(data::BrindlemarData::new_for_choices(borrowed(choices)));
}

// ---------------------------------------------------------------------------
// Generation

namespace {

constexpr uint64_t MAX_TRACKED_CHOICES = 256;
constexpr uint64_t MAX_TRACKED_TOTAL = 500001;

bool contains_text(const std::optional<RefList>& texts, const char* want) {
    if (!texts) return false;
    for (const py::Ref& t : *texts)
        if (PyUnicode_CompareWithASCIIString(t.get(), want) == 0) return true;
    return false;
}

// Drops any error raised by `f`.
template <class F>
void quietly(F&& f) {
    try {
        f();
    } catch (const py::Err&) {
        py::drop_exception();
    }
}

class Generation {
public:
    explicit Generation(const RunArgs& a) : a_(a) {
        suppress_filter_ = contains_text(a.suppress_health_check, "filter_too_much");
        suppress_slow_ = contains_text(a.suppress_health_check, "too_slow");
        if (a.deadline_ms > 0) slow_limit_ = std::max(a.deadline_ms / 1000.0 * 5.0, 1.0);
        invalid_limit_ = a.invalid_cap ? a.invalid_cap : std::numeric_limits<uint64_t>::max();
        const RefList* names = a.names ? &*a.names : nullptr;
        names_ = names;
    }

    Failures run(bool& reproduced) {
        if (a_.uses_database()) replay_database();
        reproduced = !failures_.empty();
        if (reproduced) return std::move(failures_);
        simplest_example();
        const bool enter = failures_.empty() ? valid_ < a_.max_examples
                                             : valid_ < a_.max_examples && a_.report_multiple_bugs;
        if (enter) generation_loop();
        if (failures_.empty()) end_without_failures();
        return std::move(failures_);
    }

private:
    // ---- executor protocol
    Outcome run_wrapped(PyObject* data, const RefList* names, TrieCheck* check, bool time_draws = true) {
        if (!a_.executor) return run_one_named(a_.test.get(), a_.strategies, data, names, check, time_draws);
        py::Ref token = py::none();
        if (PyObject* setup = PyObject_GetAttrString(a_.executor.get(), "setup_example")) {
            py::Ref owned = py::Ref::steal(setup);
            token = py::call(setup);
        } else {
            py::drop_exception();
        }
        Outcome o;
        try {
            o = run_one_named(a_.test.get(), a_.strategies, data, names, check, time_draws);
        } catch (const py::Err&) {
            teardown(token.get());
            throw;
        }
        teardown(token.get());
        return o;
    }

    // Runs one example. Once a failure is found, an example that skips,
    // exits or misuses the library is no failure of the test, and the
    // failures found stand: it comes back empty. Before that, those end the
    // run.
    std::optional<Outcome> run_example(PyObject* data, const RefList* names, TrieCheck* check,
                                       bool time_draws = true) {
        try {
            return run_wrapped(data, names, check, time_draws);
        } catch (const py::Err&) {
            if (failures_.empty() || !drop_not_this_failure()) throw;
            return std::nullopt;
        }
    }

    // The token is passed as the one argument, whatever its type (a tuple
    // is not spread into several). An ordinary error of the teardown is
    // dropped and the example's own error, if one is pending, stays so; an
    // interrupt or exit request raised there is passed on in its place.
    void teardown(PyObject* token) {
        py::Ref pending = py::fetch_error();
        quietly([&] { py::call_method(a_.executor.get(), "teardown_example", token); });
        if (pending) py::restore_error(pending.get());
    }

    // ---- example database
    void replay_database() {
        py::Ref key = key_bytes(a_);
        py::Ref got = py::Ref::steal(PyObject_CallMethod(a_.database.get(), "fetch", "O", key.get()));
        py::Ref iter = py::Ref::steal(got ? PyObject_GetIter(got.get()) : nullptr);
        got.reset();
        if (!iter) {
            py::drop_exception();
            return;
        }
        for (;;) {
            PyObject* next = PyIter_Next(iter.get());
            if (!next) {
                // Exhausted, or the iteration failed: either way the phase
                // is over (an iterator may fail on every request).
                py::drop_exception();
                return;
            }
            py::Ref item = py::Ref::steal(next);
            std::string bytes;
            if (!to_byte_string(item.get(), bytes)) continue;
            RefList choices;
            try {
                choices = database::decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            } catch (const py::Err&) {
                py::drop_exception();
                delete_stored(a_, item.get());
                continue;
            }
            py::Ref rec = record_for_choices(choices);
            std::optional<Outcome> run = run_example(rec.get(), nullptr, nullptr);
            if (!run) continue;  // kept: it may still fail where it does not skip
            Outcome& o = *run;
            if (o.kind == OutcomeKind::Interesting) {
                keep_simpler(rec.get(), o, item.get());
            } else {
                delete_stored(a_, item.get());
            }
        }
    }

    // ---- examples
    FailureEntry* find_origin(const Origin& o) {
        for (FailureEntry& f : failures_)
            if (f.origin == o) return &f;
        return nullptr;
    }

    void add_rejected_path(PyObject* rec) {
        quietly([&] {
            node_seq(rec, path_);
            rejection_.add(path_);
        });
    }

    void book_rejected(PyObject* rec, bool add_path) {
        ++rejected_;
        if (record_status(rec) == data::Status::Overrun) ++overruns_;
        if (add_path) add_rejected_path(rec);
    }

    // Keeps the failure `o` of the record `rec`: as a new one when its
    // origin is new (true), else in place of the failure of that origin
    // kept so far when it comes first in the order of failures. `item` is
    // the database item it was replayed from; a failure found by this run
    // is saved at once instead, so that a run cut short later (killed while
    // it shrinks) does not lose it. The item of a failure it replaces
    // stays: it goes with the failure of that origin.
    bool keep_simpler(PyObject* rec, Outcome& o, PyObject* item) {
        Origin origin = origin_of(o.exc.get());
        FailureEntry* known = find_origin(origin);
        if (known && !rank_less(rec, known->rank)) return false;
        FailureEntry f{std::move(origin), extract_choices(rec), std::move(o.args), std::move(o.exc), rank_of(rec), {}};
        if (item) f.stored = py::Ref::borrow(item);
        else if (known) f.stored = std::move(known->stored);
        else f.stored = save_choices(a_, f.choices);
        if (!known) {
            failures_.push_back(std::move(f));
            return true;
        }
        *known = std::move(f);
        return false;
    }

    // Books a failure found at call number `call`. Only a new origin counts
    // for the stop rule.
    void book_failure(PyObject* rec, Outcome& o, uint64_t call) {
        if (!keep_simpler(rec, o, nullptr)) return;
        latest_new_ = call;
        if (!first_seen_) {
            first_failure_ = call;
            first_seen_ = true;
        }
    }

    void simplest_example() {
        data::Prefix prefix;
        prefix.push_back(data::PrefixEntry::Simplest());
        py::Ref rec = data::wrap_record(data::BrindlemarData::build_with_seed(0, std::move(prefix), std::nullopt));
        Outcome o = run_wrapped(rec.get(), names_, nullptr);
        calls_ = 1;
        switch (o.kind) {
            case OutcomeKind::Passed: valid_ = 1; break;
            case OutcomeKind::Rejected: book_rejected(rec.get(), true); break;
            case OutcomeKind::Interesting: book_failure(rec.get(), o, 1); break;
            case OutcomeKind::Duplicate: break;
        }
        probe_.reset();
        track_example(rec.get());
        draw_sum_ = last_draw_secs();
    }

    void track_example(PyObject* rec) {
        if (!tracking_) return;
        size_t n = 0;
        try {
            if (data::is_record(rec)) {
                data::RecordRef r(rec);
                n = r->nodes.size();
            } else {
                py::Ref nodes = py::getattr(rec, "nodes");
                Py_ssize_t len = PyObject_Size(nodes.get());
                if (len < 0) throw py::Err{};
                n = static_cast<size_t>(len);
            }
        } catch (const py::Err&) {
            py::drop_exception();
            tracking_ = false;
            return;
        }
        if (n > MAX_TRACKED_CHOICES) {
            tracking_ = false;
            return;
        }
        // The path the duplicate check read, with any choices the test made
        // since; else read afresh.
        try {
            if (probe_.read) node_seq_extend(rec, probe_.path);
            else node_seq(rec, probe_.path);
        } catch (const py::Err&) {
            py::drop_exception();
            return;
        }
        for (const PathElement& e : probe_.path) {
            if (!e.branch_count) {
                tracking_ = false;
                return;
            }
        }
        novelty_.add(probe_);
        tracked_ += probe_.path.size;
        if (tracked_ >= MAX_TRACKED_TOTAL) tracking_ = false;
    }

    void generation_loop() {
        const uint64_t bound = uint64_t(a_.max_examples) * 10 + 100;
        // One record object serves example after example while nothing else
        // keeps it.
        py::Ref rec;
        for (uint64_t i = 0; i < bound; ++i) {
            if (rec) data::restart_record(rec.get(), a_.seed + i);
            else rec = data::wrap_record(data::BrindlemarData::build_with_seed(a_.seed + i, std::nullopt, std::nullopt));
            TrieCheck check{novelty_, probe_};
            probe_.reset();
            // The draws are timed only while the too_slow check can still
            // fire: after this example it can only if it can now.
            Outcome o = run_example(rec.get(), names_, tracking_ ? &check : nullptr, too_slow_possible())
                            .value_or(Outcome{OutcomeKind::Rejected, {}, {}});
            bool go_on = true;
            switch (o.kind) {
                case OutcomeKind::Passed: ++valid_; break;
                case OutcomeKind::Rejected: book_rejected(rec.get(), valid_ == 0); break;
                case OutcomeKind::Interesting:
                    book_failure(rec.get(), o, calls_ + 1);
                    go_on = a_.report_multiple_bugs;
                    break;
                case OutcomeKind::Duplicate: break;
            }
            track_example(rec.get());
            if (tracking_ && novelty_.exhausted()) go_on = false;
            draw_sum_ += last_draw_secs();
            if (too_slow_possible() && draw_sum_ > slow_limit_) too_slow();
            ++calls_;
            if (a_.report_multiple_bugs && !failures_.empty()) {
                const uint64_t twice = latest_new_ > std::numeric_limits<uint64_t>::max() / 2
                                           ? std::numeric_limits<uint64_t>::max()
                                           : latest_new_ * 2;
                const uint64_t stop_at = std::min(twice, first_failure_ + 1000);
                if (calls_ >= 10 && calls_ >= stop_at) go_on = false;
            }
            // The example's record goes here, as a fresh one per example would.
            if (!data::recycle_record(rec.get())) rec.reset();
            if (!go_on) break;
            if (valid_ == 0 && rejected_ >= invalid_limit_) break;
            if (valid_ >= a_.max_examples) break;
        }
    }

    // ---- endings
    bool too_slow_possible() const { return valid_ <= 9 && !suppress_slow_ && failures_.empty(); }

    [[noreturn]] void too_slow() {
        char secs[64];
        std::snprintf(secs, sizeof secs, "%.2f", draw_sum_);
        std::string msg = "Data generation is extremely slow: Only produced " + std::to_string(valid_) +
                          " valid examples in " + secs +
                          " seconds of generation (HealthCheck.too_slow). Try decreasing the size of the "
                          "data you're generating, or disable the health check.";
        raise_instance(make_run_error({{"quorvantis.errors", "FailedHealthCheck"},
                                       {"quorvantis_fast.errors", "FailedHealthCheck"}},
                                      PyExc_RuntimeError, msg)
                           .get());
    }

    [[noreturn]] void unsatisfiable(const std::string& msg) {
        raise_instance(make_run_error({{"quorvantis.errors", "Unsatisfiable"},
                                       {"quorvantis_fast.errors", "Unsatisfiable"}},
                                      PyExc_AssertionError, msg)
                           .get());
    }

    std::string test_name() const {
        if (!a_.test_name) return "test";
        return py::utf8(a_.test_name.get());
    }

    void end_without_failures() {
        if (valid_ > 0 || rejected_ == 0) return;
        const std::string name = test_name();
        if (overruns_ == rejected_) {
            unsatisfiable("Examples for " + name + " were too large to generate: all " + std::to_string(overruns_) +
                          " tried ran over the size limit. Ask for smaller ones, e.g. a lower max_size for "
                          "collections, or fewer draws per example.");
        }
        if (rejection_.exhausted()) {
            unsatisfiable("Unable to satisfy assumptions of test: all possible values were rejected (Unsatisfiable).");
        }
        if (suppress_filter_) {
            const std::string n = std::to_string(rejected_);
            unsatisfiable("Unable to satisfy assumptions of " + name + ". " + n + " of " + n +
                          " examples failed a .filter() or assume() condition. Try making your filters or "
                          "assumes less strict, or rewrite using strategy parameters: "
                          "st.integers().filter(lambda x: x > 0) fails less often (that is, never) when "
                          "rewritten as st.integers(min_value=1).");
        }
        raise_instance(make_run_error({{"quorvantis.errors", "FailedHealthCheck"},
                                       {"quorvantis_fast.errors", "Unsatisfiable"}},
                                      PyExc_RuntimeError,
                                      "It looks like your strategy filters out a lot of data; the test was "
                                      "unable to find any valid examples (filter_too_much).")
                           .get());
    }

    const RunArgs& a_;
    const RefList* names_ = nullptr;
    bool suppress_filter_ = false;
    bool suppress_slow_ = false;
    double slow_limit_ = 30.0;
    uint64_t invalid_limit_ = 0;
    Failures failures_;
    uint64_t calls_ = 0;
    uint32_t valid_ = 0;
    uint64_t rejected_ = 0;
    uint64_t overruns_ = 0;
    double draw_sum_ = 0.0;
    uint64_t first_failure_ = 0;
    uint64_t latest_new_ = 0;
    bool first_seen_ = false;
    TreeNode novelty_;
    TreeNode rejection_;
    bool tracking_ = true;
    uint64_t tracked_ = 0;
    Path path_;    // rejected paths
    Probe probe_;  // the path of the example running
};

}  // namespace

Failures generate(const RunArgs& a, bool& reproduced) {
    Generation g(a);
    return g.run(reproduced);
}

}  // namespace engine
