// booleans, just, none, nothing, sampled_from, one_of, tuples, lists and deferred.
#include "strategy/check_strategy.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/scalars.hpp"

namespace strategy {

namespace {

// cls is a class and a subclass of enum.<base_name>; any failure is "no".
bool is_enum_subclass(PyObject* cls, const char* base_name) {
    if (!PyType_Check(cls)) return false;
    try {
        py::Ref b = py::import_attr("enum", base_name);
        int r = PyObject_IsSubclass(cls, b.get());
        if (r < 0) throw py::Err{};
        return r == 1;
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

// The annotations of a class, by annotationlib where the interpreter has
// it, else its __annotations__; empty when neither can be read.
py::Ref class_annotations(PyObject* cls) {
    try {
        py::Ref get = py::import_attr("annotationlib", "get_annotations");
        return py::call(get.get(), cls);
    } catch (const py::Err&) {
        py::drop_exception();
    }
    PyObject* r = PyObject_GetAttrString(cls, "__annotations__");
    if (!r) py::drop_exception();
    return py::Ref::steal(r);
}

// The text of a str attribute; empty when missing or not a str.
std::string str_attr(PyObject* o, const char* name) {
    PyObject* v = PyObject_GetAttrString(o, name);
    if (!v) {
        py::drop_exception();
        return std::string();
    }
    py::Ref owned = py::Ref::steal(v);
    if (!PyUnicode_Check(v)) return std::string();
    try {
        return py::utf8(v);
    } catch (const py::Err&) {
        py::drop_exception();
        return std::string();
    }
}

// The strategy for an ordered collection that turned out to hold nothing.
py::Ref empty_sample(PyObject* elements) {
    if (is_enum_subclass(elements, "Flag")) {
        PyObject* zero = PyObject_CallFunction(elements, "i", 0);
        if (zero) {
            kinds::SampledFrom node;
            node.values.push_back(py::Ref::steal(zero));
            return SearchStrategy::wrap(std::move(node));
        }
        py::drop_exception();
    }
    if (is_enum_subclass(elements, "Enum")) {
        py::Ref annotations = class_annotations(elements);
        bool annotated = false;
        if (annotations) {
            int t = PyObject_IsTrue(annotations.get());
            if (t < 0) py::drop_exception();
            annotated = t == 1;
        }
        if (annotated) {
            return stored_error("Cannot sample from " + str_attr(elements, "__module__") + "." +
                                str_attr(elements, "__name__") +
                                " because it contains no elements.  It does however have annotations, so maybe "
                                "you tried to write an enum as if it was a dataclass?");
        }
    }
    return stored_error("Cannot sample from a length-zero sequence.");
}

// A Python list of the objects, for a message.
py::Ref as_list(const Refs& items) {
    py::Ref list = py::new_list(0);
    for (const py::Ref& r : items) py::list_append(list.get(), r.get());
    return list;
}

// The identity key of unique lists, made once.
PyObject* identity_function() {
    static PyObject* identity = nullptr;
    if (!identity) {
        py::Ref main_dict = py::getattr(py::import("__main__").get(), "__dict__");
        py::Ref eval = py::import_attr("builtins", "eval");
        py::Ref source = py::str("(lambda x: x)");
        identity = py::call(eval.get(), source.get(), main_dict.get()).release();
    }
    return identity;
}

bool is_callable(PyObject* o) { return PyCallable_Check(o) != 0; }

bool valid_unique_by(PyObject* unique_by) {
    if (is_callable(unique_by)) return true;
    if (!PyTuple_Check(unique_by) || PyTuple_Size(unique_by) == 0) return false;
    for (Py_ssize_t i = 0; i < PyTuple_Size(unique_by); ++i) {
        if (!is_callable(PyTuple_GetItem(unique_by, i))) return false;
    }
    return true;
}

// Applies the count of distinct candidates n to the sizes: more than n
// unique elements can never be drawn.
std::optional<std::string> cap_unique(Sizes& sizes, uint64_t n) {
    if (sizes.min_size > n) {
        return "Cannot create a collection of min_size=" + std::to_string(sizes.min_size) +
               " unique elements with values drawn from only " + std::to_string(n) + " distinct elements";
    }
    sizes.max_size = std::min(sizes.max_size, n);
    return std::nullopt;
}

Refs collect_args(PyObject* const* args, Py_ssize_t nargs) {
    Refs out;
    out.reserve(static_cast<size_t>(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) out.push_back(py::Ref::borrow(args[i]));
    return out;
}

// Functions that take only positional arguments.
void no_keywords(const char* func, PyObject* kwnames) {
    if (kwnames && PyTuple_Size(kwnames) > 0) py::raise_type_error(std::string(func) + "() takes no keyword arguments");
}

}  // namespace

std::optional<Refs> finite_unique_domain(PyObject* elements) {
    const SearchStrategy* s = as_strategy(elements);
    if (!s) return std::nullopt;
    if (const auto* sampled = s->node.get<kinds::SampledFrom>()) return sampled->values;
    if (const auto* ints = s->node.get<kinds::Integers>()) {
        if (!ints->min_value || !ints->max_value) return std::nullopt;
        const mpz_class span = *ints->max_value - *ints->min_value;
        if (span > 255) return std::nullopt;
        Refs values;
        const long count = span.get_si() + 1;
        values.reserve(static_cast<size_t>(count));
        for (long i = 0; i < count; ++i) values.push_back(py::from_mpz(*ints->min_value + i));
        return values;
    }
    return std::nullopt;
}

py::Ref make_tuples(const Refs& elements) {
    for (const py::Ref& e : elements) check_strategy(e.get(), "tuples() argument");
    return SearchStrategy::wrap(kinds::Tuples{elements});
}

py::Ref make_lists(PyObject* elements, PyObject* min_size, PyObject* max_size, PyObject* unique_by, bool unique) {
    check_strategy(elements, "lists() elements");
    unique_by = unique_by ? given(unique_by) : nullptr;
    if (unique_by && unique) {
        return stored_error("Cannot pass both unique and unique_by (you probably only want to use unique_by)");
    }
    if (unique_by && !valid_unique_by(unique_by)) {
        raise_invalid_argument("unique_by=" + py::repr(unique_by) +
                               " must be a callable or a (non-empty) tuple of callables.");
    }
    // The element repr only appears in the messages about empty elements;
    // building it for every call would walk a nested tree again and again.
    const bool elements_empty = strat_is_empty(elements);
    const std::string elements_repr = elements_empty ? repr_or_empty(elements) : std::string();
    OrMessage<Sizes> sized = collection_sizes(min_size, max_size, "lists", elements_empty, elements_repr);
    if (auto* m = std::get_if<std::string>(&sized)) return stored_error(std::move(*m));
    Sizes sizes = std::get<Sizes>(sized);

    kinds::Lists node;
    node.elements = py::Ref::borrow(elements);
    if (unique) {
        node.unique_domain = finite_unique_domain(elements);
        node.unique_by = py::Ref::borrow(identity_function());
        if (node.unique_domain) {
            if (auto m = cap_unique(sizes, node.unique_domain->size())) return stored_error(std::move(*m));
        }
    } else if (unique_by) {
        node.unique_by = py::Ref::borrow(unique_by);
    }
    if (unique_by || (unique && !node.unique_domain)) {
        if (const auto* sampled = node_if<kinds::SampledFrom>(elements)) {
            if (auto m = cap_unique(sizes, sampled->values.size())) return stored_error(std::move(*m));
        }
    }
    node.min_size = sizes.min_size;
    node.max_size = sizes.max_size;
    return SearchStrategy::wrap(std::move(node));
}

namespace {

// A function without arguments whose strategy is a node of kind K.
template <class K> PyObject* nullary(const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        py::Sig{name, {}, 0}.parse<0>(args, nargs, kwnames);
        return SearchStrategy::wrap(K{}).release();
    });
}

// A function of one argument that a node of kind K holds as it is.
template <class K>
PyObject* holding(const char* name, const char* param, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        auto a = py::Sig{name, {param}, 1}.parse<1>(args, nargs, kwnames);
        return SearchStrategy::wrap(K{py::Ref::borrow(a[0])}).release();
    });
}

PyObject* booleans_fn(QF_FASTCALL_ARGS) {
    (void)self;
    return nullary<kinds::Booleans>("booleans", args, nargs, kwnames);
}

PyObject* none_fn(QF_FASTCALL_ARGS) {
    (void)self;
    return nullary<kinds::NoneValue>("none", args, nargs, kwnames);
}

PyObject* nothing_fn(QF_FASTCALL_ARGS) {
    (void)self;
    return nullary<kinds::Nothing>("nothing", args, nargs, kwnames);
}

PyObject* just_fn(QF_FASTCALL_ARGS) {
    (void)self;
    return holding<kinds::Just>("just", "value", args, nargs, kwnames);
}

PyObject* deferred_fn(QF_FASTCALL_ARGS) {
    (void)self;
    return holding<kinds::Deferred>("deferred", "definition", args, nargs, kwnames);
}

PyObject* sampled_from_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"sampled_from", {"elements"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        PyObject* elements = a[0];
        check_ordered_sample(elements, "sampled_from");
        if (PyObject_TypeCheck(elements, &PyRange_Type)) {
            return SearchStrategy::wrap(kinds::SampledFromRange{py::Ref::borrow(elements)}).release();
        }
        py::Ref iter = py::check(PyObject_GetIter(elements));
        kinds::SampledFrom node;
        node.is_tuple = PyTuple_Check(elements);
        while (PyObject* item = PyIter_Next(iter.get())) node.values.push_back(py::Ref::steal(item));
        py::check_no_error();
        if (node.values.empty()) return empty_sample(elements).release();
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

// The branches given to one_of, one at a time: its arguments, or the items
// of the one iterable it was given.
class BranchSource {
public:
    BranchSource(PyObject* const* args, Py_ssize_t nargs) : args_(args), nargs_(nargs) {
        if (nargs != 1 || is_search_strategy(args[0])) return;
        // A single argument that cannot be iterated is itself the branch.
        iter_ = py::Ref::steal(PyObject_GetIter(args[0]));
        if (!iter_) py::drop_exception();
    }
    // The next branch; an empty Ref after the last.
    py::Ref next() {
        if (!iter_) return at_ < nargs_ ? py::Ref::borrow(args_[at_++]) : py::Ref();
        // An endless iterable of strategies still gives way to Ctrl-C.
        if (++at_ % 1024 == 0) py::check_rc(PyErr_CheckSignals());
        py::Ref item = py::Ref::steal(PyIter_Next(iter_.get()));
        if (!item) py::check_no_error();
        return item;
    }

private:
    PyObject* const* args_;
    Py_ssize_t nargs_, at_ = 0;
    py::Ref iter_;
};

// The hint of one_of shows at most this many values.
constexpr size_t HINT_VALUES = 20;

// The first branch is not a strategy. When one of the next few is, that
// first one is refused; otherwise the values seen are what the caller
// probably meant to sample from (the hint ends in "..." when there are more).
[[noreturn]] void refuse_first_branch(py::Ref first, BranchSource& rest) {
    Refs seen{std::move(first)};
    while (seen.size() <= HINT_VALUES) {
        py::Ref b = rest.next();
        if (!b) raise_invalid_argument("Did you mean st.sampled_from(" + py::repr(as_list(seen).get()) + ")?");
        if (is_strategy(b.get())) raise_expected_strategy(seen[0].get());
        seen.push_back(std::move(b));
    }
    seen.pop_back();
    std::string shown = py::repr(as_list(seen).get());
    shown.insert(shown.size() - 1, ", ...");
    raise_invalid_argument("Did you mean st.sampled_from(" + shown + ")?");
}

PyObject* one_of_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        no_keywords("one_of", kwnames);
        BranchSource source(args, nargs);
        Refs branches;
        while (py::Ref b = source.next()) {
            if (!is_strategy(b.get())) {
                if (!branches.empty()) raise_expected_strategy(b.get());
                refuse_first_branch(std::move(b), source);
            }
            branches.push_back(std::move(b));
        }
        if (branches.size() == 1) return branches[0].newref();
        return SearchStrategy::wrap(kinds::OneOf{std::move(branches)}).release();
    });
}

PyObject* tuples_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        no_keywords("tuples", kwnames);
        return make_tuples(collect_args(args, nargs)).release();
    });
}

PyObject* lists_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"lists", {"elements", "min_size", "max_size", "unique_by", "unique"}, 1, 1};
        auto a = sig.parse<5>(args, nargs, kwnames);
        const bool unique = a[4] ? py::arg_bool(a[4], "unique") : false;
        return make_lists(a[0], a[1], a[2], a[3], unique).release();
    });
}

}  // namespace

// Registered by the module's table of strategy functions.
namespace defs {
PyMethodDef booleans{"booleans", QF_FASTCALL(booleans_fn), METH_FASTCALL | METH_KEYWORDS,
    "booleans()\n--\n\nTrue or False."};
PyMethodDef none{"none", QF_FASTCALL(none_fn), METH_FASTCALL | METH_KEYWORDS,
    "none()\n--\n\nOnly None."};
PyMethodDef just{"just", QF_FASTCALL(just_fn), METH_FASTCALL | METH_KEYWORDS,
    "just(value)\n--\n\nOnly the given value."};
PyMethodDef nothing{"nothing", QF_FASTCALL(nothing_fn), METH_FASTCALL | METH_KEYWORDS,
    "nothing()\n--\n\nNo value: every draw is rejected."};
PyMethodDef deferred{"deferred", QF_FASTCALL(deferred_fn), METH_FASTCALL | METH_KEYWORDS,
    "deferred(definition)\n--\n\nThe strategy that definition() returns, looked up at each use."};
PyMethodDef sampled_from{"sampled_from", QF_FASTCALL(sampled_from_fn), METH_FASTCALL | METH_KEYWORDS,
    "sampled_from(elements)\n--\n\nOne of the given values."};
PyMethodDef one_of{"one_of", QF_FASTCALL(one_of_fn), METH_FASTCALL | METH_KEYWORDS,
    "one_of(*args)\n--\n\nA value of one of the given strategies."};
PyMethodDef tuples{"tuples", QF_FASTCALL(tuples_fn), METH_FASTCALL | METH_KEYWORDS,
    "tuples(*args)\n--\n\nTuples with one value of each given strategy."};
PyMethodDef lists{"lists", QF_FASTCALL(lists_fn), METH_FASTCALL | METH_KEYWORDS,
    "lists(elements, *, min_size=None, max_size=None, unique_by=None, unique=False)\n--\n\n"
    "Lists of values of the element strategy."};
}  // namespace defs

}  // namespace strategy
