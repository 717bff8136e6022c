// The end of a run that found failures: the replay check of a single
// failure, shrinking, confirmation, saving to the example database, the
// failures of other origins met while shrinking, and the reported result.
#include <algorithm>
#include <optional>
#include <string>

#include "choice/choice.hpp"
#include "data/record.hpp"
#include "engine/failures.hpp"
#include "engine/run.hpp"
#include "engine/shrinker.hpp"

namespace engine {
namespace {

constexpr const char* INCONSISTENT_REPLAY = "Inconsistent results from replaying a test case!";
constexpr const char* FALSIFIED_ONCE = "Falsified on the first call but did not on a subsequent one";

// A FlakyFailure made with (message, exceptions), or AssertionError(message)
// when no such class can be made. No Exception can hold an exception that is
// none (GeneratorExit, a cancellation): a list with one makes the package's
// FlakyBaseFailure, alike with the upstream layer or without.
py::Ref flaky_failure(const char* message, std::initializer_list<PyObject*> exceptions) {
    py::Ref list = py::new_list();
    bool ordinary = true;
    for (PyObject* e : exceptions) {
        py::list_append(list.get(), e);
        ordinary = ordinary && PyErr_GivenExceptionMatches(e, PyExc_Exception);
    }
    if (!ordinary) {
        return make_run_error({{"quorvantis_fast.errors", "FlakyBaseFailure"}}, PyExc_AssertionError, message,
                              list.get());
    }
    return make_run_error({{"quorvantis.errors", "FlakyFailure"},
                           {"quorvantis_fast.errors", "FlakyFailure"}},
                          PyExc_AssertionError, message, list.get());
}

// Every replay of the ending: a fresh record for the sequence, run without
// argument names, novelty trie or executor. A replay that skips, exits or
// misuses the library does not fail: it is no example of the failure found,
// which still stands.
class RunReplayer final : public Replayer {
public:
    explicit RunReplayer(const RunArgs& a) : a_(a) {}

    Replay replay(Choices choices, bool read_record) override {
        py::Ref record = data::wrap_record(data::BrindlemarData::new_for_choices(choices));
        Outcome o;
        try {
            o = run_one_named(a_.test.get(), a_.strategies, record.get(), nullptr, nullptr);
        } catch (const py::Err&) {
            if (!drop_not_this_failure()) throw;
        }
        Replay r;
        r.interesting = o.kind == OutcomeKind::Interesting;
        r.args = std::move(o.args);
        r.exc = std::move(o.exc);
        r.record = std::move(record);
        if (read_record) {
            data::RecordRef rec(r.record.get());
            r.choices.reserve(rec->nodes.size());
            r.nodes.reserve(rec->nodes.size());
            for (const data::NodeData& n : rec->nodes) {
                r.choices.push_back(n.value);
                r.nodes.push_back(ChoiceView{n.value, n.constraints,
                                             static_cast<choice::ChoiceType>(n.choice_type),
                                             n.was_forced});
            }
        }
        return r;
    }

private:
    const RunArgs& a_;
};

struct Shrunk {
    py::Ref args, exc;
    RefList choices;
    std::optional<Rank> rank;  // where `choices` stand in the order of failures
};

// How long the database is left as it is after a write while a failure is
// shrunk: a simpler sequence found meanwhile waits, so that a shrink writes
// about once a second at most, whatever the speed of the test.
constexpr double STORE_INTERVAL_SECS = 1.0;

// Keeps the database up to date while one failure is shrunk: the latest
// simpler sequence that a trial accepted takes the place of the failure's
// item, at most once every STORE_INTERVAL_SECS (on the draw clock, which
// tests can drive), and each failure of another origin is saved as it is
// met, unless the run found that origin already (and stores it with that
// failure).
class Keeper final : public ShrinkProgress {
public:
    Keeper(const RunArgs& a, StoredFailure& kept, const std::vector<Origin>& found)
        : a_(a), kept_(kept), found_(found) {}

    void improved(Choices simpler) override {
        waiting_.clear();  // keeps its room: a shrink accepts many
        for (PyObject* c : simpler) waiting_.push_back(py::Ref::borrow(c));
        is_waiting_ = true;
    }
    void tried() override {
        if (is_waiting_ && since_.elapsed() >= STORE_INTERVAL_SECS) write();
    }
    void slipped(FailureEntry& f) override {
        if (std::find(found_.begin(), found_.end(), f.origin) == found_.end())
            f.stored = save_choices(a_, f.choices);
    }

    // Writes the sequence still waiting, if any, while the error that ends
    // the shrink (an interrupt, say) is held: what the shrink found is kept.
    void flush_after_error() noexcept {
        py::ErrorStash keep;
        try {
            if (is_waiting_) write();
        } catch (...) {
            py::discard_error();  // the shrink's own error is the one passed on
        }
    }

private:
    void write() {
        kept_.replace(waiting_);
        is_waiting_ = false;
        since_ = timing::DrawClock();
    }

    const RunArgs& a_;
    StoredFailure& kept_;
    const std::vector<Origin>& found_;
    RefList waiting_;  // what a trial accepted last, while is_waiting_
    bool is_waiting_ = false;
    timing::DrawClock since_;
};

class Ending {
public:
    explicit Ending(const RunArgs& a) : a_(a), rp_(a) {}

    // `reproduced`: the failure was replayed from the database item it
    // holds, which stands for the replay check.
    Reported one(FailureEntry f, bool reproduced) {
        found_ = {f.origin};
        StoredFailure kept(a_, std::move(f.stored), reproduced);
        if (a_.max_shrinks != 0 && !reproduced) {
            Replay r = rp_.replay(borrowed(f.choices), false);
            if (r.interesting && !(origin_of(r.exc.get()) == f.origin)) {
                py::Ref e = flaky_failure(INCONSISTENT_REPLAY, {f.exc.get(), r.exc.get()});
                kept.drop();  // nothing is stored for a failure found flaky
                raise_instance(e.get());
            }
        }
        Shrunk primary = shrunk({std::move(f.args), std::move(f.exc), std::move(f.choices), std::move(f.rank)}, kept);
        set_minimal_choices(primary.choices);
        kept.settle(primary.choices);
        std::vector<Shrunk> slipped = shrink_slipped({f.origin});

        Reported out;
        if (slipped.empty() || a_.report_multiple_bugs) {
            out.emplace_back(std::move(primary.args), std::move(primary.exc));
            for (Shrunk& s : slipped) out.emplace_back(std::move(s.args), std::move(s.exc));
            return out;
        }
        const Shrunk* best = &rank(primary);
        for (const Shrunk& s : slipped) {
            if (rank_less(*s.rank, *best->rank)) best = &s;
        }
        out.emplace_back(best->args, best->exc);
        return out;
    }

    Reported several(Failures failures, bool reproduced) {
        for (const FailureEntry& f : failures) found_.push_back(f.origin);
        std::vector<Origin> known;
        Reported out;
        for (FailureEntry& f : failures) {
            known.push_back(f.origin);
            StoredFailure kept(a_, std::move(f.stored), reproduced);
            Shrunk s = confirmed(f.origin, {std::move(f.args), std::move(f.exc), std::move(f.choices), {}}, kept);
            kept.settle(s.choices);
            out.emplace_back(std::move(s.args), std::move(s.exc));
        }
        for (Shrunk& s : shrink_slipped(std::move(known)))
            out.emplace_back(std::move(s.args), std::move(s.exc));
        return out;
    }

private:
    // Shrinks a failure, keeping its database item up to date meanwhile.
    // The item ends as it was, or holding a sequence the shrink went
    // through: the caller settles it with the result.
    Shrunk shrunk(Shrunk f, StoredFailure& kept) {
        Keeper keeper(a_, kept, found_);
        ShrinkProgress* progress = a_.uses_database() ? &keeper : nullptr;  // nothing to keep up to date
        // Generation may have found a simpler failure of the origin after
        // the one it stored: the shrink starts from it, and it waits to be
        // written as what the shrink accepts does.
        if (progress && !kept.holds(f.choices)) keeper.improved(borrowed(f.choices));
        ShrinkResult r;
        try {
            r = shrink(rp_, std::move(f.choices), std::move(f.args), std::move(f.exc), a_.max_shrinks, progress);
        } catch (const py::Err&) {
            keeper.flush_after_error();
            throw;
        }
        return Shrunk{std::move(r.args), std::move(r.exc), std::move(r.choices), std::move(r.rank)};
    }

    // `f` with its rank, from a replay of its choices when it has none.
    Shrunk& rank(Shrunk& f) {
        if (!f.rank) f.rank = rank_of(rp_.replay(borrowed(f.choices), true).nodes);
        return f;
    }

    // Shrinks a failure, then replays the result once more; one that does
    // not fail alike is reported with a FlakyFailure as its exception. When
    // the replay failed with another error, that error goes with the one of
    // the failure's origin, which did not reproduce.
    Shrunk confirmed(const Origin& origin, Shrunk f, StoredFailure& kept) {
        py::Ref found = f.exc;
        Shrunk s = shrunk(std::move(f), kept);
        Replay again = rp_.replay(borrowed(s.choices), true);
        if (!again.interesting) {
            s.exc = flaky_failure(FALSIFIED_ONCE, {s.exc.get()});
        } else if (!(origin_of(again.exc.get()) == origin)) {
            // The shrink's last error may be the other one already (a
            // replay of its best sequence that failed otherwise).
            PyObject* first = origin_of(s.exc.get()) == origin ? s.exc.get() : found.get();
            s.exc = flaky_failure(failed_otherwise(first, again.exc.get()).c_str(), {first, again.exc.get()});
        }
        s.rank = rank_of(again.nodes);
        return s;
    }

    std::string failed_otherwise(PyObject* first, PyObject* then) const {
        const std::string name = a_.test_name ? py::utf8(a_.test_name.get()) : "test";
        return name + " failed with " + err_name(first) +
               ", but when the example was run again it failed with another error, " + err_name(then);
    }

    // Shrinks and saves each failure of a new origin that the shrinks so far
    // met, without collecting further ones meanwhile.
    std::vector<Shrunk> shrink_slipped(std::vector<Origin> seen) {
        struct Restore {
            bool was = slip_enabled();
            ~Restore() { set_slip_enabled(was); }
        } restore;
        set_slip_enabled(false);
        Failures taken = take_slipped();
        std::vector<Shrunk> results;
        for (FailureEntry& f : taken) {
            StoredFailure kept(a_, std::move(f.stored), false);
            if (std::find(seen.begin(), seen.end(), f.origin) != seen.end()) {
                kept.drop();
                continue;
            }
            seen.push_back(f.origin);
            Shrunk s = confirmed(f.origin, {std::move(f.args), std::move(f.exc), std::move(f.choices), {}}, kept);
            kept.settle(s.choices);
            results.push_back(std::move(s));
        }
        return results;
    }

    const RunArgs& a_;
    RunReplayer rp_;
    std::vector<Origin> found_;  // the origins of the failures the run found
};

}  // namespace

Reported handle_failures(const RunArgs& a, Failures failures, bool reproduced) {
    Ending end(a);
    if (failures.size() == 1) return end.one(std::move(failures.front()), reproduced);
    return end.several(std::move(failures), reproduced);
}

}  // namespace engine
