// Inside the record's sources: the Python entry points of BrindlemarData,
// defined across the record's files and gathered into one class in record.cpp.
#pragma once

#include "data/record.hpp"

namespace data::py_record {

inline RecordObject* obj(PyObject* self) { return reinterpret_cast<RecordObject*>(self); }

// A new dict of the given (key, value) pairs, in order (values borrowed).
py::Ref make_dict(std::initializer_list<std::pair<PyObject*, PyObject*>> items);

// Draw methods (draw_methods.cpp).
PyObject* draw_integer(QF_FASTCALL_ARGS);
PyObject* draw_float(QF_FASTCALL_ARGS);
PyObject* draw_string(QF_FASTCALL_ARGS);
PyObject* draw_bytes(QF_FASTCALL_ARGS);
PyObject* draw_boolean(QF_FASTCALL_ARGS);
PyObject* choice(QF_FASTCALL_ARGS);

// Strategy draw (strategy_draw.cpp): the method, and its work once the
// arguments are read.
PyObject* draw(QF_FASTCALL_ARGS);
py::Ref draw_strategy(PyObject* self, PyObject* strategy, uint64_t label);

// Spans, notes, status (spans.cpp).
PyObject* start_span(QF_FASTCALL_ARGS);
PyObject* stop_span(QF_FASTCALL_ARGS);
PyObject* freeze(QF_FASTCALL_ARGS);
PyObject* note(QF_FASTCALL_ARGS);
PyObject* mark_invalid(QF_FASTCALL_ARGS);
PyObject* mark_overrun(QF_FASTCALL_ARGS);
PyObject* mark_interesting(QF_FASTCALL_ARGS);
PyObject* conclude_test(QF_FASTCALL_ARGS);

// Views (views.cpp).
extern PyGetSetDef getset[];
PyObject* repr(PyObject* self);

}  // namespace data::py_record
