// Spans, notes, status and ending a test case.
#include <limits>

#include "choice/constraints.hpp"
#include "data/record.hpp"
#include "data/record_py.hpp"

namespace data {

void BrindlemarData::start_span_rs(uint64_t label) {
    depth += 1;
    if (depth > max_depth) max_depth = depth;
    span_events.push_back(SPAN_START + label_number(label));
}

uint64_t BrindlemarData::label_number(uint64_t label) {
    // Most records see a handful of distinct labels: scan them, and index
    // them in a map only once there are many.
    constexpr size_t SCAN = 32;
    if (labels.size() <= SCAN) {
        for (size_t i = 0; i < labels.size(); ++i) {
            if (labels[i] == label) return i;
        }
        if (labels.size() == SCAN) {
            for (size_t i = 0; i < labels.size(); ++i) label_index.emplace(labels[i], i);
        }
    } else if (auto it = label_index.find(label); it != label_index.end()) {
        return it->second;
    }
    const uint64_t n = labels.size();
    labels.push_back(label);
    if (!label_index.empty()) label_index.emplace(label, n);
    return n;
}

void BrindlemarData::stop_span_rs(bool discard) {
    if (frozen) return;
    if (discard) has_discards = true;
    // Nothing checks that a span is open; the depth saturates rather than wraps.
    if (depth > std::numeric_limits<int64_t>::min()) depth -= 1;
    span_events.push_back(discard ? SPAN_STOP_DISCARD : SPAN_STOP);
}

void BrindlemarData::freeze_rs() {
    if (frozen) return;
    while (depth >= 0) {
        depth -= 1;
        span_events.push_back(SPAN_STOP);
    }
    frozen = true;
}

void BrindlemarData::mark(uint8_t new_status, py::Ref origin) {
    py::Ref old = std::exchange(interesting_origin, std::move(origin));
    status = new_status;
    freeze_rs();
    old.reset();  // may run Python code; the record is consistent by now
    py::Ref counter = py::from_u64(testcounter);
    py::Ref errors = py::import("quorvantis_fast.errors");
    py::Ref cls = py::getattr(errors.get(), "StopTest");
    py::Ref exc = py::call(cls.get(), counter.get());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw py::Err{};
}

[[noreturn]] void frozen_err(const char* name) {
    py::raise_named("quorvantis_fast.errors", "Frozen",
                    std::string("Cannot call ") + name + " on frozen BrindlemarData");
}

namespace py_record {

namespace {

// NumPy's boolean scalar counts as a bool where a flag is expected.
bool arg_flag(PyObject* o, const char* name) {
    if (o != Py_True && o != Py_False && choice::is_numpy_bool(o)) return py::truthy(o);
    return py::arg_bool(o, name);
}

void check_utf8(PyObject* s) {
    Py_ssize_t n;
    if (!PyUnicode_AsUTF8AndSize(s, &n)) throw py::Err{};
}

}  // namespace

PyObject* start_span(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"start_span", {"label"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        RecordMut r(self);
        uint64_t label = py::arg_u64(a[0], "label");
        if (r->frozen) frozen_err("start_span");
        r->start_span_rs(label);
        return py::none().release();
    });
}

PyObject* stop_span(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"stop_span", {"discard"}, 0, 0};
        auto a = sig.parse<1>(args, nargs, kwnames);
        RecordMut r(self);
        bool discard = a[0] ? arg_flag(a[0], "discard") : false;
        r->stop_span_rs(discard);
        return py::none().release();
    });
}

PyObject* freeze(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"freeze", {}, 0};
        sig.parse<0>(args, nargs, kwnames);
        RecordMut r(self);
        r->freeze_rs();
        return py::none().release();
    });
}

PyObject* note(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"note", {"value"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        RecordMut r(self);
        if (r->frozen) frozen_err("note");
        PyObject* value = a[0];
        py::Ref text;
        if (PyUnicode_CheckExact(value)) {
            text = py::Ref::borrow(value);  // str() would only run pending signal handlers
        } else if (PyUnicode_Check(value)) {
            text = py::Ref::steal(PyObject_Str(value));
            if (!text) {
                py::pass_interrupt();  // only an ordinary exception makes the value unprintable
                PyErr_WriteUnraisable(value);
                const std::string name = py::type_name_or_empty(value);
                r->output += name.empty() ? "<unprintable object>" : "<unprintable " + name + " object>";
                return py::none().release();
            }
        } else {
            text = py::check(PyObject_Repr(value));
        }
        // Lone surrogates become replacement characters, one per byte.
        py::Ref bytes = py::check(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
        char* p;
        Py_ssize_t n;
        py::check_rc(PyBytes_AsStringAndSize(bytes.get(), &p, &n));
        std::string_view raw(p, static_cast<size_t>(n));
        bool clean = true;
        for (size_t i = 0; i + 1 < raw.size(); ++i) {
            if (static_cast<unsigned char>(raw[i]) == 0xED &&
                (static_cast<unsigned char>(raw[i + 1]) & 0xE0) == 0xA0) {
                clean = false;
                break;
            }
        }
        if (clean) {
            r->output.append(raw);
        } else {
            py::Ref lenient = py::check(PyUnicode_DecodeUTF8(p, n, "replace"));
            r->output += py::utf8(lenient.get());
        }
        return py::none().release();
    });
}

PyObject* mark_invalid(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"mark_invalid", {"why"}, 0};
        auto a = sig.parse<1>(args, nargs, kwnames);
        RecordMut r(self);
        if (a[0] && a[0] != Py_None) {
            if (!PyUnicode_Check(a[0])) py::arg_str(a[0], "why");
            check_utf8(a[0]);
        }
        r->mark(Status::Invalid, {});
    });
}

PyObject* mark_overrun(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"mark_overrun", {}, 0};
        sig.parse<0>(args, nargs, kwnames);
        RecordMut r(self);
        r->mark(Status::Overrun, {});
    });
}

PyObject* mark_interesting(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"mark_interesting", {"interesting_origin"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        RecordMut r(self);
        r->mark(Status::Interesting, py::Ref::borrow(a[0]));
    });
}

PyObject* conclude_test(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"conclude_test", {"status", "interesting_origin"}, 1};
        auto a = sig.parse<2>(args, nargs, kwnames);
        RecordMut r(self);
        uint8_t status = py::arg_u8(a[0], "status");
        py::Ref origin;
        if (a[1] && a[1] != Py_None) origin = py::Ref::borrow(a[1]);
        r->mark(status, std::move(origin));
    });
}

}  // namespace py_record
}  // namespace data
