// Node helpers of map, flatmap and filter shared with the typed views and
// the filter rewriting.
#include "strategy/object.hpp"

namespace strategy {

bool base_is_list(PyObject* o) { return node_if<kinds::Lists>(o) != nullptr; }

std::optional<std::pair<py::Ref, py::Ref>> as_filter_node(PyObject* o) {
    if (const auto* f = node_if<kinds::Filter>(o)) return std::pair(f->base, f->condition);
    return std::nullopt;
}

StrategyNode chain_filter_node(PyObject* base, const std::vector<py::Ref>& conditions) {
    if (conditions.empty()) py::throw_fault("chain_filter_node called without conditions");
    py::Ref cur = py::Ref::borrow(base);
    for (size_t i = 0; i + 1 < conditions.size(); ++i) {
        cur = SearchStrategy::wrap(kinds::Filter{std::move(cur), conditions[i]});
    }
    return kinds::Filter{std::move(cur), conditions.back()};
}

py::Ref plain_filter(PyObject* self, PyObject* condition) {
    return SearchStrategy::wrap(kinds::Filter{py::Ref::borrow(self), py::Ref::borrow(condition)});
}

}  // namespace strategy
