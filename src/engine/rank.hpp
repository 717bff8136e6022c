// The order of failures: which of two failing choice sequences is the
// simpler. Sequences are kept as their choices with the constraints each
// was drawn under, and compared choice by choice up to the first that
// differs, so that no choice's index is computed unless it decides.
#pragma once

#include <vector>

#include "choice/constraints.hpp"
#include "data/node_constraints.hpp"
#include "py/py.hpp"

namespace engine {

struct ChoiceView;

// One choice of a failing sequence.
struct RankedChoice {
    py::Ref value;
    data::NodeConstraints constraints;
    choice::ChoiceType type;
};
using Rank = std::vector<RankedChoice>;

// The choices of a native record.
Rank rank_of(PyObject* record);
// The recorded choices of a replay.
Rank rank_of(const std::vector<ChoiceView>& nodes);

// The order of failures, in which any two sequences compare: fewer choices
// first; then, at the first position where they differ, the kind of choice
// (boolean, integer, float, string, bytes), then its index in that kind's
// order under the constraints it was drawn with, which is what the shrinker
// lowers. A choice whose index cannot be had ranks after every other choice
// of its kind. True when `a` comes first.
bool rank_less(const Rank& a, const Rank& b);
// The same, for the choices of a native record against `b`.
bool rank_less(PyObject* record, const Rank& b);
// The same for a record that replayed a sequence made from `b`'s choices:
// where it drew equal choices, it drew them under equal constraints (the
// same test on the same choices), so only the first choice that differs
// is ranked.
bool replay_less(PyObject* record, const std::vector<ChoiceView>& b);

}  // namespace engine
