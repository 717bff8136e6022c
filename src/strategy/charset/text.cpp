// text(alphabet=None, *, min_size=None, max_size=None): strings over an
// alphabet given as nothing, a str, an IntervalSet, a strategy or a
// collection of one-character strings.
//
// Alphabet errors are raised at once; size errors are stored in an Invalid
// node and raised by validate() or the first draw.
#include "strategy/charset/charset.hpp"
#include "strategy/charset/text_util.hpp"
#include "strategy/charset/alphabet.hpp"
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

// A native strategy as an alphabet: the characters of a just, sampled_from
// or characters strategy; any other kind draws from the default alphabet.
py::Ref from_strategy(const StrategyNode& node) {
    switch (node.kind()) {
    case Kind::Just: return set_of(validate_alphabet_char(node.get<kinds::Just>()->value.get()));
    case Kind::SampledFrom: {
        std::string all;
        for (const py::Ref& v : node.get<kinds::SampledFrom>()->values) all += validate_alphabet_char(v.get());
        return set_of(all);
    }
    case Kind::Characters: return node.get<kinds::Characters>()->alphabet;
    default: return build_intervals();
    }
}

bool has_do_draw(PyObject* o) {
    PyObject* attr = PyObject_GetAttrString(o, "do_draw");
    if (!attr) {
        py::drop_exception();
        return false;
    }
    Py_DECREF(attr);
    return true;
}

// A collection of one-character strings; every offending element is listed.
py::Ref from_iterable(PyObject* alphabet) {
    py::Ref it = py::Ref::steal(PyObject_GetIter(alphabet));
    if (!it) {
        py::drop_exception();
        return build_intervals();
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

py::Ref alphabet_object(PyObject* alphabet) {
    if (!alphabet) return build_intervals();
    if (std::optional<std::string> t = py::utf8_opt(alphabet)) return set_of(*t);
    if (intervalset::check(alphabet)) return py::Ref::borrow(alphabet);
    if (SearchStrategy* s = as_strategy(alphabet)) return from_strategy(s->node);
    if (has_do_draw(alphabet)) {
        std::optional<IntervalSet> s = constructors::resolve_alphabet_iset(alphabet);
        return s ? intervalset::wrap(std::move(*s)) : build_intervals();
    }
    return from_iterable(alphabet);
}

PyObject* text_fn(QF_FASTCALL_ARGS) {
    (void)self;
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"text", {"alphabet", "min_size", "max_size"}, 0, 1};
        PyObject* a[3] = {};
        sig.parse(args, nargs, kwnames, a);
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
    py::Ref iset = alphabet_object(alphabet);
    const bool empty = intervalset::value(iset.get()).size == 0;
    OrMessage<Sizes> sizes = collection_sizes(min_size, max_size, "text", empty, "the empty alphabet");
    if (auto* message = std::get_if<std::string>(&sizes)) {
        return stored_error(std::move(*message));
    }
    const Sizes& s = std::get<Sizes>(sizes);
    return SearchStrategy::wrap(kinds::Text{std::move(iset), s.min_size, s.max_size});
}

}  // namespace strategy::charset

namespace strategy::defs {
PyMethodDef text = {"text", QF_FASTCALL(strategy::charset::text_fn), METH_FASTCALL | METH_KEYWORDS,
                    "text(alphabet=None, *, min_size=None, max_size=None)\n--\n\n"
                    "A strategy for strings of characters from the alphabet."};
}  // namespace strategy::defs
