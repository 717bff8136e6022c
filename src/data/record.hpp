// The test-case record BrindlemarData: the typed choices of one test case,
// the spans that group them, the notes written during the test and its
// status; and the Python class of the same name that wraps it.
//
// Error convention: every operation that can fail throws py::Err with the
// Python error set (StopTest when the test case ends early).
//
// Using a record from native code (engine, strategies):
//
//   data::BrindlemarData rec = data::BrindlemarData::build_with_seed(seed, {}, {});
//   py::Ref obj = data::wrap_record(std::move(rec));          // Python object
//   {
//       data::RecordMut r(obj.get());      // exclusive borrow ("Already borrowed")
//       py::Ref v = r->draw_integer_rs(lo, hi, nullptr, 0);   // may throw StopTest
//   }                                      // released here, also on throw
//   data::RecordRef r(obj.get());          // shared borrow for reading
//   r->nodes, r->status, r->testcounter ...
//
// Never hold a borrow while calling Python code that may use the record.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/integer_sampler.hpp"
#include "data/node_constraints.hpp"
#include "py/py.hpp"
#include "rng/rng.hpp"

namespace data {

// Choice-type tags, as stored in NodeData::choice_type.
inline constexpr uint8_t TAG_INTEGER = 0;
inline constexpr uint8_t TAG_FLOAT = 1;
inline constexpr uint8_t TAG_STRING = 2;
inline constexpr uint8_t TAG_BYTES = 3;
inline constexpr uint8_t TAG_BOOLEAN = 4;
// "integer", "float", "string", "bytes", "boolean"; nullptr for another tag.
const char* choice_type_name(uint8_t tag);

// Status of a test case.
namespace Status {
inline constexpr uint8_t Overrun = 0;
inline constexpr uint8_t Invalid = 1;
inline constexpr uint8_t Valid = 2;
inline constexpr uint8_t Interesting = 3;
}  // namespace Status

// Span event codes: 1 closed with discard, 2 closed, 3 one recorded choice,
// 4 + i opened with label labels[i].
inline constexpr uint64_t SPAN_STOP_DISCARD = 1;
inline constexpr uint64_t SPAN_STOP = 2;
inline constexpr uint64_t SPAN_CHOICE = 3;
inline constexpr uint64_t SPAN_START = 4;

// One recorded choice.
struct NodeData {
    py::Ref value;                // the drawn (or forced) value
    NodeConstraints constraints;  // the draw's constraints
    uint8_t choice_type;          // TAG_*
    bool was_forced;
};
static_assert(sizeof(NodeData) == 80, "a recorded choice is 80 bytes: keep it from growing");

// One element of a replayed prefix: a value replayed once, or a "simplest"
// template standing for the simplest permitted value of every draw that
// meets it (with a count: that many draws, then the next draw overruns).
struct PrefixEntry {
    enum class Kind : uint8_t { Value, Simplest };
    Kind kind = Kind::Value;
    bool has_count = false;
    int64_t count = 0;  // meaningful when has_count
    py::Ref value;      // meaningful for Kind::Value

    static PrefixEntry Value(py::Ref v) {
        PrefixEntry e;
        e.value = std::move(v);
        return e;
    }
    static PrefixEntry Simplest(std::optional<int64_t> count = std::nullopt) {
        PrefixEntry e;
        e.kind = Kind::Simplest;
        e.has_count = count.has_value();
        e.count = count.value_or(0);
        return e;
    }
};
using Prefix = std::vector<PrefixEntry>;

// May a replayed value `v` stand for a draw of type `t` under `c`: its kind
// is t and the constraints permit it (an error of that test counts as no)?
bool replay_fits(PyObject* v, uint8_t t, const NodeConstraints& c);

// Reads a Python iterable into prefix entries: items whose `type` is the str
// "simplest" and that have a `count` attribute become templates (count
// converted like PyLong_AsLong; an unconvertible count means none), every
// other item is a value. Throws the error of the iteration or of reading
// `count`.
Prefix parse_prefix(PyObject* iterable);

// Sets the Frozen error "Cannot call {name} on frozen BrindlemarData" (or the
// error met while making it) and throws py::Err.
[[noreturn]] void frozen_err(const char* name);

class BrindlemarData {
public:
    // ---- fields (read freely under a borrow; change only through methods)
    std::optional<uint64_t> max_choices;
    std::vector<NodeData> nodes;
    std::vector<uint64_t> span_events;
    std::vector<uint64_t> labels;
    std::string output;  // UTF-8
    std::optional<Prefix> prefix;
    std::unordered_map<uint64_t, uint64_t> label_index;  // filled once labels are many
    rng::Rng rng;
    uint64_t max_length = 0;
    uint64_t length = 0;
    uint64_t prefix_cursor = 0;
    int64_t depth = -1;
    int64_t max_depth = 0;
    py::Ref interesting_origin;  // empty when absent
    uint64_t testcounter = 0;
    bool frozen = false;
    bool has_discards = false;
    bool misaligned = false;
    uint8_t status = Status::Valid;

    // ---- construction
    // The one place a record is made: max_length from the thread's buffer
    // limit, generator keyed from `seed`, root span (label 0) open.
    static BrindlemarData build_with_seed(uint64_t seed, std::optional<Prefix> prefix,
                                          std::optional<uint64_t> max_choices);
    // Seed from random.getrandbits(64) when `random` (may be nullptr or
    // None) gives one, else a fresh seed. Never fails.
    static BrindlemarData build(PyObject* random, std::optional<Prefix> prefix,
                                std::optional<uint64_t> max_choices);
    // Replays exactly `values` (a sequence): one Value entry each,
    // max_choices = their number, fresh seed. Throws on a bad sequence.
    static BrindlemarData new_for_choices(PyObject* values);
    static BrindlemarData new_for_choices(std::span<PyObject* const> values);
    // Become build_with_seed(seed, {}, {}) again, keeping the storage of the
    // node, span and label lists. Releases every reference held.
    void restart(uint64_t seed);
    // Release every reference held (the choices go with theirs).
    void drop_references();

    // ---- draws (each may throw StopTest on overrun)
    // Draw one choice of type `t` under `constraints`. `forced` (nullptr:
    // not forced) is used unchecked. Unobserved draws record nothing.
    // `sampler`, when given, is what an integer draw derives from the bounds
    // of `constraints`, made beforehand.
    py::Ref draw_inner(uint8_t t, NodeConstraints constraints, bool observe, PyObject* forced,
                       const IntegerSampler* sampler = nullptr);
    // Integer in [min, max] (absent side unbounded). weights: nullptr or a
    // dict of int -> float. Unbounded, unweighted draws with shrink_towards 0
    // share the process-wide UNBOUNDED_INT_CONSTRAINTS dict.
    py::Ref draw_integer_rs(const std::optional<mpz_class>& min, const std::optional<mpz_class>& max,
                            PyObject* weights, int64_t shrink_towards);
    // The same with the bounds as borrowed Python ints (nullptr: absent),
    // for callers that keep their bounds as Python objects.
    py::Ref draw_integer_obj(PyObject* min, PyObject* max, PyObject* weights, int64_t shrink_towards,
                             const IntegerSampler* sampler = nullptr);
    py::Ref draw_float_rs(bool allow_nan, double min, double max, double smallest_nonzero_magnitude);
    // intervals: an IntervalSet object (borrowed).
    py::Ref draw_string_rs(PyObject* intervals, uint64_t min_size, uint64_t max_size);
    py::Ref draw_bytes_rs(uint64_t min_size, uint64_t max_size);
    // Returns the drawn bool; `forced` given: that value, recorded as forced.
    bool draw_boolean_rs(double p, std::optional<bool> forced);

    // ---- spans, status
    void start_span_rs(uint64_t label);
    // The distinct-label number of `label`, assigning the next one when new.
    uint64_t label_number(uint64_t label);
    void stop_span_rs(bool discard);  // no-op when frozen
    // Close every open span and freeze (no-op when frozen).
    void freeze_rs();
    // End the test case: store status and origin (empty: none), close spans,
    // freeze; then set StopTest(testcounter) as the Python error and throw.
    [[noreturn]] void mark(uint8_t status, py::Ref interesting_origin);

    BrindlemarData(BrindlemarData&&) noexcept = default;
    BrindlemarData& operator=(BrindlemarData&&) noexcept = default;

private:
    explicit BrindlemarData(uint64_t seed) : rng(seed) {}
    py::Ref draw_random(uint8_t t, const NodeConstraints& constraints, const IntegerSampler* sampler);
    py::Ref simplest_value(uint8_t t, const NodeConstraints& constraints);
    [[noreturn]] void overrun();

    uint64_t known_size_ = 0;  // serialized size of the value just sampled, 0 unknown
};

// ---------------------------------------------------------------------------
// The Python object.

struct RecordObject {
    py::DictObject base;  // object header and instance __dict__
    // 0 free, UINTPTR_MAX exclusively held, otherwise the number of readers.
    std::atomic<uintptr_t> borrow;
    BrindlemarData rec;
};

// The BrindlemarData class (borrowed; made once per process, throws on failure).
PyTypeObject* record_type();
// Is `o` a BrindlemarData (or subclass) instance?
bool is_record(PyObject* o);
// A new Python object owning `rec`, of class `cls` (default BrindlemarData).
py::Ref wrap_record(BrindlemarData&& rec, PyTypeObject* cls = nullptr);
// record.draw(strategy): the method's work called directly when `record` is
// a BrindlemarData whose instance does not replace `draw`, else the method
// looked up and called.
py::Ref draw_from(PyObject* record, PyObject* strategy);
// Notes the class's own draw method, for draw_from to tell when it has been
// replaced; called once, when the class is added to the module.
void remember_made_draw();
// When the caller's reference is the only one to `record` (a BrindlemarData
// made by wrap_record) and nothing borrows it: empties it (its choices,
// attributes and every reference it holds are released now, as a
// deallocation would) and answers true; the object may then be restarted
// with restart_record. Otherwise changes nothing and answers false.
bool recycle_record(PyObject* record);
// A recycled record becomes build_with_seed(seed, {}, {}).
void restart_record(PyObject* record, uint64_t seed);

// Exclusive borrow of a record object for one native call. Throws
// RuntimeError "Already borrowed" when the record is borrowed.
class RecordMut {
public:
    explicit RecordMut(PyObject* record);
    ~RecordMut();
    RecordMut(const RecordMut&) = delete;
    RecordMut& operator=(const RecordMut&) = delete;
    BrindlemarData* operator->() const { return &obj_->rec; }
    BrindlemarData& operator*() const { return obj_->rec; }

private:
    RecordObject* obj_;
};

// Shared borrow for reading. Throws RuntimeError "Already mutably borrowed"
// when the record is exclusively held.
class RecordRef {
public:
    explicit RecordRef(PyObject* record);
    ~RecordRef();
    RecordRef(const RecordRef&) = delete;
    RecordRef& operator=(const RecordRef&) = delete;
    const BrindlemarData* operator->() const { return &obj_->rec; }
    const BrindlemarData& operator*() const { return obj_->rec; }

private:
    RecordObject* obj_;
};

}  // namespace data

// ---------------------------------------------------------------------------
// How BrindlemarData.draw reaches the strategy core, which is built on the
// record: the module entry installs these functions once, before it adds any
// name. Without them no object counts as a native strategy.
namespace data {
struct NativeStrategyDraw {
    // The SearchStrategy class (borrowed), or nullptr when it cannot be made.
    PyTypeObject* (*strategy_type)();
    // Draw a native strategy object's node against `record`, holding the
    // strategy's shared borrow for the call; a conflicting borrow is an
    // internal fault starting with "Already mutably borrowed".
    py::Ref (*draw)(PyObject* strategy, PyObject* record);
    // Is a SearchStrategy instance drawn natively: its class is the
    // module's own rather than a Python subclass?
    bool (*is_native)(PyObject* strategy);
    // Before an object that is no SearchStrategy is drawn through its
    // do_draw: throws InvalidArgument when it is no strategy at all, or when
    // the upstream library that such a draw needs is not installed.
    void (*check_foreign)(PyObject* strategy);
};
void install_native_strategy_draw(NativeStrategyDraw hooks);
}  // namespace data
