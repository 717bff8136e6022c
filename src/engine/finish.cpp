// The end of a run that found failures: the replay check of a single
// failure, shrinking, confirmation, saving to the example database, the
// failures of other origins met while shrinking, and the reported result.
#include <algorithm>
#include <optional>

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
// when no such class can be made.
py::Ref flaky_failure(const char* message, std::initializer_list<PyObject*> exceptions) {
    py::Ref list = py::new_list();
    for (PyObject* e : exceptions) py::list_append(list.get(), e);
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
        if (read_record) {
            data::RecordRef rec(record.get());
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

class Ending {
public:
    explicit Ending(const RunArgs& a) : a_(a), rp_(a) {}

    // `stored` (may be null): the database item the failure was replayed
    // from, which stands for the replay check.
    Reported one(FailureEntry f, PyObject* stored) {
        if (a_.max_shrinks != 0 && !stored) {
            Replay r = rp_.replay(borrowed(f.choices), false);
            if (r.interesting && !(origin_of(r.exc.get()) == f.origin)) {
                py::Ref e = flaky_failure(INCONSISTENT_REPLAY, {f.exc.get(), r.exc.get()});
                raise_instance(e.get());
            }
        }
        Shrunk primary = shrunk({std::move(f.args), std::move(f.exc), std::move(f.choices), std::move(f.rank)});
        set_minimal_choices(primary.choices);
        store(primary.choices, stored);
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

    Reported several(Failures failures, const RefList& stored) {
        std::vector<Origin> known;
        Reported out;
        for (size_t i = 0; i < failures.size(); ++i) {
            FailureEntry& f = failures[i];
            known.push_back(f.origin);
            Shrunk s = confirmed(f.origin, {std::move(f.args), std::move(f.exc), std::move(f.choices), {}});
            store(s.choices, i < stored.size() ? stored[i].get() : nullptr);
            out.emplace_back(std::move(s.args), std::move(s.exc));
        }
        for (Shrunk& s : shrink_slipped(std::move(known)))
            out.emplace_back(std::move(s.args), std::move(s.exc));
        return out;
    }

private:
    // Saves the minimal sequence of a failure. One replayed from a database
    // item takes that item's place: a stored failure that shrinks further
    // (the test was changed) is not replayed as it was run after run.
    void store(const RefList& choices, PyObject* stored) {
        std::string saved;
        if (!save_choices(a_, choices, &saved) || !stored) return;
        std::string was;
        if (to_byte_string(stored, was) && was == saved) return;
        delete_stored(a_, stored);
    }

    Shrunk shrunk(Shrunk f) {
        ShrinkResult r = shrink(rp_, std::move(f.choices), std::move(f.args), std::move(f.exc),
                                a_.max_shrinks);
        return Shrunk{std::move(r.args), std::move(r.exc), std::move(r.choices), std::move(r.rank)};
    }

    // `f` with its rank, from a replay of its choices when it has none.
    Shrunk& rank(Shrunk& f) {
        if (!f.rank) f.rank = rank_of(rp_.replay(borrowed(f.choices), true).nodes);
        return f;
    }

    // Shrinks a failure, then replays the result once more; one that does
    // not fail alike is reported with a FlakyFailure as its exception.
    Shrunk confirmed(const Origin& origin, Shrunk f) {
        Shrunk s = shrunk(std::move(f));
        Replay again = rp_.replay(borrowed(s.choices), true);
        if (!again.interesting || !(origin_of(again.exc.get()) == origin)) {
            s.exc = flaky_failure(FALSIFIED_ONCE, {s.exc.get()});
        }
        s.rank = rank_of(again.nodes);
        return s;
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
            if (std::find(seen.begin(), seen.end(), f.origin) != seen.end()) continue;
            seen.push_back(f.origin);
            Shrunk s = confirmed(f.origin, {std::move(f.args), std::move(f.exc), std::move(f.choices), {}});
            save_choices(a_, s.choices);
            results.push_back(std::move(s));
        }
        return results;
    }

    const RunArgs& a_;
    RunReplayer rp_;
};

}  // namespace

Reported handle_failures(const RunArgs& a, Failures failures, RefList stored) {
    Ending end(a);
    if (failures.size() == 1) return end.one(std::move(failures.front()), stored.empty() ? nullptr : stored[0].get());
    return end.several(std::move(failures), stored);
}

}  // namespace engine
