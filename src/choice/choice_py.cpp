// Python functions of the choice model.
#include "choice/choice.hpp"
#include "registry.hpp"

namespace {

using choice::Int;

Int arg_int(PyObject* o, const char* name) {
    try {
        return Int::from_py(o);
    } catch (const py::Err&) {
        py::rethrow_argument_error(name);
    }
}

PyObject* arg_dict(PyObject* o, const char* name) {
    if (!PyDict_Check(o)) {
        try {
            py::raise_cannot_convert(o, "PyDict");
        } catch (const py::Err&) {
            py::rethrow_argument_error(name);
        }
    }
    return o;
}

// f(x, shrink_towards) of two ints, x named `xname`.
PyObject* call_zigzag(Int (*f)(const Int&, const Int&), const py::Sig& sig, const char* xname,
                      PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        auto a = sig.parse<2>(args, nargs, kwnames);
        Int x = arg_int(a[0], xname);
        Int st = arg_int(a[1], "shrink_towards");
        return f(x, st).to_py().release();
    });
}

PyObject* zigzag_index(QF_FASTCALL_ARGS) {
    (void)self;
    static const py::Sig sig{"zigzag_index", {"value", "shrink_towards"}, 1, 1, 1};
    return call_zigzag(choice::zigzag_index_bi, sig, "value", args, nargs, kwnames);
}

PyObject* zigzag_value(QF_FASTCALL_ARGS) {
    (void)self;
    static const py::Sig sig{"zigzag_value", {"index", "shrink_towards"}, 1, 1, 1};
    return call_zigzag(choice::zigzag_value_bi, sig, "index", args, nargs, kwnames);
}

PyObject* choice_to_index(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice_to_index", {"choice", "constraints"}, 2};
        auto a = sig.parse<2>(args, nargs, kwnames);
        PyObject* c = arg_dict(a[1], "constraints");
        return choice::choice_to_index(a[0], c).to_py().release();
    });
}

PyObject* choice_from_index(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice_from_index", {"index", "choice_type", "constraints"}, 3};
        auto a = sig.parse<3>(args, nargs, kwnames);
        Int index = arg_int(a[0], "index");
        std::string type_name = py::arg_str(a[1], "choice_type");
        PyObject* c = arg_dict(a[2], "constraints");
        return choice::choice_from_index(index, type_name, c).release();
    });
}

PyObject* choice_permitted(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice_permitted", {"choice", "constraints"}, 2};
        auto a = sig.parse<2>(args, nargs, kwnames);
        PyObject* c = arg_dict(a[1], "constraints");
        return py::boolean(choice::choice_permitted(a[0], c)).release();
    });
}

PyObject* choice_key(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice_key", {"choice"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return choice::choice_key(a[0]).release();
    });
}

PyObject* choices_key(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choices_key", {"choices"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        return choice::choices_key(a[0]).release();
    });
}

PyObject* choice_equal(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice_equal", {"choice1", "choice2"}, 2};
        auto a = sig.parse<2>(args, nargs, kwnames);
        return py::boolean(choice::choice_equal(a[0], a[1])).release();
    });
}

PyObject* choice_index_order(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"choice_index_order", {"choice1", "constraints1", "choice2", "constraints2"}, 4};
        auto a = sig.parse<4>(args, nargs, kwnames);
        PyObject* c1 = arg_dict(a[1], "constraints1");
        PyObject* c2 = arg_dict(a[3], "constraints2");
        return py::from_i64(choice::compare_indices(a[0], c1, a[2], c2)).release();
    });
}

constexpr int FASTCALL = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef defs[] = {
    {"zigzag_index", QF_FASTCALL(zigzag_index), FASTCALL,
     "zigzag_index(value, *, shrink_towards)\n--\n\n"
     "The place of value in the order shrink_towards, +1, -1, +2, -2, ..."},
    {"zigzag_value", QF_FASTCALL(zigzag_value), FASTCALL,
     "zigzag_value(index, *, shrink_towards)\n--\n\n"
     "The value at place index of the order shrink_towards, +1, -1, +2, -2, ..."},
    {"choice_to_index", QF_FASTCALL(choice_to_index), FASTCALL,
     "choice_to_index(choice, constraints)\n--\n\n"
     "The place of a choice in its type's order under the constraints; 0 is the simplest."},
    {"choice_from_index", QF_FASTCALL(choice_from_index), FASTCALL,
     "choice_from_index(index, choice_type, constraints)\n--\n\n"
     "The choice of the named type at place index of its order under the constraints."},
    {"choice_permitted", QF_FASTCALL(choice_permitted), FASTCALL,
     "choice_permitted(choice, constraints)\n--\n\n"
     "Whether the choice satisfies the constraints."},
    {"choice_index_order", QF_FASTCALL(choice_index_order), FASTCALL,
     "choice_index_order(choice1, constraints1, choice2, constraints2)\n--\n\n"
     "-1, 0 or 1 as the index of choice1 under constraints1 comes before, equals or comes after "
     "that of choice2 under constraints2; a choice without an index comes after one with an index."},
    {"choice_key", QF_FASTCALL(choice_key), FASTCALL,
     "choice_key(choice)\n--\n\n"
     "A key that tells apart choices Python considers equal (True and 1, 0.0 and -0.0)."},
    {"choices_key", QF_FASTCALL(choices_key), FASTCALL,
     "choices_key(choices)\n--\n\nThe tuple of the keys of a sequence of choices."},
    {"choice_equal", QF_FASTCALL(choice_equal), FASTCALL,
     "choice_equal(choice1, choice2)\n--\n\nWhether two choices have equal keys."},
};

}  // namespace

namespace reg {
void choice_functions(PyObject* m) {
    for (auto& d : defs) py::add_function(m, &d);
}
}  // namespace reg
