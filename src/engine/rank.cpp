#include "engine/rank.hpp"

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
Choice view(const data::NodeData& n) {
    return {n.value.get(), n.constraints, static_cast<choice::ChoiceType>(n.choice_type)};
}

int kind_of(choice::ChoiceType t) {
    return t == choice::ChoiceType::Boolean ? 0 : static_cast<int>(t) + 1;
}

template <class A, class B>
bool less(const A& a, const B& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        Choice x = view(a[i]), y = view(b[i]);
        if (kind_of(x.type) != kind_of(y.type)) return kind_of(x.type) < kind_of(y.type);
        int c = x.constraints.compare_index(x.value, y.value, y.constraints);
        if (c != 0) return c < 0;
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

}  // namespace engine
