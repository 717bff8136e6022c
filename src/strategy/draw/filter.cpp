// The draw of the Filter kind: redraw the base until the condition holds,
// with a fast path that picks among the values of a sampled base by index.
#include <algorithm>
#include <vector>

#include "data/record.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/draw/filter.hpp"
#include "strategy/node_queries.hpp"
#include "strategy/object.hpp"

namespace strategy {

namespace {

// A filter gives up after this many rejected draws of its base (so it calls
// the base and the condition one time more).
constexpr int MAX_FILTER_RETRIES = 50;
// Longest range whose values the fast path lists.
constexpr uint64_t MAX_LISTED_RANGE = 1000000;
// The scan over sampled values looks at no more than this many.
constexpr uint64_t MAX_SCANNED_VALUES = 9997;

// The package's `_record_draw_event`: from the loaded module, else imported.
py::Ref event_hook() {
    static py::Name k_module{"quorvantis_fast.native_strategies"};
    static py::Name k_hook{"_record_draw_event"};
    py::Ref mod = py::import(k_module.get());
    return py::check(PyObject_GetAttr(mod.get(), k_hook.get()));
}

// Sends the retry event of a filter node: its text, made once per node.
// Best effort: when the base has no repr nothing is sent, and every ordinary
// failure is dropped (an interrupt propagates).
void report_retry(const kinds::Filter& node) {
    try {
        py::Ref text = node.retry_text;
        if (!text) {
            text = py::str("Retried draw from " + child_repr(node.base.get()) + ".filter(" +
                           fn_repr(node.condition.get()) + ") to satisfy filter");
            if (!node.retry_text) node.retry_text = text;
        }
        py::Ref hook = event_hook();
        py::call(hook.get(), text.get());
    } catch (...) {
        py::drop_exception();
    }
}

// The values of a range base, when it is short enough to list; nullopt for
// a longer or empty range and for any failure on the way (dropped).
std::optional<Refs> list_range(PyObject* range) {
    Py_ssize_t n = PyObject_Length(range);
    if (n < 0) {
        py::drop_exception();
        return std::nullopt;
    }
    if (n < 1 || static_cast<uint64_t>(n) > MAX_LISTED_RANGE) return std::nullopt;
    PyObject* iter = PyObject_GetIter(range);
    if (!iter) {
        py::drop_exception();
        return std::nullopt;
    }
    py::Ref owned = py::Ref::steal(iter);
    Refs values;
    values.reserve(static_cast<size_t>(n));
    while (PyObject* item = PyIter_Next(iter)) values.push_back(py::Ref::steal(item));
    if (PyErr_Occurred()) {
        py::drop_exception();
        return std::nullopt;
    }
    return values;
}

}  // namespace

bool test_condition(PyObject* condition, PyObject* value) {
    py::Ref r = call_with_one(condition, value);
    return py::truthy(r.get());
}

py::Ref sampled_from_filter_draw(const Refs& values, PyObject* condition, PyObject* record) {
    const uint64_t n = values.size();
    // The indices rejected by the tries: at most three, so a small array.
    uint64_t tried[3];
    size_t n_tried = 0;
    auto was_tried = [&](uint64_t i) { return std::find(tried, tried + n_tried, i) != tried + n_tried; };
    for (int attempt = 0; attempt < 3; ++attempt) {
        const uint64_t i = draw_index_rs(record, n);
        if (was_tried(i)) continue;
        if (test_condition(condition, values[i].get())) return values[i];
        set_has_discards(record);
        tried[n_tried++] = i;
    }
    const uint64_t remaining = n - n_tried;
    if (remaining == 0) mark_invalid(record);

    // Pick a position among the acceptable values first, then find it by
    // scanning, so that the scan usually stops early.
    const uint64_t wanted = draw_index_rs(record, std::min(remaining, MAX_SCANNED_VALUES));
    std::vector<uint64_t> acceptable;
    const uint64_t scanned = std::min(n, MAX_SCANNED_VALUES);
    for (uint64_t i = 0; i < scanned; ++i) {
        if (was_tried(i)) continue;
        if (!test_condition(condition, values[i].get())) continue;
        if (acceptable.size() == wanted) return values[i];
        acceptable.push_back(i);
    }
    if (acceptable.empty()) mark_invalid(record);
    const uint64_t j = draw_index_rs(record, acceptable.size());
    return values[acceptable[j]];
}

py::Ref draw_filter(const kinds::Filter& node, PyObject* record) {
    PyObject* base = node.base.get();
    PyObject* condition = node.condition.get();
    if (const SearchStrategy* s = as_strategy(base)) {
        if (const auto* sampled = s->node.get<kinds::SampledFrom>(); sampled && !sampled->values.empty()) {
            // The base's node outlives the draw: the Filter node holds the
            // base, and nodes never change.
            return sampled_from_filter_draw(sampled->values, condition, record);
        }
        if (const auto* range = s->node.get<kinds::SampledFromRange>()) {
            if (std::optional<Refs> values = list_range(range->range.get())) {
                return sampled_from_filter_draw(*values, condition, record);
            }
        }
    }
    for (int attempt = 1;; ++attempt) {
        py::Ref v = draw_child(base, record);
        if (test_condition(condition, v.get())) return v;
        set_has_discards(record);
        if (attempt == 1) report_retry(node);
        else if (attempt > MAX_FILTER_RETRIES) mark_invalid(record);
    }
}

}  // namespace strategy
