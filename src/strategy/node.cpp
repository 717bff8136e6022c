#include "strategy/node.hpp"

#include "strategy/interpreter.hpp"

namespace strategy {

kinds::Integers::Integers(OptInt lo, OptInt hi) : min_value(std::move(lo)), max_value(std::move(hi)) {
    if (min_value) min_obj = py::from_mpz(*min_value);
    if (max_value) max_obj = py::from_mpz(*max_value);
    if (min_value && max_value && *max_value - *min_value > 127) {
        weights = py::new_dict();
        auto put = [&](const mpz_class& key, double w) {
            py::Ref k = py::from_mpz(key), v = py::from_double(w);
            py::check_rc(PyDict_SetItem(weights.get(), k.get(), v.get()));
        };
        put(*min_value, 0.015625);
        put(*min_value + 1, 0.0078125);
        put(*max_value - 1, 0.0078125);
        put(*max_value, 0.015625);
    }
    sampler = data::integer_sampler(min_value, max_value);
}

void StrategyNode::settle() {
    auto collection = [](auto* n) {
        if (n) n->p_continue = many_p_continue(n->min_size, n->max_size);
    };
    collection(get<kinds::Lists>());
    collection(get<kinds::Sets>());
    collection(get<kinds::Dictionaries>());
}

}  // namespace strategy
