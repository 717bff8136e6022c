// Character and text strategies: the alphabet of `characters(...)` built from
// Unicode categories, code point bounds, included and excluded characters and
// a codec; the alphabet forms that `text(...)` accepts.
//
// Everything is computed when the strategy is made: a node holds its
// finished alphabet as an IntervalSet object, so a draw only picks from it.
// Python errors throw py::Err with the error set.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "intervalset/intervalset.hpp"
#include "py/py.hpp"

namespace strategy::charset {

// The two-letter Unicode general categories, in the order every category
// list of this module follows. A one-letter major class (C, L, M, N, P, S, Z)
// stands for the names starting with it.
inline constexpr std::array<std::string_view, 30> GENERAL_CATEGORIES = {
    "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Mc", "Me", "Nd", "Nl", "No", "Pc", "Pd", "Ps", "Pe",
    "Pi", "Pf", "Po", "Sm", "Sc", "Sk", "So", "Zs", "Zl", "Zp", "Cc", "Cf", "Cs", "Co", "Cn"};

inline constexpr int64_t MAX_CODEPOINT = 0x10FFFF;

// An alphabet, or the message of an argument combination that cannot work
// (stored in an Invalid node by the caller).
using AlphabetOrMessage = std::variant<IntervalSet, std::string>;

// The arguments of characters() once the deprecated names are merged, the
// code points read (any non-negative int, however large) and the category
// arguments listed. Objects are borrowed; absent arguments are empty.
struct CharactersArgs {
    std::optional<mpz_class> min_codepoint, max_codepoint;
    std::optional<std::vector<std::string>> categories, exclude_categories;
    PyObject* include_characters = nullptr;
    PyObject* exclude_characters = nullptr;
    py::Ref codec;           // a str whose name codecs.lookup knows
    std::string codec_name;  // the codec's own name, as codecs.lookup gives it
};

// The items of an iterable that must all be str, as UTF-8 (a str is listed
// character by character). TypeError for an item that is not a str; the
// encoding error for a lone surrogate.
std::vector<std::string> to_str_list(PyObject* obj);

// The alphabet of characters(...) with these arguments, or its message.
AlphabetOrMessage build_characters_intervals(const CharactersArgs& a);
// "characters(...)" as the strategy prints.
std::string characters_force_repr(const CharactersArgs& a);
// The default alphabet, as a new IntervalSet object: every code point of the
// categories other than Cs.
py::Ref build_intervals();
// An element of a text alphabet given as a strategy: its text when it is a
// str of one character, else InvalidArgument.
std::string validate_alphabet_char(PyObject* obj);

// The text between quotes, escaped for a message: backslash escapes for the
// quote, the backslash, \t \r \n \0, and \u{hex} for other control,
// unprintable or combining characters. `s` is a str that converts to UTF-8.
std::string debug_quoted(PyObject* s, char quote);

// text(alphabet, min_size=, max_size=): arguments borrowed, nullptr or None
// where absent. Alphabet errors throw; size errors give an Invalid node.
py::Ref text(PyObject* alphabet, PyObject* min_size, PyObject* max_size);

}  // namespace strategy::charset
