// The element loops of lists, unique_by lists, sets and dicts, shared by the
// draw against a native record and the draw against a foreign one.
//
// `Ask` says how the loop talks to its record:
//   bool more(Many&)              draw one more element?
//   void reject(Many&)            the element just drawn was rejected
//   py::Ref child(PyObject*)      one value of a child strategy
#pragma once

#include "strategy/interpreter.hpp"

namespace strategy::collections {

template <class Ask> py::Ref draw_list(const kinds::Lists& n, Ask ask) {
    py::Ref list = py::new_list(0);
    Many many(n.min_size, n.max_size, n.p_continue);
    while (ask.more(many)) {
        py::Ref v = ask.child(n.elements.get());
        py::list_append(list.get(), v.get());
    }
    return list;
}

template <class Ask> py::Ref draw_unique_by(const kinds::Lists& n, Ask ask) {
    UniqueKeys unique(n.unique_by.get());
    py::Ref list = py::new_list(0);
    Many many(n.min_size, n.max_size, n.p_continue);
    while (ask.more(many)) {
        py::Ref v = ask.child(n.elements.get());
        if (unique.admit(v.get())) py::list_append(list.get(), v.get());
        else ask.reject(many);
    }
    return list;
}

template <class Ask> py::Ref draw_set(const kinds::Sets& n, Ask ask) {
    py::Ref list = py::new_list(0);
    py::Ref seen = py::check(PySet_New(nullptr));
    Many many(n.min_size, n.max_size, n.p_continue);
    while (ask.more(many)) {
        py::Ref v = ask.child(n.elements.get());
        if (seen_before(seen.get(), v.get())) ask.reject(many);
        else py::list_append(list.get(), v.get());
    }
    return py::check(n.frozen ? PyFrozenSet_New(list.get()) : PySet_New(list.get()));
}

template <class Ask> py::Ref draw_dict(const kinds::Dictionaries& n, Ask ask) {
    py::Ref out = py::new_dict();
    Many many(n.min_size, n.max_size, n.p_continue);
    while (ask.more(many)) {
        py::Ref key = ask.child(n.keys.get());
        py::Ref value = ask.child(n.values.get());
        int present = PyDict_Contains(out.get(), key.get());
        if (present < 0) throw py::Err{};
        if (present) {
            ask.reject(many);
            continue;
        }
        py::check_rc(PyDict_SetItem(out.get(), key.get(), value.get()));
    }
    return out;
}

// The native record: choices through Many and children drawn inline.
struct AskNative {
    PyObject* record;
    bool more(Many& many) const { return many.more(record); }
    void reject(Many& many) const { many.reject(record); }
    py::Ref child(PyObject* strategy) const { return draw_child(strategy, record); }
};

}  // namespace strategy::collections
