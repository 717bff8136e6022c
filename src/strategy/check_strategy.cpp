#include "strategy/check_strategy.hpp"

#include "strategy/errors.hpp"
#include "strategy/node_queries.hpp"
#include "strategy/object.hpp"

namespace strategy {

bool is_strategy(PyObject* o) {
    if (is_search_strategy(o)) return true;
    try {
        py::Ref upstream = py::import_attr("quorvantis_fast.strategies", "_real_quorvantis");
        py::Ref strategies = py::getattr(upstream.get(), "strategies");
        py::Ref cls = py::getattr(strategies.get(), "SearchStrategy");
        int r = PyObject_IsInstance(o, cls.get());
        if (r < 0) throw py::Err{};
        return r == 1;
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

void check_strategy(PyObject* o, std::string_view label) {
    if (is_strategy(o)) return;
    std::string r = py::repr(o);
    raise_invalid_argument("Expected a SearchStrategy but got " + std::string(label) + "=" + r +
                           " (type=" + py::type_name(o) + ")");
}

void check_foreign_strategy(PyObject* o) {
    if (!has_do_draw(o)) raise_expected_strategy(o);
    if (py::optional_module("quorvantis.control")) return;
    raise_invalid_argument(py::repr(o) + " (type=" + py::type_name(o) +
                           ") looks like a strategy of the quorvantis library, which is not installed");
}

bool has_do_draw(PyObject* o) {
    static py::Name k_do_draw{"do_draw"};
    if (py::Ref::steal(PyObject_GetAttr(o, k_do_draw.get()))) return true;
    py::drop_exception();
    return false;
}

bool strat_is_empty(PyObject* o) {
    const SearchStrategy* s = as_strategy(o);
    if (!s) return false;
    try {
        return node_is_empty(s->node);
    } catch (...) {
        py::drop_exception();
        return false;
    }
}

}  // namespace strategy
