// The choice-sequence byte format: how a choice sequence is stored in an
// example database. One element per choice, concatenated, no header:
//
//   header byte   bits 7..5 tag, bits 4..0 size field
//   length        unsigned LEB128, only when the size field is 31 (tag != 0)
//   payload       tag 0 bool (none: the size field is the value), 1 float
//                 (binary64 big-endian), 2 int (big-endian two's complement),
//                 3 bytes, 4 str (UTF-8, surrogates passed through)
#pragma once

#include <string>
#include <vector>

#include "py/py.hpp"

namespace database {

// Appends the element of one choice value to `out`. Raises TypeError
// "unhandled choice type" for a value of no choice type; `out` is unchanged
// on any error.
void encode_choice(PyObject* value, std::string& out);

// All elements of a sequence of values, in order.
std::string encode_choices(const std::vector<py::Ref>& values);

// The values of a byte string. Raises ValueError "truncated",
// "expected float64" or "bad tag", or the UnicodeDecodeError of a string
// payload. Never reads past `size` and allocates no more than the input
// accounts for.
std::vector<py::Ref> decode(const unsigned char* data, size_t size);

// Registers choices_to_bytes and choices_from_bytes, in that order.
void register_byte_functions(PyObject* module);

}  // namespace database
