#include "strategy/node.hpp"

namespace strategy {

StrategyNode make_integers(OptInt min_value, OptInt max_value) {
    kinds::Integers n;
    if (min_value) n.min_obj = py::from_mpz(*min_value);
    if (max_value) n.max_obj = py::from_mpz(*max_value);
    if (min_value && max_value && *max_value - *min_value > 127) {
        const mpz_class& lo = *min_value;
        const mpz_class& hi = *max_value;
        n.weights = py::new_dict();
        auto put = [&](const mpz_class& key, double w) {
            py::Ref k = py::from_mpz(key), v = py::from_double(w);
            py::check_rc(PyDict_SetItem(n.weights.get(), k.get(), v.get()));
        };
        put(lo, 0.015625);
        put(lo + 1, 0.0078125);
        put(hi - 1, 0.0078125);
        put(hi, 0.015625);
    }
    n.min_value = std::move(min_value);
    n.max_value = std::move(max_value);
    return n;
}

}  // namespace strategy
