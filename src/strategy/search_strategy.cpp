// SearchStrategy: the Python class, its members and the registration of the
// strategy classes.
#include "strategy/object.hpp"

#include <structmember.h>

#include "data/record.hpp"
#include "registry.hpp"
#include "strategy/check_strategy.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/errors.hpp"
#include "strategy/lifetime.hpp"
#include "strategy/node_queries.hpp"

namespace strategy {

void check_not_data(PyObject* self, const char* method) {
    if (node_if<kinds::Data>(self)) {
        raise_invalid_argument(std::string("Cannot call ") + method +
                               " on a DataStrategy. You should probably be using @composite for "
                               "whatever it is you're trying to do.");
    }
}

// ---------------------------------------------------------------------------
// Objects

py::Ref SearchStrategy::wrap(StrategyNode&& node) {
    SearchStrategy* o = alloc_strategy<SearchStrategy>(search_strategy_type(), std::move(node));
    return py::Ref::steal(as_object(o));
}

bool is_search_strategy(PyObject* o) {
    return PyObject_TypeCheck(o, search_strategy_type()) != 0;
}

bool is_native_child(PyObject* o) {
    PyTypeObject* t = Py_TYPE(o);
    if (t == search_strategy_type()) return true;
    if (!PyObject_TypeCheck(o, search_strategy_type())) return false;
    if (t == list_strategy_type() || t == text_strategy_type() || t == bytes_strategy_type() ||
        t == float_strategy_type() || t == integers_strategy_type() ||
        t == mapped_strategy_type() || t == filtered_strategy_type()) {
        return true;
    }
    static py::Name k_module{"__module__"};
    static py::Name k_engine{"quorvantis_fast._engine"};
    py::Ref mod = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(t), k_module.get()));
    if (!mod) {
        py::drop_exception();
        return true;
    }
    int eq = PyObject_RichCompareBool(mod.get(), k_engine.get(), Py_EQ);
    if (eq < 0) {
        py::drop_exception();
        return false;
    }
    return eq == 1;
}

namespace {

SearchStrategy* self_of(PyObject* self) {
    return static_cast<SearchStrategy*>(reinterpret_cast<py::DictObject*>(self));
}

PyObject* strategy_new(PyTypeObject* type, PyObject*, PyObject*) {
    QF_ENTRY(nullptr, { return as_object(alloc_strategy<SearchStrategy>(type, StrategyNode())); });
}

void strategy_dealloc(PyObject* self) {
    py::untrack(self);
    release_strategy(self_of(self));
}

int strategy_traverse(PyObject* self, visitproc visit, void* arg) {
    return visit_strategy(self_of(self), visit, arg).result();
}

py::Name k_repr_override{"_qv_repr_override"};

// The text a composite strategy made by the package prints as, made on first
// use by the callable under `_qv_lazy_repr` (the reprs of its arguments are
// costly and rarely asked for) and kept as the override from then on; an
// empty Ref when there is none.
py::Ref lazy_repr(PyObject* self) {
    static py::Name k_lazy{"_qv_lazy_repr"};
    py::Ref make = py::Ref::steal(PyObject_GetAttr(self, k_lazy.get()));
    if (!make) {
        py::drop_exception();
        return py::Ref();
    }
    py::Ref text = py::check(PyObject_CallNoArgs(make.get()));
    if (!PyUnicode_Check(text.get())) return py::Ref();
    py::check_rc(PyObject_SetAttr(self, k_repr_override.get(), text.get()));
    return text;
}

PyObject* strategy_repr(PyObject* self) {
    QF_ENTRY(nullptr, {
        if (py::Ref o = py::Ref::steal(PyObject_GetAttr(self, k_repr_override.get()))) {
            if (PyUnicode_Check(o.get())) return o.release();
        } else {
            py::drop_exception();
        }
        if (self_of(self)->node.kind() == Kind::Composite) {
            if (py::Ref text = lazy_repr(self)) return text.release();
        }
        return py::str(repr_node(self_of(self)->node)).release();
    });
}

void warn(PyObject* category, const std::string& message) {
    py::Ref warn_fn = py::import_attr("warnings", "warn");
    py::Ref text = py::str(message);
    py::call(warn_fn.get(), text.get(), category);
}

int strategy_bool(PyObject* self) {
    return py::guard(-1, [&]() -> int {
        std::string msg = "bool(" + repr_node(self_of(self)->node) +
                          ") is always True, did you mean to draw a value?";
        py::Ref category = py::import_attr("quorvantis_fast.errors", "QuorvantisWarning");
        warn(category.get(), msg);
        return 1;
    });
}

void append_branches(std::vector<py::Ref>& out, PyObject* s) {
    if (const auto* one = node_if<kinds::OneOf>(s)) {
        for (const py::Ref& b : one->branches) out.push_back(b);
    } else {
        out.push_back(py::Ref::borrow(s));
    }
}

PyObject* strategy_or(PyObject* left, PyObject* right) {
    QF_ENTRY(nullptr, {
        if (!is_search_strategy(left)) Py_RETURN_NOTIMPLEMENTED;
        kinds::OneOf node;
        append_branches(node.branches, left);
        if (is_search_strategy(right)) {
            append_branches(node.branches, right);
        } else {
            if (!has_do_draw(right)) py::raise_value_error("Cannot | a SearchStrategy with " + py::repr(right));
            node.branches.push_back(py::Ref::borrow(right));
        }
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

// ---- methods

PyObject* m_do_draw(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"SearchStrategy.do_draw", {"data"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        const StrategyNode& node = self_of(self)->node;
        if (data::is_record(a[0])) return draw_node(node, a[0]).release();
        return draw_node_foreign(node, a[0]).release();
    });
}

PyObject* m_calc_label(PyObject* self, PyObject*) {
    QF_ENTRY(nullptr, { return py::from_u64(self_of(self)->id).release(); });
}

PyObject* m_class_getitem(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"SearchStrategy.__class_getitem__", {"item"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return py::check(Py_GenericAlias(cls, a[0])).release();
    });
}

// calc_is_empty(recur) and calc_has_reusable_values(recur): `recur` is
// accepted and not used.
PyObject* recur_query(const py::Sig& sig, bool (*query)(const StrategyNode&), PyObject* self,
                      PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        sig.parse<1>(args, nargs, kwnames);
        return py::boolean(query(self_of(self)->node)).release();
    });
}

PyObject* m_calc_is_empty(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"SearchStrategy.calc_is_empty", {"recur"}, 1};
    return recur_query(sig, node_is_empty, self, args, nargs, kwnames);
}

PyObject* m_calc_has_reusable_values(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"SearchStrategy.calc_has_reusable_values", {"recur"}, 1};
    return recur_query(sig, node_has_reusable_values, self, args, nargs, kwnames);
}

// map, flatmap and filter only build nodes.
PyObject* m_map(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"SearchStrategy.map", {"pack"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        check_not_data(self, "map");
        // Asking the upstream library only refines the answer.
        if (is_identity_function(a[0])) return py::Ref::borrow(self).release();
        kinds::Map node{py::Ref::borrow(self), py::Ref::borrow(a[0])};
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

PyObject* m_flatmap(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"SearchStrategy.flatmap", {"expand"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        check_not_data(self, "flatmap");
        kinds::FlatMap node{py::Ref::borrow(self), py::Ref::borrow(a[0])};
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

PyObject* m_filter(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"SearchStrategy.filter", {"condition"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return filter_strategy(self, a[0]).release();
    });
}

PyObject* m_validate(PyObject* self, PyObject*) {
    QF_ENTRY(nullptr, {
        node_validate(self_of(self)->node);
        Py_RETURN_NONE;
    });
}

// ---- example()

// Runs `f`; a Python error it raises is dropped and counts as false.
template <class F> bool or_false(F&& f) {
    try {
        return f();
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

const char* const DEFINITION_MSG =
    "Using example() inside a strategy definition is a bad idea. Instead consider using "
    "quorvantis.strategies.builds() or @quorvantis.strategies.composite to define your strategy.";
const char* const TEST_MSG =
    "Using example() inside a test function is a bad idea. Instead consider using "
    "quorvantis.strategies.data() to draw more examples during testing.";

[[noreturn]] void raise_upstream_exception(const char* message) {
    py::raise_named("quorvantis.errors", "QuorvantisException", message);
}

void example_checks(PyObject* self) {
    bool interactive = or_false([] {
        py::Ref sys = py::import("sys");
        py::getattr(sys.get(), "ps1");
        return true;
    });
    bool under_runner = or_false([] {
        py::Ref environ = py::import_attr("os", "environ");
        py::Ref name = py::str("PYTEST_CURRENT_TEST");
        py::Ref v = py::call_method(environ.get(), "get", name.get());
        return v.get() != Py_None;
    });
    if (!interactive && under_runner) {
        or_false([&] {
            std::string r;
            try {
                r = repr_node(self_of(self)->node);
            } catch (const py::Err&) {
                py::drop_exception();
            }
            py::Ref category = py::optional_attr("quorvantis.errors", "NonInteractiveExampleWarning");
            if (!category) return false;
            warn(category.get(),
                 "The `.example()` method is good for exploring strategies, but should only be "
                 "used interactively.  We recommend using `@given` for tests - it performs "
                 "better, saves and replays failures to avoid flakiness, and reports minimal "
                 "examples. (strategy: " + r + ")");
            return true;
        });
    }
    // Inside a running test of the upstream library?
    py::Ref context;
    or_false([&] {
        py::Ref var = py::optional_attr("quorvantis.control", "_current_build_context");
        if (!var) return false;
        context = py::getattr(var.get(), "value");
        return true;
    });
    if (context && context.get() != Py_None) {
        bool nested = or_false([&] {
            py::Ref d = py::getattr(context.get(), "data");
            py::Ref depth = py::getattr(d.get(), "depth");
            long long v = PyLong_AsLongLong(depth.get());
            if (v == -1 && PyErr_Occurred()) throw py::Err{};
            return v > 0;
        });
        raise_upstream_exception(nested ? DEFINITION_MSG : TEST_MSG);
    }
    bool drawing = or_false([] {
        py::Ref f = py::import_attr("quorvantis_fast.control", "currently_drawing");
        py::Ref r = py::call(f.get());
        return py::truthy(r.get());
    });
    if (drawing) raise_upstream_exception(DEFINITION_MSG);
    if (self_of(self)->node.kind() == Kind::Data) {
        raise_invalid_argument(
            "Cannot call example() on st.data(): it can only draw values inside a running test.");
    }
}

// How an attempt that draws nothing ends: the record stopped, or a draw
// rejected itself (assume() in a map or a composite).
bool is_rejection(PyObject* exc) {
    const std::string name = py::type_name_or_empty(exc);
    return name == "StopTest" || name == "UnsatisfiedAssumption";
}

// While example() draws, each attempt runs as an example of the package's
// controls: assume() and reject() reject it rather than refuse to run
// outside a test, and note() notes on the attempt's record.
class AttemptsAsExamples {
public:
    AttemptsAsExamples() {
        holder_ = py::call(py::import_attr("quorvantis_fast.control", "Example").get());
        swap_ = py::import_attr("quorvantis_fast.control", "swap_notes_to");
        saved_ = py::call(swap_.get(), holder_.get());
    }
    AttemptsAsExamples(const AttemptsAsExamples&) = delete;
    AttemptsAsExamples& operator=(const AttemptsAsExamples&) = delete;
    ~AttemptsAsExamples() {
        py::ErrorStash keep;  // the error that ends example() goes on
        try {
            py::call(swap_.get(), saved_.get());
        } catch (const py::Err&) {
            py::discard_error();
        }
    }
    void attempt(PyObject* record) {
        static py::Name k_record{"record"};
        if (PyObject_SetAttr(holder_.get(), k_record.get(), record) < 0) throw py::Err{};
    }

private:
    py::Ref holder_, swap_, saved_;
};

PyObject* m_example(PyObject* self, PyObject*) {
    QF_ENTRY(nullptr, {
        example_checks(self);
        static py::Name k_draw{"draw"};
        AttemptsAsExamples examples;
        for (int attempt = 0; attempt < 200; ++attempt) {
            py::Ref record = data::wrap_record(
                data::BrindlemarData::build_with_seed(rng::fresh_seed(), std::nullopt, std::nullopt));
            examples.attempt(record.get());
            PyObject* v = PyObject_CallMethodObjArgs(record.get(), k_draw.get(), self, nullptr);
            if (v) return v;
            py::Ref exc = py::fetch_error();
            if (!exc || !is_rejection(exc.get())) {
                if (exc) py::restore_error(exc.get());
                throw py::Err{};
            }
        }
        py::raise_named("quorvantis_fast.errors", "Unsatisfiable", "could not find an example");
    });
}

// ---- getters

PyObject* g_label(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return py::from_u64(self_of(self)->id).release(); });
}
PyObject* g_branches(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return branches(self).release(); });
}
PyObject* g_has_reusable_values(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return py::boolean(node_has_reusable_values(self_of(self)->node)).release(); });
}
PyObject* g_is_empty(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return py::boolean(node_is_empty(self_of(self)->node)).release(); });
}
PyObject* g_intervals(PyObject* self, void*) {
    QF_ENTRY(nullptr, {
        const StrategyNode& node = self_of(self)->node;
        PyObject* alphabet = nullptr;
        if (const auto* t = node.get<kinds::Text>()) alphabet = t->alphabet.get();
        if (const auto* c = node.get<kinds::Characters>()) alphabet = c->alphabet.get();
        if (!alphabet) py::raise(PyExc_AttributeError, "intervals");
        py::Ref intervals = py::getattr(alphabet, "intervals");
        py::Ref cls = py::import_attr("quorvantis.internal.intervalsets", "IntervalSet");
        return py::call(cls.get(), intervals.get()).release();
    });
}
PyObject* g_wrapped_strategy(PyObject* self, void*) {
    QF_ENTRY(nullptr, { return wrapped_strategy(self).release(); });
}

#define QF_METHOD(name, fn, doc) \
    {name, QF_FASTCALL(fn), METH_FASTCALL | METH_KEYWORDS, doc}

PyMethodDef strategy_methods[] = {
    QF_METHOD("do_draw", m_do_draw, "do_draw($self, data)\n--\n\nDraw a value from a record."),
    {"calc_label", m_calc_label, METH_NOARGS, "calc_label($self)\n--\n\nThe strategy's label."},
    {"__class_getitem__", QF_FASTCALL(m_class_getitem), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "__class_getitem__($cls, item)\n--\n\nA generic alias of the class."},
    QF_METHOD("calc_is_empty", m_calc_is_empty, "calc_is_empty($self, recur)\n--\n\n"),
    QF_METHOD("calc_has_reusable_values", m_calc_has_reusable_values,
              "calc_has_reusable_values($self, recur)\n--\n\n"),
    QF_METHOD("map", m_map, "map($self, pack)\n--\n\nApply pack to every drawn value."),
    QF_METHOD("filter", m_filter, "filter($self, condition)\n--\n\nKeep values satisfying condition."),
    QF_METHOD("flatmap", m_flatmap, "flatmap($self, expand)\n--\n\nDraw from the strategy expand returns."),
    {"example", m_example, METH_NOARGS, "example($self)\n--\n\nOne value, drawn outside a test."},
    {"validate", m_validate, METH_NOARGS, "validate($self)\n--\n\nRaise a stored argument error."},
    {nullptr, nullptr, 0, nullptr},
};
#undef QF_METHOD

PyGetSetDef strategy_getset[] = {
    {"label", g_label, nullptr, nullptr, nullptr},
    {"branches", g_branches, nullptr, nullptr, nullptr},
    {"has_reusable_values", g_has_reusable_values, nullptr, nullptr, nullptr},
    {"intervals", g_intervals, nullptr, nullptr, nullptr},
    {"wrapped_strategy", g_wrapped_strategy, nullptr, nullptr, nullptr},
    {"is_empty", g_is_empty, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef strategy_members[] = {
    {"__dictoffset__", T_PYSSIZET, offsetof(py::DictObject, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot strategy_slots[] = {
    {Py_tp_doc, const_cast<char*>("SearchStrategy(*_args, **_kwargs)\n--\n\n"
                                  "A description of how to generate values.")},
    {Py_tp_new, reinterpret_cast<void*>(strategy_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(strategy_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(strategy_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear_strategy)},
    {Py_tp_repr, reinterpret_cast<void*>(strategy_repr)},
    {Py_nb_bool, reinterpret_cast<void*>(strategy_bool)},
    {Py_nb_or, reinterpret_cast<void*>(strategy_or)},
    {Py_tp_methods, strategy_methods},
    {Py_tp_getset, strategy_getset},
    {Py_tp_members, strategy_members},
    {0, nullptr},
};

PyType_Spec strategy_spec = {
    "quorvantis_fast._engine.SearchStrategy",
    static_cast<int>(sizeof(SearchStrategy)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    strategy_slots,
};

}  // namespace

PyTypeObject* search_strategy_type() {
    static PyObject* cell = nullptr;
    return py::type_once(cell, &strategy_spec);
}

PyTypeObject* search_strategy_type_or_null() {
    try {
        return search_strategy_type();
    } catch (const py::Err&) {
        py::drop_exception();
        return nullptr;
    }
}
py::Ref draw_native(PyObject* strategy, PyObject* record) { return draw_node(node_of(strategy), record); }
}  // namespace strategy

void reg::strategy_classes(PyObject* m) {
    using namespace strategy;
    py::add_type(m, "SearchStrategy", reinterpret_cast<PyObject*>(search_strategy_type()));
    py::add_type(m, "DataObject", reinterpret_cast<PyObject*>(data_object_type()));
    py::add_type(m, "IntegersStrategy", reinterpret_cast<PyObject*>(integers_strategy_type()));
    py::add_type(m, "FloatStrategy", reinterpret_cast<PyObject*>(float_strategy_type()));
    py::add_type(m, "FilteredStrategy", reinterpret_cast<PyObject*>(filtered_strategy_type()));
    py::add_type(m, "TextStrategy", reinterpret_cast<PyObject*>(text_strategy_type()));
    py::add_type(m, "BytesStrategy", reinterpret_cast<PyObject*>(bytes_strategy_type()));
    py::add_type(m, "ListStrategy", reinterpret_cast<PyObject*>(list_strategy_type()));
    py::add_type(m, "MappedStrategy", reinterpret_cast<PyObject*>(mapped_strategy_type()));
}
