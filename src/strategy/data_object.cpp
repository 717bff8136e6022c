// DataObject: the handle of interactive draws. Each draw goes through the
// record's `draw`, is timed into the engine's per-thread draw time, and, for
// the handle of data(), leaves a note "Draw {n}{ (label)}: {value}" in the
// record's `_data_draws` list.
#include "strategy/check_strategy.hpp"
#include "strategy/object.hpp"
#include "timing/draw_clock.hpp"

namespace strategy {
namespace {

DataObject* self_of(PyObject* o) { return reinterpret_cast<DataObject*>(o); }

py::Ref timed_draw(PyObject* record, PyObject* strategy) {
    static py::Name k_draw{"draw"};
    timing::DrawClock clock;
    py::Ref v = py::check(PyObject_CallMethodObjArgs(record, k_draw.get(), strategy, nullptr));
    timing::add_last_draw_secs(clock.elapsed());
    return v;
}

py::Name k_notes{"_data_draws"};

// The record's `_data_draws` value; empty when it is missing (the error
// dropped) or None.
py::Ref stored_notes(PyObject* record) {
    py::Ref notes = py::Ref::steal(PyObject_GetAttr(record, k_notes.get()));
    if (!notes) py::drop_exception();
    if (notes.get() == Py_None) return {};
    return notes;
}

// The record's `_data_draws` list, made when missing or None.
py::Ref notes_list(PyObject* record) {
    py::Ref list = stored_notes(record);
    if (!list) {
        list = py::new_list(0);
        py::check_rc(PyObject_SetAttr(record, k_notes.get(), list.get()));
    }
    return list;
}

// The text of a value whose formatting raised an ordinary exception (now
// set), as the Python side shows such a value: its type and the error. An
// interrupt, exit or cancellation is thrown (py::take_formatting_error).
py::Ref unrepresentable(PyObject* value) {
    py::Ref error = py::take_formatting_error();
    py::Ref shown = py::import_attr("quorvantis_fast.formatting", "unrepresentable");
    return py::call(shown.get(), value, error.get());
}

// " ({str(label)})"; an ordinary error of str is raised as it is.
std::string label_text(PyObject* label) {
    py::Ref text = py::Ref::steal(PyObject_Str(label));
    if (!text) {
        py::restore_error(py::take_formatting_error().get());
        throw py::Err{};
    }
    return " (" + py::utf8(text.get()) + ")";
}

// The upstream pretty-printer formats a drawn value for its note; without the
// upstream library installed the note falls back to repr, so interactive
// draws work on their own. A value that cannot be formatted is noted as
// unrepresentable: how it is shown never decides the example's outcome.
py::Ref pretty_text(PyObject* value) {
    py::Ref mod = py::optional_module("quorvantis.vendor.pretty");
    py::Ref pretty = mod ? py::getattr(mod.get(), "pretty") : py::Ref{};
    try {
        return pretty ? py::call(pretty.get(), value) : py::check(PyObject_Repr(value));
    } catch (const py::Err&) {
        return unrepresentable(value);
    }
}

PyObject* m_draw(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"DataObject.draw", {"strategy", "label"}, 1};
        auto a = sig.parse<2>(args, nargs, kwnames);
        PyObject* strategy = a[0];
        PyObject* label = a[1] == Py_None ? nullptr : a[1];
        check_strategy(strategy, "data.draw() strategy");
        PyObject* record = self_of(self)->record;
        if (!self_of(self)->records_notes) return timed_draw(record, strategy).release();
        py::Ref notes = notes_list(record);
        Py_ssize_t n = PyObject_Length(notes.get());
        if (n < 0) throw py::Err{};
        py::Ref value = timed_draw(record, strategy);
        std::string label_part;
        if (label) label_part = label_text(label);
        py::Ref text = pretty_text(value.get());
        if (!PyUnicode_Check(text.get())) py::raise_cannot_convert(text.get(), "PyString");
        py::Ref note = py::str("Draw " + std::to_string(n + 1) + label_part + ": " + py::utf8(text.get()));
        static py::Name k_append{"append"};
        py::check(PyObject_CallMethodObjArgs(notes.get(), k_append.get(), note.get(), nullptr));
        return value.release();
    });
}

PyObject* m_is_frozen(PyObject* self, PyObject*) {
    QF_ENTRY(nullptr, {
        py::Ref frozen = py::getattr(self_of(self)->record, "frozen");
        if (!PyBool_Check(frozen.get())) py::raise_cannot_convert(frozen.get(), "PyBool");
        return frozen.release();
    });
}

PyObject* g_record(PyObject* self, void*) { return py::Ref::borrow(self_of(self)->record).release(); }

PyObject* g_drawn_notes(PyObject* self, void*) {
    QF_ENTRY(nullptr, {
        if (py::Ref notes = stored_notes(self_of(self)->record)) return notes.release();
        return PyList_New(0);
    });
}

PyObject* data_repr(PyObject*) { return PyUnicode_FromString("data(...)"); }

void data_dealloc(PyObject* self) {
    py::untrack(self);
    py::clear_field(self_of(self)->record);
    py::free_object(self);
}

// The record is fixed at creation, so the handle has no tp_clear: a cycle
// through it passes through the record, whose clear breaks it.
int data_traverse(PyObject* self, visitproc visit, void* arg) {
    py::Visitor v(self, visit, arg);
    v(self_of(self)->record);
    return v.result();
}

PyMethodDef data_methods[] = {
    {"draw", QF_FASTCALL(m_draw), METH_FASTCALL | METH_KEYWORDS,
     "draw($self, strategy, label=None)\n--\n\nDraw a value from strategy."},
    {"is_frozen", m_is_frozen, METH_NOARGS, "is_frozen($self)\n--\n\nHas the record finished?"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef data_getset[] = {
    {"cd", g_record, nullptr, nullptr, nullptr},
    {"brindlemar_data", g_record, nullptr, nullptr, nullptr},
    {"_drawn_notes", g_drawn_notes, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot data_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(data_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(data_traverse)},
    {Py_tp_repr, reinterpret_cast<void*>(data_repr)},
    {Py_tp_methods, data_methods},
    {Py_tp_getset, data_getset},
    {0, nullptr},
};

// Only the draws of the Data, Functions and Randoms kinds make these.
PyType_Spec data_spec = {
    "quorvantis_fast._engine.DataObject",
    static_cast<int>(sizeof(DataObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_HAVE_GC,
    data_slots,
};

}  // namespace

PyTypeObject* data_object_type() {
    static PyObject* cell = nullptr;
    return py::type_once(cell, &data_spec);
}

py::Ref DataObject::make(PyObject* record, bool records_notes) {
    PyObject* o = py::alloc(data_object_type());
    self_of(o)->record = py::Ref::borrow(record).release();
    self_of(o)->records_notes = records_notes;
    return py::Ref::steal(o);
}

}  // namespace strategy
