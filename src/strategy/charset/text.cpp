// text(alphabet=None, *, min_size=None, max_size=None): strings over an
// alphabet given as nothing, a str, an IntervalSet, a strategy or a
// collection of one-character strings. A strategy whose characters cannot be
// listed as intervals draws them itself.
//
// Alphabet errors are raised at once; size errors are stored in an Invalid
// node and raised by validate() or the first draw.
#include "strategy/charset/alphabet.hpp"
#include "strategy/charset/charset.hpp"
#include "strategy/charset/text_util.hpp"
#include "strategy/check_strategy.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/checks.hpp"

namespace strategy::charset {

namespace {

// text('ascii') and text('utf-8') draw the literal characters, which is
// rarely what was meant.
void warn_codec_like(const std::string& name) {
    std::vector<std::string> chars;
    for (char c : name) chars.push_back(std::string("\"") + c + "\"");
    const std::string q = "'" + name + "'";
    const std::string message = "st.text(" + q + "): it seems like you are trying to use the codec " + q +
                                ". st.text(" + q + ") instead generates strings using the literal characters [" +
                                join(chars, ", ") + "]. To specify the " + name +
                                " codec, use st.text(st.characters(codec=" + q +
                                ")). If you intended to use character literals, you can silence this warning by "
                                "reordering the characters.";
    py::Ref category = py::import_attr("quorvantis_fast.errors", "QuorvantisWarning");
    py::Ref warn = py::import_attr("warnings", "warn");
    py::Ref text = py::str(message);
    py::call(warn.get(), text.get(), category.get());
}

py::Ref set_of(const std::string& utf8) { return intervalset::wrap(IntervalSet::from_string_rs(utf8)); }

// What an alphabet becomes: the IntervalSet object that strings are drawn
// from, or else a strategy whose values are the characters.
struct Alphabet {
    py::Ref iset;
    py::Ref elements;
};

Alphabet of_set(py::Ref iset) { return {std::move(iset), {}}; }

// A strategy whose characters cannot be listed: drawn one value per character.
Alphabet of_strategy(PyObject* alphabet) { return {{}, py::Ref::borrow(alphabet)}; }

// A native strategy as an alphabet: the characters of a just, sampled_from
// or characters strategy, or of a one_of of such; any other strategy draws
// the characters itself.
Alphabet from_strategy(PyObject* alphabet, const StrategyNode& node) {
    switch (node.kind()) {
    case Kind::Just: return of_set(set_of(validate_alphabet_char(node.get<kinds::Just>()->value.get())));
    case Kind::SampledFrom: {
        std::string all;
        for (const py::Ref& v : node.get<kinds::SampledFrom>()->values) all += validate_alphabet_char(v.get());
        return of_set(set_of(all));
    }
    case Kind::Characters: return of_set(node.get<kinds::Characters>()->alphabet);
    case Kind::OneOf:
        if (std::optional<IntervalSet> s = constructors::resolve_alphabet_iset(alphabet)) {
            return of_set(intervalset::wrap(std::move(*s)));
        }
        return of_strategy(alphabet);
    default: return of_strategy(alphabet);
    }
}

[[noreturn]] void raise_not_an_alphabet(PyObject* alphabet) {
    raise_invalid_argument("alphabet=" + py::repr(alphabet) + " (type=" + py::type_name(alphabet) +
                           ") must be a strategy, a str or an iterable of one-character strings");
}

// A collection of one-character strings; every offending element is listed.
py::Ref from_iterable(PyObject* alphabet) {
    py::Ref it = py::Ref::steal(PyObject_GetIter(alphabet));
    if (!it) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::Err{};
        py::drop_exception();
        raise_not_an_alphabet(alphabet);
    }
    std::vector<std::string> not_text, not_one;
    std::string kept;
    while (py::Ref item = py::Ref::steal(PyIter_Next(it.get()))) {
        std::optional<std::string> t = py::utf8_opt(item.get());
        if (!t) {
            not_text.push_back(py::repr(item.get()));
        } else if (char_count(*t) != 1) {
            not_one.push_back(py::repr(item.get()));
        } else {
            kept += *t;
        }
    }
    py::check_no_error();
    if (!not_text.empty()) raise_invalid_argument(std::string(NOT_UNICODE) + join(not_text, ", ") + "]");
    if (!not_one.empty()) raise_invalid_argument(std::string(NOT_LENGTH_ONE) + join(not_one, ", ") + "]");
    return set_of(kept);
}

Alphabet alphabet_object(PyObject* alphabet) {
    if (!alphabet) return of_set(build_intervals());
    if (std::optional<std::string> t = py::utf8_opt(alphabet)) return of_set(set_of(*t));
    if (intervalset::check(alphabet)) return of_set(py::Ref::borrow(alphabet));
    if (SearchStrategy* s = as_strategy(alphabet)) return from_strategy(alphabet, s->node);
    if (has_do_draw(alphabet)) {
        if (std::optional<IntervalSet> s = constructors::resolve_alphabet_iset(alphabet)) {
            return of_set(intervalset::wrap(std::move(*s)));
        }
        if (is_strategy(alphabet)) return of_strategy(alphabet);
    }
    return of_set(from_iterable(alphabet));
}

// The map from a drawn list of characters to the text.
PyObject* join_characters(PyObject*, PyObject* chars) {
    QF_ENTRY(nullptr, {
        std::string all;
        py::Ref it = py::check(PyObject_GetIter(chars));
        while (py::Ref c = py::Ref::steal(PyIter_Next(it.get()))) all += validate_alphabet_char(c.get());
        py::check_no_error();
        return py::str(all).release();
    });
}

PyMethodDef join_characters_def = {"join_characters", join_characters, METH_O,
                                   "The text of a list of one-character strings."};

// Text whose characters an alphabet strategy draws: a list of its values
// joined, each checked to be one character. It prints as any text() does.
py::Ref drawn_text(py::Ref elements, const Sizes& s) {
    py::Ref chars = SearchStrategy::wrap(kinds::Lists{std::move(elements), s.min_size, s.max_size, {}, std::nullopt});
    py::Ref join = py::check(PyCFunction_NewEx(&join_characters_def, nullptr, nullptr));
    py::Ref out = SearchStrategy::wrap(kinds::Map{std::move(chars), std::move(join)});
    py::Ref shown = py::str("text()");
    py::check_rc(PyObject_SetAttrString(out.get(), "_qv_repr_override", shown.get()));
    return out;
}

PyObject* text_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"text", {"alphabet", "min_size", "max_size"}, 0, 1};
        auto a = sig.parse<3>(args, nargs, kwnames);
        return text(a[0], a[1], a[2]).release();
    });
}

}  // namespace

py::Ref text(PyObject* alphabet, PyObject* min_size, PyObject* max_size) {
    if (alphabet == Py_None) alphabet = nullptr;
    if (alphabet) {
        std::optional<std::string> t = py::utf8_opt(alphabet);
        if (t && (*t == "ascii" || *t == "utf-8")) warn_codec_like(*t);
    }
    Alphabet a = alphabet_object(alphabet);
    const bool empty = a.iset ? intervalset::value(a.iset.get()).size == 0 : strat_is_empty(a.elements.get());
    OrMessage<Sizes> sizes = collection_sizes(min_size, max_size, "text", empty, "the empty alphabet");
    if (auto* message = std::get_if<std::string>(&sizes)) {
        return stored_error(std::move(*message));
    }
    const Sizes& s = std::get<Sizes>(sizes);
    if (!a.iset) return drawn_text(std::move(a.elements), s);
    return SearchStrategy::wrap(kinds::Text{std::move(a.iset), s.min_size, s.max_size});
}

}  // namespace strategy::charset

namespace strategy::defs {
PyMethodDef text = {"text", QF_FASTCALL(strategy::charset::text_fn), METH_FASTCALL | METH_KEYWORDS,
                    "text(alphabet=None, *, min_size=None, max_size=None)\n--\n\n"
                    "A strategy for strings of characters from the alphabet."};
}  // namespace strategy::defs
