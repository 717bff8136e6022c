// BrindlemarData.draw: one value of any strategy object. Native strategies
// go to the strategy core inside a span, Python subclasses of SearchStrategy
// through their do_draw inside a span, any other object through its do_draw
// inside a build context of the upstream library.
#include <optional>

#include "data/record.hpp"
#include "data/record_py.hpp"

namespace data {
namespace {
NativeStrategyDraw native_strategies{nullptr, nullptr, nullptr, nullptr};
}  // namespace

void install_native_strategy_draw(NativeStrategyDraw hooks) { native_strategies = hooks; }
}  // namespace data

namespace data::py_record {
namespace {

enum class Kind { Native, Subclass, Foreign };

Kind classify(PyObject* strategy) {
    PyTypeObject* base = native_strategies.strategy_type ? native_strategies.strategy_type() : nullptr;
    if (!base || !PyObject_TypeCheck(strategy, base)) return Kind::Foreign;
    return native_strategies.is_native(strategy) ? Kind::Native : Kind::Subclass;
}

// A span step of the draw: a record held by someone else here is a fault.
template <class F>
void span_step(PyObject* self, F f) {
    std::optional<RecordMut> r;
    try {
        r.emplace(self);
    } catch (const py::Err&) {
        py::drop_exception();
        py::throw_fault("Already borrowed: the record is in use during draw");
    }
    f(**r);
}

py::Ref call_do_draw(PyObject* strategy, PyObject* self) {
    return py::check(PyObject_CallMethod(strategy, "do_draw", "O", self));
}

py::Ref draw_in_span(PyObject* self, PyObject* strategy, Kind kind, uint64_t label) {
    span_step(self, [&](BrindlemarData& r) { r.start_span_rs(label); });
    auto close = [&] {
        span_step(self, [](BrindlemarData& r) {
            if (r.frozen) return;
            r.depth -= 1;
            r.span_events.push_back(SPAN_STOP);
        });
    };
    py::Ref value;
    try {
        value = kind == Kind::Native ? native_strategies.draw(strategy, self) : call_do_draw(strategy, self);
    } catch (const py::Err&) {
        py::Ref err = py::fetch_error();
        close();
        py::restore_error(err.get());
        throw;
    }
    close();
    return value;
}

py::Ref draw_foreign(PyObject* self, PyObject* strategy) {
    if (py::Ref shared = py::Ref::steal(PyObject_GetAttrString(self, "_shared_strategy_draws"))) {
    } else if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        py::drop_exception();
        py::Ref d = py::Ref::steal(PyDict_New());
        if (!d || PyObject_SetAttrString(self, "_shared_strategy_draws", d.get()) < 0) py::drop_exception();
    } else {
        py::drop_exception();
    }
    if (native_strategies.check_foreign) native_strategies.check_foreign(strategy);
    py::Ref control = py::import("quorvantis.control");
    if (py::Ref::steal(PyObject_CallMethod(control.get(), "current_build_context", nullptr))) {
        return call_do_draw(strategy, self);
    }
    // Only an ordinary exception means "no context"; an interrupt or an
    // exit request goes on up.
    py::drop_exception();
    py::Ref wrapped = py::eval_main("(lambda *a, **k: None)");
    py::Ref kw = py::new_dict();
    py::dict_set(kw.get(), "wrapped_test", wrapped.get());
    py::Ref build_context = py::getattr(control.get(), "BuildContext");
    py::Ref args = py::tuple_of({self});
    py::Ref ctx = py::call_args(build_context.get(), args.get(), kw.get());
    py::call_method(ctx.get(), "__enter__");
    py::Ref value = py::Ref::steal(PyObject_CallMethod(strategy, "do_draw", "O", self));
    py::Ref err = value ? py::Ref() : py::fetch_error();
    py::Ref exit_result = py::Ref::steal(PyObject_CallMethod(ctx.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
    if (!exit_result) py::drop_exception();
    if (err) {
        py::restore_error(err.get());
        throw py::Err{};
    }
    return value;
}

}  // namespace

py::Ref draw_strategy(PyObject* self, PyObject* strategy, uint64_t label) {
    Kind kind = classify(strategy);
    if (kind == Kind::Foreign) return draw_foreign(self, strategy);
    return draw_in_span(self, strategy, kind, label);
}

}  // namespace data::py_record

namespace data {

namespace {

py::Name k_draw{"draw"};
// The class's draw method as the class was made (kept for the process).
PyObject* made_draw = nullptr;

// Does record.draw still find the class's own method: neither the class's
// attribute nor the instance's replaces it?
bool draws_as_made(PyObject* record) {
    if (!made_draw || !Py_IS_TYPE(record, record_type())) return false;
    PyObject* own = py_record::obj(record)->base.dict;
    if (own && py::dict_get(own, k_draw.get())) return false;
    py::Ref now = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(record_type()), k_draw.get()));
    if (!now) py::drop_exception();  // the method call below meets it again
    return now.get() == made_draw;
}

}  // namespace

void remember_made_draw() {
    if (!made_draw) made_draw = py::getattr(reinterpret_cast<PyObject*>(record_type()), "draw").release();
}

py::Ref draw_from(PyObject* record, PyObject* strategy) {
    if (draws_as_made(record)) return py_record::draw_strategy(record, strategy, 1);
    return py::check(PyObject_CallMethodObjArgs(record, k_draw.get(), strategy, nullptr));
}

}  // namespace data

namespace data::py_record {

PyObject* draw(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"draw", {"strategy", "label", "observe_as"}, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        if (a[2] && a[2] != Py_None) {
            if (!PyUnicode_Check(a[2])) py::arg_str(a[2], "observe_as");
            Py_ssize_t n;
            if (!PyUnicode_AsUTF8AndSize(a[2], &n)) throw py::Err{};
        }
        // Any label that does not convert to an unsigned 64-bit integer (as
        // ints and objects with __index__ do) is label 1.
        uint64_t label = 1;
        if (a[1] && a[1] != Py_None) {
            py::Ref number = py::Ref::steal(PyNumber_Index(a[1]));
            unsigned long long v = number ? PyLong_AsUnsignedLongLong(number.get()) : 0;
            if (PyErr_Occurred()) py::drop_exception();
            else label = v;
        }
        return draw_strategy(self, a[0], label).release();
    });
}

}  // namespace data::py_record
