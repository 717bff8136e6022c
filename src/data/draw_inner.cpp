// draw_inner, the one road of every typed draw: the overrun checks, the
// prefix replay (a value, or a "simplest" template), else the forced value or
// a random draw, then the node recorded.
#include <limits>

#include "choice/choice.hpp"
#include "data/record.hpp"
#include "data/sizes.hpp"
#include "provider.hpp"

namespace data {

void BrindlemarData::overrun() { mark(Status::Overrun, {}); }

namespace {

// Is an exact int within the bounds of an integer draw's sampler? None when
// the value or a bound does not fit 64 bits; else `size` is its serialized size.
std::optional<bool> int_within(PyObject* v, const IntegerSampler& s, uint64_t& size) {
    if (!PyLong_CheckExact(v)) return std::nullopt;
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (overflow) return std::nullopt;
    using Kind = provider::Integer::Kind;
    if ((s.has_min && s.min.kind != Kind::small) || (s.has_max && s.max.kind != Kind::small)) return std::nullopt;
    size = with_header(i64_payload(x));
    return (!s.has_min || x >= s.min.small) && (!s.has_max || x <= s.max.small);
}

}  // namespace

bool replay_fits(PyObject* v, uint8_t t, const NodeConstraints& c) {
    auto kind = choice::kind_of(v);
    if (!kind || static_cast<uint8_t>(*kind) != t) return false;
    try {
        return c.permits(v);
    } catch (const py::Err&) {
        py::drop_exception();
        return false;
    }
}

py::Ref BrindlemarData::simplest_value(uint8_t t, const NodeConstraints& c) {
    // A collection's simplest value has min_size elements, built in full
    // (an index past 8191 elements fails at once with ChoiceTooLarge); when
    // it does not fit the limit, recording it overruns.
    try {
        return c.from_index(choice::Int(0), static_cast<choice::ChoiceType>(t));
    } catch (const py::Err&) {
        py::drop_exception();
    }
    overrun();
}

py::Ref BrindlemarData::draw_inner(uint8_t t, NodeConstraints nc, bool observe, PyObject* forced,
                                   const IntegerSampler* sampler) {
    if (nc.form() == NodeConstraints::Form::Dict && !PyDict_Check(nc.dict())) {
        py::throw_fault("constraints must be a dict");
    }
    // 1. Overrun checks.
    if (length >= max_length || (max_choices && *max_choices == nodes.size())) overrun();
    known_size_ = 0;
    py::Ref value;
    // 2. Prefix replay.
    if (observe && prefix && prefix_cursor < prefix->size()) {
        PrefixEntry& e = (*prefix)[prefix_cursor];
        if (e.kind == PrefixEntry::Kind::Value) {
            prefix_cursor += 1;
            py::Ref v = e.value;  // the entry stays alive even if Python code runs
            // An integer draw's sampler holds its bounds natively (made from
            // the same ones).
            uint64_t size = 0;
            std::optional<bool> within;
            if (t == TAG_INTEGER && sampler) within = int_within(v.get(), *sampler, size);
            if (within ? *within : replay_fits(v.get(), t, nc)) {
                known_size_ = size;
                value = std::move(v);
            } else {
                misaligned = true;
                value = simplest_value(t, nc);
            }
        } else {
            if (e.has_count) {
                // A count of k serves k draws; at zero or below, overrun at once
                // (lowering a spent count saturates rather than wraps).
                if (e.count <= 0) {
                    if (e.count > std::numeric_limits<int64_t>::min()) e.count -= 1;
                    overrun();
                }
            }
            value = forced ? py::Ref::borrow(forced) : simplest_value(t, nc);
            if (e.has_count) e.count -= 1;
        }
    } else if (forced) {
        value = py::Ref::borrow(forced);
    } else {
        value = draw_random(t, nc, sampler);
    }
    if (forced) {
        value = py::Ref::borrow(forced);
        known_size_ = 0;
    }
    if (!observe) return value;
    // 7. Record.
    uint64_t size = known_size_ ? known_size_ : serialized_size(value.get());
    span_events.push_back(SPAN_CHOICE);
    length = size > UINT64_MAX - length ? UINT64_MAX : length + size;
    nodes.emplace_back(value, std::move(nc), t, forced != nullptr);
    // 8. Past the limit: the node stays, the test case ends.
    if (length > max_length) overrun();
    return value;
}

}  // namespace data
