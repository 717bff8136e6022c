// Alphabet resolution: the characters of a strategy given as an alphabet, for
// text() and for _regex_alphabet_intervals.
#include "strategy/charset/alphabet.hpp"

#include "strategy/charset/text_util.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"

namespace strategy::constructors {

namespace {

using intervalset::Interval;
using intervalset::Intervals;

// A str of exactly one character, as UTF-8.
std::optional<std::string> as_character(PyObject* v) {
    std::optional<std::string> t = py::utf8_opt(v);
    if (!t || charset::char_count(*t) != 1) return std::nullopt;
    return t;
}

std::optional<IntervalSet> resolve_native(const StrategyNode& node) {
    switch (node.kind()) {
    case Kind::Just: {
        std::optional<std::string> c = as_character(node.get<kinds::Just>()->value.get());
        if (!c) return std::nullopt;
        return IntervalSet::from_string_rs(*c);
    }
    case Kind::SampledFrom: {
        std::string all;
        for (const py::Ref& v : node.get<kinds::SampledFrom>()->values) {
            std::optional<std::string> c = as_character(v.get());
            if (!c) return std::nullopt;
            all += *c;
        }
        return IntervalSet::from_string_rs(all);
    }
    case Kind::OneOf: {
        const Refs& branches = node.get<kinds::OneOf>()->branches;
        if (branches.empty()) return std::nullopt;
        IntervalSet acc = IntervalSet::build({});
        for (const py::Ref& b : branches) {
            std::optional<IntervalSet> s = resolve_alphabet_iset(b.get());
            if (!s) return std::nullopt;
            acc = IntervalSet::union_rs(acc.intervals, s->intervals);
        }
        return acc;
    }
    case Kind::Characters: {
        const IntervalSet& own = intervalset::value(node.get<kinds::Characters>()->alphabet.get());
        return IntervalSet::union_rs({}, own.intervals);
    }
    default: return std::nullopt;
    }
}

// The strategy behind a lazy wrapper of the upstream library, or the object
// itself when there is none to unwrap.
py::Ref unwrapped(PyObject* alphabet) {
    try {
        py::Ref unwrap = py::optional_attr("quorvantis.strategies._internal.lazy", "unwrap_strategies");
        if (!unwrap) return py::Ref::borrow(alphabet);
        return py::call(unwrap.get(), alphabet);
    } catch (const py::Err&) {
        py::drop_exception();
        return py::Ref::borrow(alphabet);
    }
}

int64_t pair_member(PyObject* pair, long at) {
    py::Ref key = py::check(PyLong_FromLong(at));
    py::Ref item = py::check(PyObject_GetItem(pair, key.get()));
    long long v = PyLong_AsLongLong(item.get());
    if (v == -1 && PyErr_Occurred()) throw py::Err{};
    return static_cast<int64_t>(v);
}

std::optional<IntervalSet> resolve_foreign(PyObject* alphabet) {
    py::Ref r = unwrapped(alphabet);
    py::Ref it;
    try {
        py::Ref a = py::getattr(r.get(), "intervals");
        py::Ref b = py::getattr(a.get(), "intervals");
        it = py::check(PyObject_GetIter(b.get()));
    } catch (const py::Err&) {
        py::drop_exception();
        return std::nullopt;
    }
    Intervals pairs;
    while (py::Ref p = py::Ref::steal(PyIter_Next(it.get()))) {
        int64_t start = pair_member(p.get(), 0);
        int64_t end = pair_member(p.get(), 1);
        pairs.push_back({start, end});
    }
    py::check_no_error();
    return IntervalSet::build(std::move(pairs));
}

PyObject* regex_alphabet_intervals_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"_regex_alphabet_intervals", {"alphabet"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        std::optional<IntervalSet> s = resolve_alphabet_iset(a[0]);
        if (!s) {
            raise_invalid_argument("alphabet=" + repr_or_empty(a[0]) +
                                   " must be a sampled_from() or characters() strategy.");
        }
        return intervalset::wrap(std::move(*s)).release();
    });
}

}  // namespace

std::optional<IntervalSet> resolve_alphabet_iset(PyObject* alphabet) {
    py::RecursionGuard guard(" while resolving an alphabet");
    if (SearchStrategy* s = as_strategy(alphabet)) return resolve_native(s->node);
    return resolve_foreign(alphabet);
}

}  // namespace strategy::constructors

namespace strategy::defs {
PyMethodDef _regex_alphabet_intervals = {
    "_regex_alphabet_intervals", QF_FASTCALL(strategy::constructors::regex_alphabet_intervals_fn),
    METH_FASTCALL | METH_KEYWORDS,
    "_regex_alphabet_intervals(alphabet)\n--\n\n"
    "The characters an alphabet strategy can produce, as an IntervalSet."};
}  // namespace strategy::defs
