// Filter rewriting of collections and text: sizes narrowed by non-emptiness
// and length predicates, regular-expression methods turned into regex
// strategies, and filters pushed inside a list mapped to a collection.
#include <string>

#include "strategy/node_queries.hpp"
#include "strategy/rewrite/filter.hpp"

namespace strategy {

namespace {

using Sizes = std::pair<uint64_t, uint64_t>;

// Calls f(min_size, max_size) with the size fields of a collection node;
// false for any other kind.
template <class Node, class F> bool with_sizes(Node& node, F&& f) {
    if (auto* l = node.template get<kinds::Lists>()) return f(l->min_size, l->max_size), true;
    if (auto* s = node.template get<kinds::Sets>()) return f(s->min_size, s->max_size), true;
    if (auto* d = node.template get<kinds::Dictionaries>()) return f(d->min_size, d->max_size), true;
    if (auto* t = node.template get<kinds::Text>()) return f(t->min_size, t->max_size), true;
    if (auto* b = node.template get<kinds::Binary>()) return f(b->min_size, b->max_size), true;
    return false;
}

Sizes sizes_of(const StrategyNode& node) {
    Sizes out{0, 0};
    with_sizes(node, [&](uint64_t lo, uint64_t hi) { out = {lo, hi}; });
    return out;
}

// The class of the upstream library whose filter sets describe this kind.
struct UpstreamClass {
    const char* module;
    const char* name;
};
UpstreamClass upstream_class(Kind kind) {
    switch (kind) {
    case Kind::Text: return {"quorvantis.strategies._internal.strings", "TextStrategy"};
    case Kind::Binary: return {"quorvantis.strategies._internal.strings", "BytesStrategy"};
    default: return {"quorvantis.strategies._internal.collections", "ListStrategy"};
    }
}

}  // namespace

StrategyNode rebuild_collection_node(const StrategyNode& node, uint64_t min_size, uint64_t max_size) {
    StrategyNode copy(node);
    bool ok = with_sizes(copy, [&](uint64_t& lo, uint64_t& hi) {
        lo = min_size;
        hi = max_size;
    });
    if (!ok) {
        py::throw_fault(
            "internal error: entered unreachable code: rebuild_collection_node called on "
            "non-collection node");
    }
    return copy;
}

bool coll_class_filter_set(const char* module, const char* cls, const char* attr, PyObject* condition) {
    py::Ref c = py::optional_attr(module, cls);
    py::Ref filters = py::Ref::steal(c ? PyObject_GetAttrString(c.get(), attr) : nullptr);
    if (!filters) {
        py::drop_exception();
        return false;
    }
    py::Ref it = py::check(PyObject_GetIter(filters.get()));
    while (py::Ref item = py::Ref::steal(PyIter_Next(it.get()))) {
        if (item.get() == condition) return true;
    }
    py::check_no_error();
    return false;
}

bool pack_is_collection_ish(PyObject* pack) {
    py::Ref builtins = py::import("builtins");
    py::Ref type = py::getattr(builtins.get(), "type");
    int is_type = PyObject_IsInstance(pack, type.get());
    py::check_rc(is_type);
    if (is_type) {
        py::Ref issubclass = py::getattr(builtins.get(), "issubclass");
        py::Ref collection = py::import_attr("collections.abc", "Collection");
        py::Ref r = py::call(issubclass.get(), pack, collection.get());
        if (py::truthy(r.get())) return true;
    }
    py::Ref sorted = py::getattr(builtins.get(), "sorted");
    return pack == sorted.get();
}

namespace filtering {
namespace {

// How a collection filter is answered.
struct Verdict {
    enum Kind { None, Keep, Rebuild, Empty } kind = None;
    Sizes sizes{0, 0};
    py::Ref predicate;  // the part of the condition the sizes do not say

    Verdict() = default;
    Verdict(Kind k, Sizes s = {0, 0}, py::Ref p = py::Ref()) : kind(k), sizes(s), predicate(std::move(p)) {}
};

// The condition keeps exactly the non-empty collections.
Verdict nonempty(Sizes s) {
    if (s.second == 0) return {Verdict::Empty};
    if (s.first == 0) return {Verdict::Rebuild, {1, s.second}};
    return {Verdict::Keep};
}

py::Ref apply(const Verdict& v, PyObject* self) {
    switch (v.kind) {
    case Verdict::None: return py::Ref();
    case Verdict::Keep: return py::Ref::borrow(self);
    case Verdict::Empty: return nothing();
    case Verdict::Rebuild: break;
    }
    py::Ref typed = build_typed_collection(rebuild_collection_node(node_of(self), v.sizes.first, v.sizes.second));
    if (!v.predicate) return typed;
    py::Ref conditions = py::tuple_of({v.predicate.get()});
    return FilteredStrategy::build(kinds::Filter{typed, v.predicate}, typed.get(), conditions.get());
}

uint64_t constraint_size(PyObject* v) {
    py::Ref i = py::check(PyNumber_Index(v));
    unsigned long long x = PyLong_AsUnsignedLongLong(i.get());
    if (x == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::Err{};
    return x;
}

// `functools.partial(quorvantis.internal.filtering.<fn>, n)`.
py::Ref length_predicate(const char* fn, uint64_t n) {
    py::Ref partial = py::import_attr("functools", "partial");
    py::Ref f = py::import_attr("quorvantis.internal.filtering", fn);
    py::Ref size = py::from_u64(n);
    return py::call(partial.get(), f.get(), size.get());
}

void warn(const std::string& message) {
    py::Ref warn_fn = py::import_attr("warnings", "warn");
    // The package's own warning class stands in when the upstream one is
    // not installed.
    py::Ref errors = py::optional_module("quorvantis.errors");
    py::Ref category = errors ? py::getattr(errors.get(), "QuorvantisWarning")
                              : py::import_attr("quorvantis_fast.errors", "QuorvantisWarning");
    py::Ref text = py::str(message);
    py::call(warn_fn.get(), text.get(), category.get());
}

// A method of a compiled pattern used as a filter on text (or bytes).
py::Ref rewrite_regex(PyObject* self, PyObject* condition, bool text) {
    PyObject* owner_raw = PyObject_GetAttrString(condition, "__self__");
    if (!owner_raw) {
        py::drop_exception();
        return py::Ref();
    }
    py::Ref owner = py::Ref::steal(owner_raw);
    py::Ref re = py::import("re");
    py::Ref pattern_cls = py::getattr(re.get(), "Pattern");
    int is_pattern = PyObject_IsInstance(owner.get(), pattern_cls.get());
    py::check_rc(is_pattern);
    if (!is_pattern) return py::Ref();
    py::Ref source = py::getattr(owner.get(), "pattern");
    if (text ? !PyUnicode_Check(source.get()) : !PyBytes_Check(source.get())) return py::Ref();
    py::Ref name_obj = py::getattr(condition, "__name__");
    if (!PyUnicode_Check(name_obj.get())) return py::Ref();
    std::string name = py::utf8(name_obj.get());

    py::Ref pattern = owner;
    if (name == "match") {
        // match() anchors at the start: search for the anchored pattern.
        py::Ref anchored;
        if (text) {
            anchored = py::check(PyUnicode_FromFormat("^(?:%U)", source.get()));
        } else {
            py::Ref open = py::check(PyBytes_FromString("^(?:")), close = py::check(PyBytes_FromString(")"));
            py::Ref head = py::check(PyNumber_Add(open.get(), source.get()));
            anchored = py::check(PyNumber_Add(head.get(), close.get()));
        }
        py::Ref flags = py::getattr(owner.get(), "flags");
        py::Ref compile = py::getattr(re.get(), "compile");
        pattern = py::call(compile.get(), anchored.get(), flags.get());
        name = "search";
    }
    // Without the upstream library the pattern cannot be turned into a
    // strategy: the filter stays a filter.
    if (name == "scanner" || name == "finditer" || name == "split") {
        py::Ref pretty_mod = py::optional_module("quorvantis.vendor.pretty");
        if (!pretty_mod) return py::Ref();
        py::Ref pretty_fn = py::getattr(pretty_mod.get(), "pretty");
        std::string shown = py::utf8(py::call(pretty_fn.get(), condition).get());
        std::string message;
        py::Ref base;
        if (name == "split") {
            message = "You applied " + shown +
                      " as a filter, but this allows any nonempty string!  Did you mean .search ?";
            py::Ref truth = py::import_attr("builtins", "bool");
            base = py::call_method(self, "filter", truth.get());
        } else {
            message = "You applied " + shown +
                      " as a filter, but this allows any string at all!  Did you mean .findall ?";
            base = py::Ref::borrow(self);
        }
        py::Ref make_pack = py::import_attr("quorvantis_fast.native_strategies", "_warn_then_identity");
        py::Ref text_obj = py::str(message);
        py::Ref pack = py::call(make_pack.get(), text_obj.get());
        return MappedStrategy::build(base.get(), pack.get());
    }
    if (name != "search" && name != "findall" && name != "fullmatch") return py::Ref();
    py::Ref regex_mod = py::optional_module("quorvantis.strategies._internal.regex");
    if (!regex_mod) return py::Ref();

    py::Ref alphabet = py::none();
    if (text) {
        py::Ref intervals = py::getattr(node_of(self).get<kinds::Text>()->alphabet.get(), "intervals");
        py::Ref iset_cls = py::import_attr("quorvantis.internal.intervalsets", "IntervalSet");
        py::Ref iset = py::call(iset_cls.get(), intervals.get());
        py::Ref one_char = py::import_attr("quorvantis.strategies._internal.strings", "OneCharStringStrategy");
        alphabet = py::call(one_char.get(), iset.get());
    }
    py::Ref regex_strategy = py::getattr(regex_mod.get(), "regex_strategy");
    py::Ref args = py::tuple_of({pattern.get(), name == "fullmatch" ? Py_True : Py_False});
    py::Ref kwargs = py::new_dict();
    py::dict_set(kwargs.get(), "alphabet", alphabet.get());
    py::Ref s = py::call_args(regex_strategy.get(), args.get(), kwargs.get());
    auto [lo, hi] = sizes_of(node_of(self));
    if (lo > 0) s = py::call_method(s.get(), "filter", length_predicate("min_len", lo).get());
    if (hi <= 9999999999ULL) s = py::call_method(s.get(), "filter", length_predicate("max_len", hi).get());
    return s;
}

// str.lower and friends keep every non-empty string: say so, and go on.
void warn_case_method(PyObject* condition, bool text) {
    PyObject* type = reinterpret_cast<PyObject*>(text ? &PyUnicode_Type : &PyBytes_Type);
    for (const char* method : {"lower", "title", "upper"}) {
        py::Ref f = py::getattr(type, method);
        if (f.get() != condition) continue;
        std::string t = text ? "str" : "bytes", m = method;
        warn("You applied " + t + "." + m + " as a filter, but this allows all nonempty strings!  Did you mean " +
             t + ".is" + m + "?");
        return;
    }
}

// Sizes from a length predicate (5e) or a non-emptiness-with-content one.
Verdict size_verdict(PyObject* condition, Kind kind, Sizes s) {
    UpstreamClass cls = upstream_class(kind);
    if (is_identity_function(condition)) return nonempty(s);
    if (coll_class_filter_set(cls.module, cls.name, "_nonempty_filters", condition)) return nonempty(s);
    if (auto bounds = predicate_bounds("get_integer_predicate_bounds", condition)) {
        PyObject* c = bounds->constraints.get();
        PyObject* len = py::dict_get(c, "len");
        PyObject* lo_v = py::dict_get(c, "min_value");
        PyObject* hi_v = py::dict_get(c, "max_value");
        if (len && py::truthy(len) && (lo_v || hi_v)) {
            Sizes n = s;
            if (lo_v) n.first = std::max(n.first, constraint_size(lo_v));
            if (hi_v) n.second = std::min(n.second, constraint_size(hi_v));
            if (n.first > n.second) return {};
            if (bounds->predicate.get() == Py_None) {
                if (n == s) return {Verdict::Keep};
                return {Verdict::Rebuild, n};
            }
            return {Verdict::Rebuild, n, bounds->predicate};
        }
    }
    bool textual = kind == Kind::Text || kind == Kind::Binary;
    if (textual && s.second > 0 &&
        coll_class_filter_set(cls.module, cls.name, "_nonempty_and_content_filters", condition)) {
        return {Verdict::Rebuild, {std::max<uint64_t>(s.first, 1), s.second}, py::Ref::borrow(condition)};
    }
    return {};
}

}  // namespace

py::Ref rewrite_collection(PyObject* self, PyObject* condition) {
    const StrategyNode& node = node_of(self);
    Kind kind = node.kind();
    bool textual = kind == Kind::Text || kind == Kind::Binary;
    if (textual) {
        if (py::Ref r = rewrite_regex(self, condition, kind == Kind::Text)) return r;
        warn_case_method(condition, kind == Kind::Text);
    }
    return apply(size_verdict(condition, kind, sizes_of(node)), self);
}

py::Ref rewrite_mapped_list(const kinds::Map& n, PyObject* condition) {
    if (!base_is_list(n.base.get()) || !pack_is_collection_ish(n.pack.get())) return py::Ref();
    py::Ref inner = py::call_method(n.base.get(), "filter", condition);
    if (Py_TYPE(inner.get()) == search_strategy_type()) return py::Ref();
    py::Ref mapped = MappedStrategy::build(inner.get(), n.pack.get());
    py::Ref conditions = py::tuple_of({condition});
    return FilteredStrategy::build(kinds::Filter{mapped, py::Ref::borrow(condition)}, mapped.get(),
                                   conditions.get());
}

}  // namespace filtering
}  // namespace strategy
