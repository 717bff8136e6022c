// Strategy objects: SearchStrategy, its typed views and DataObject, their
// classes and the queries and combinators on them.
//
// Building a strategy from native code:
//
//   strategy::kinds::Tuples t;
//   t.elements.push_back(py::Ref::borrow(child));
//   py::Ref s = strategy::SearchStrategy::wrap(std::move(t));
//
// Every function throws py::Err with the Python error set on failure.
#pragma once

#include <cstdint>
#include <string_view>

#include "py/py.hpp"
#include "strategy/node.hpp"

namespace strategy {

// ---------------------------------------------------------------------------
// Objects. Strategy objects are never changed once made.

struct SearchStrategy : py::DictObject {
    uint64_t id;  // the strategy's label
    StrategyNode node;

    // The only road from a new node to a new plain SearchStrategy.
    static py::Ref wrap(StrategyNode&& node);
};

// The typed views: same node and id, plus the fields they expose.
struct SizedView : SearchStrategy {
    uint64_t min_size, max_size;
};
struct ListStrategy : SizedView {
    static py::Ref build(StrategyNode&& node, uint64_t min_size, uint64_t max_size);
};
struct TextStrategy : SizedView {
    static py::Ref build(StrategyNode&& node, uint64_t min_size, uint64_t max_size);
};
struct BytesStrategy : SizedView {
    static py::Ref build(StrategyNode&& node, uint64_t min_size, uint64_t max_size);
};
struct FloatStrategy : SearchStrategy {
    double min_value, max_value;
    static py::Ref build(StrategyNode&& node, double min_value, double max_value);
};
struct IntegersStrategy : SearchStrategy {
    OptInt start, end;
    static py::Ref build(StrategyNode&& node, OptInt start, OptInt end);
};
struct MappedStrategy : SearchStrategy {
    py::Ref mapped_strategy, pack;
    // A Map {base, pack} node with the two fields set to the same objects.
    static py::Ref build(PyObject* base, PyObject* pack);
};
struct FilteredStrategy : SearchStrategy {
    py::Ref filtered_strategy, conditions;  // conditions: a tuple of callables
    // `node` must be a Filter node.
    static py::Ref build(StrategyNode&& node, PyObject* filtered_strategy, PyObject* conditions);
};

// The interactive draw handle of the Data, Functions and Randoms kinds.
struct DataObject {
    PyObject_HEAD
    PyObject* record;
    bool records_notes;

    static py::Ref make(PyObject* record, bool records_notes);
};

// Class objects (borrowed; each made once per process on first request).
PyTypeObject* search_strategy_type();
// The same, or nullptr (no error set) when the class cannot be made.
PyTypeObject* search_strategy_type_or_null();
// Draws a native strategy object's node against `record` (draw_node).
py::Ref draw_native(PyObject* strategy, PyObject* record);
PyTypeObject* list_strategy_type();
PyTypeObject* text_strategy_type();
PyTypeObject* bytes_strategy_type();
PyTypeObject* float_strategy_type();
PyTypeObject* integers_strategy_type();
PyTypeObject* mapped_strategy_type();
PyTypeObject* filtered_strategy_type();
PyTypeObject* data_object_type();

// Exact type SearchStrategy or any subclass.
bool is_search_strategy(PyObject* o);
// The object as a strategy, or nullptr when it is not one.
inline SearchStrategy* as_strategy(PyObject* o) {
    return is_search_strategy(o) ? static_cast<SearchStrategy*>(reinterpret_cast<py::DictObject*>(o))
                                 : nullptr;
}
// The node of a strategy object (o must be one).
inline const StrategyNode& node_of(PyObject* o) { return as_strategy(o)->node; }
// The node of `o` when it is a strategy of that kind, else nullptr.
template <class T> const T* node_if(PyObject* o) {
    SearchStrategy* s = as_strategy(o);
    return s ? s->node.get<T>() : nullptr;
}
// Is `o` drawn inline as a child: a strategy whose class is the module's own
// (SearchStrategy or a typed view) rather than a Python subclass? Errors of
// the class check are dropped as the child-draw rule says.
bool is_native_child(PyObject* o);

// ---------------------------------------------------------------------------
// Typed views and combinators.

// The typed view of a strategy object (the `wrapped_strategy` getter).
py::Ref wrapped_strategy(PyObject* self);
// Lists, Sets, Dictionaries -> ListStrategy; Text -> TextStrategy;
// Binary -> BytesStrategy; any other kind -> SearchStrategy::wrap.
py::Ref build_typed_collection(StrategyNode&& node);

// The Python method `filter`. The default here applies the DataStrategy
// check and builds a plain Filter node; a build with filter rewriting
// replaces it (its last resort is plain_filter).
py::Ref filter_strategy(PyObject* self, PyObject* condition);
// A new plain strategy with the node Filter {self, condition}.
py::Ref plain_filter(PyObject* self, PyObject* condition);
// "Cannot call {} on a DataStrategy. ..." when `self`'s node is Data.
void check_not_data(PyObject* self, const char* method);

// Node queries of the filter machinery.
bool base_is_list(PyObject* o);
// (base, condition) of a strategy with a Filter node.
std::optional<std::pair<py::Ref, py::Ref>> as_filter_node(PyObject* o);
// Filter(...Filter(Filter(base, c1), c2)..., cn); conditions not empty.
StrategyNode chain_filter_node(PyObject* base, const std::vector<py::Ref>& conditions);

}  // namespace strategy
