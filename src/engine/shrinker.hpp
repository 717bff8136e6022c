// The shrinker: turns one failing choice sequence into a simpler one that
// fails with the same origin. It knows nothing of strategies: it hands
// candidate sequences to a Replayer, builds them with the choice orders
// (choice_to_index / choice_from_index) and ranks what a replay recorded
// in the order of failures.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "choice/constraints.hpp"
#include "data/node_constraints.hpp"
#include "engine/example.hpp"
#include "py/py.hpp"

namespace engine {

// One recorded choice of a replay, as the passes read it.
struct ChoiceView {
    py::Ref value;
    data::NodeConstraints constraints;  // what the choice was drawn under
    choice::ChoiceType type;
    bool was_forced;
};

// The outcome of replaying one choice sequence through a fresh record.
struct Replay {
    bool interesting = false;
    py::Ref args;                  // the argument tuple, when interesting
    py::Ref exc;                   // the exception instance, when interesting
    RefList choices;               // what the record consumed (when asked for)
    std::vector<ChoiceView> nodes;  // its recorded choices (when asked for)
    py::Ref record;                // the record it ran on
};

// A choice sequence as borrowed items, for a replay.
using Choices = std::span<PyObject* const>;

// Runs the test once on a fresh record that replays exactly the given choice
// sequence, without argument names, novelty trie or executor; with
// `read_record` the record's choices and nodes are returned too. Throws
// py::Err for an error that must end the run.
class Replayer {
public:
    virtual Replay replay(Choices choices, bool read_record) = 0;

protected:
    ~Replayer() = default;
};

// What a shrink tells its caller as it goes, so that the caller can keep
// what it has found so far (in the example database) while it runs.
class ShrinkProgress {
public:
    // `simpler` failed with the target origin: a trial accepted it. A pass
    // may accept several before it ends (and the shrink's best is what it
    // accepted last), so the caller hears of each as it is accepted.
    virtual void improved(Choices simpler) = 0;
    // A trial has ended.
    virtual void tried() = 0;
    // `f`, a failure of another origin, is about to go into SLIPPED.
    virtual void slipped(FailureEntry& f) = 0;

protected:
    ~ShrinkProgress() = default;
};

struct ShrinkResult {
    py::Ref args;
    py::Ref exc;
    RefList choices;
    // Where `choices` stand in the order of failures, when the shrinker's
    // last replay was of them (absent otherwise).
    std::optional<Rank> rank;
};

// Shrinks `choices` (taken over) that failed with `exc` when called with
// `args`. At most `max_shrinks` rounds make progress and at most 300 rounds
// run. Uses the thread's SHRINK_CALLS, SHRINK_REPORT, SLIP_ENABLED and
// SLIPPED slots. `progress` (may be null) is told of each step.
ShrinkResult shrink(Replayer& replayer, RefList choices, py::Ref args, py::Ref exc, uint64_t max_shrinks,
                    ShrinkProgress* progress = nullptr);

inline constexpr const char* PASS_DELETION = "adaptive_example_deletion";
inline constexpr const char* PASS_INDIVIDUAL = "minimize_individual_choices";
inline constexpr const char* PASS_DUPLICATED = "minimize_duplicated_choices";
inline constexpr const char* PASS_PAIRS = "redistribute_numeric_pairs";

}  // namespace engine
