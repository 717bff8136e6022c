#include "engine/rank.hpp"

#include "choice/choice.hpp"
#include "data/record.hpp"
#include "engine/shrinker.hpp"

namespace engine {

namespace {

struct Choice {
    PyObject* value;
    const data::NodeConstraints& constraints;
    choice::ChoiceType type;
};

Choice view(const RankedChoice& c) { return {c.value.get(), c.constraints, c.type}; }
Choice view(const ChoiceView& c) { return {c.value.get(), c.constraints, c.type}; }
Choice view(const data::NodeData& n) {
    return {n.value.get(), n.constraints, static_cast<choice::ChoiceType>(n.choice_type)};
}

int kind_of(choice::ChoiceType t) {
    return t == choice::ChoiceType::Boolean ? 0 : static_cast<int>(t) + 1;
}

// Whether `x` comes before `y`, both at the same position.
int compare(const Choice& x, const Choice& y) {
    if (kind_of(x.type) != kind_of(y.type)) return kind_of(x.type) < kind_of(y.type) ? -1 : 1;
    return x.constraints.compare_index(x.value, y.value, y.constraints);
}

template <class A, class B>
bool less(const A& a, const B& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        if (int c = compare(view(a[i]), view(b[i]))) return c < 0;
    }
    return false;
}

}  // namespace

Rank rank_of(PyObject* record) {
    data::RecordRef r(record);
    Rank out;
    out.reserve(r->nodes.size());
    for (const data::NodeData& n : r->nodes)
        out.push_back({n.value, n.constraints, static_cast<choice::ChoiceType>(n.choice_type)});
    return out;
}

Rank rank_of(const std::vector<ChoiceView>& nodes) {
    Rank out;
    out.reserve(nodes.size());
    for (const ChoiceView& n : nodes) out.push_back({n.value, n.constraints, n.type});
    return out;
}

bool rank_less(const Rank& a, const Rank& b) { return less(a, b); }

bool rank_less(PyObject* record, const Rank& b) {
    data::RecordRef r(record);
    return less(r->nodes, b);
}

bool replay_less(PyObject* record, const std::vector<ChoiceView>& b) {
    data::RecordRef r(record);
    const std::vector<data::NodeData>& a = r->nodes;
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        PyObject* x = a[i].value.get();
        PyObject* y = b[i].value.get();
        if (x == y || choice::choice_equal(x, y)) continue;
        return compare(view(a[i]), view(b[i])) < 0;
    }
    return false;
}

}  // namespace engine
