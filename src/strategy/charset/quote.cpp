// Quoting of texts in messages, with the escapes of a debug rendering.
#include <array>
#include <cstdio>

#include "charmap/charmap.hpp"
#include "strategy/charset/charset.hpp"

namespace strategy::charset {

namespace {

// Control, format, private-use, unassigned, separator (but the plain space)
// and combining characters are shown by their code point.
const std::array<std::string, 10> ESCAPED_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn",
                                                        "Zl", "Zp", "Zs", "Mn", "Me"};

class EscapedSet {
public:
    bool contains(Py_UCS4 c) {
        if (c >= 0x20 && c < 0x7F) return false;
        if (c < 0x20 || c == 0x7F) return true;
        if (!loaded_) {
            loaded_ = true;
            try {
                set_ = IntervalSet::build(charmap::intervals_for_categories(ESCAPED_CATEGORIES));
                have_map_ = true;
            } catch (const py::Err&) {
                // Without the category map only the C1 controls are known.
                py::drop_exception();
            }
        }
        return have_map_ ? set_.contains(static_cast<int64_t>(c)) : c < 0xA0;
    }

private:
    IntervalSet set_;
    bool loaded_ = false, have_map_ = false;
};

}  // namespace

std::string debug_quoted(PyObject* s, char quote) {
    const Py_ssize_t n = PyUnicode_GetLength(s);
    if (n < 0) throw py::Err{};
    EscapedSet escaped;
    std::string out(1, quote);
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Py_UCS4 c = PyUnicode_ReadChar(s, i);
        if (c == static_cast<Py_UCS4>(-1) && PyErr_Occurred()) throw py::Err{};
        switch (c) {
        case '\0': out += "\\0"; continue;
        case '\t': out += "\\t"; continue;
        case '\r': out += "\\r"; continue;
        case '\n': out += "\\n"; continue;
        case '\\': out += "\\\\"; continue;
        default: break;
        }
        if (c == static_cast<Py_UCS4>(quote)) {
            out += '\\';
            out += quote;
        } else if (escaped.contains(c)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
            out += buf;
        } else {
            py::Ref ch = py::check(PyUnicode_Substring(s, i, i + 1));
            out += py::utf8(ch.get());
        }
    }
    out += quote;
    return out;
}

}  // namespace strategy::charset
