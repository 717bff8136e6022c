// Draws of the hashed and keyed containers, byte strings and orderings.
#include <utility>

#include "choice/constraints.hpp"
#include "data/record.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/draw_collections.hpp"
#include "strategy/object.hpp"

namespace strategy {

py::Ref draw_sets(const kinds::Sets& n, PyObject* record) {
    return collections::draw_set(n, collections::AskNative{record});
}

py::Ref draw_dictionaries(const kinds::Dictionaries& n, PyObject* record) {
    return collections::draw_dict(n, collections::AskNative{record});
}

py::Ref draw_fixed_dictionaries(const kinds::FixedDictionaries& n, PyObject* record) {
    py::Ref out = py::new_dict();
    for (const auto& [key, strategy] : n.entries) {
        py::Ref v = draw_child(strategy.get(), record);
        py::check_rc(PyDict_SetItem(out.get(), key.get(), v.get()));
    }
    // Each optional key is left out or drawn, on one boolean choice.
    for (const auto& [key, strategy] : n.optional) {
        if (!draw_fair_boolean(record)) continue;
        py::Ref v = draw_child(strategy.get(), record);
        py::check_rc(PyDict_SetItem(out.get(), key.get(), v.get()));
    }
    return out;
}

py::Ref draw_binary(const kinds::Binary& n, PyObject* record) {
    data::RecordMut r(record);
    return r->draw_bytes_rs(n.min_size, n.max_size);
}

py::Ref draw_permutations(const kinds::Permutations& n, PyObject* record) {
    // A forward Fisher-Yates shuffle: the i-th choice picks the item that
    // goes to position i from those not placed yet.
    std::vector<PyObject*> items(n.values.size());
    for (size_t i = 0; i < items.size(); ++i) items[i] = n.values[i].get();
    const int64_t last = static_cast<int64_t>(items.size()) - 1;
    for (int64_t i = 0; i < last; ++i) {
        int64_t j = idraw(record, i, last);
        if (j < i || j > last) py::throw_fault("record returned an index outside its bounds");
        std::swap(items[static_cast<size_t>(i)], items[static_cast<size_t>(j)]);
    }
    py::Ref out = py::new_list(static_cast<Py_ssize_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), py::Ref::borrow(items[i]).release());
    return out;
}

}  // namespace strategy
