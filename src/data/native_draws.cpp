// The native entry points of the typed draws, which the strategies call with
// their constraints as native fields.
#include "data/record.hpp"

namespace data {

py::Ref BrindlemarData::draw_integer_obj(PyObject* min, PyObject* max, PyObject* weights,
                                         int64_t shrink_towards, const IntegerSampler* sampler) {
    return draw_inner(TAG_INTEGER, NodeConstraints::integer(min, max, weights, shrink_towards), true, nullptr,
                      sampler);
}

py::Ref BrindlemarData::draw_integer_rs(const std::optional<mpz_class>& min,
                                        const std::optional<mpz_class>& max, PyObject* weights,
                                        int64_t shrink_towards) {
    py::Ref lo, hi;
    if (min) lo = py::from_mpz(*min);
    if (max) hi = py::from_mpz(*max);
    return draw_integer_obj(lo.get(), hi.get(), weights, shrink_towards);
}

py::Ref BrindlemarData::draw_float_rs(bool allow_nan, double min, double max,
                                      double smallest_nonzero_magnitude) {
    return draw_inner(TAG_FLOAT, NodeConstraints::floating(min, max, allow_nan, smallest_nonzero_magnitude), true,
                      nullptr);
}

py::Ref BrindlemarData::draw_string_rs(PyObject* intervals, uint64_t min_size, uint64_t max_size) {
    return draw_inner(TAG_STRING, NodeConstraints::string(intervals, min_size, max_size), true, nullptr);
}

py::Ref BrindlemarData::draw_bytes_rs(uint64_t min_size, uint64_t max_size) {
    return draw_inner(TAG_BYTES, NodeConstraints::bytes(min_size, max_size), true, nullptr);
}

bool BrindlemarData::draw_boolean_rs(double p, std::optional<bool> forced) {
    PyObject* f = forced ? (*forced ? Py_True : Py_False) : nullptr;
    py::Ref v = draw_inner(TAG_BOOLEAN, NodeConstraints::boolean(p), true, f);
    return py::truthy(v.get());
}

}  // namespace data
