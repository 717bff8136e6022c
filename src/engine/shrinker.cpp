#include "engine/shrinker.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "choice/choice.hpp"
#include "engine/shrink_report.hpp"

namespace engine {
namespace {

constexpr uint64_t MAX_ROUNDS = 300;
constexpr Py_ssize_t MAX_GROUP_NODES = 256;
constexpr Py_ssize_t PAIR_REACH = 8;
constexpr int64_t LINEAR_CHARS = 24;
constexpr size_t DELETION_WIDTHS[] = {8, 4, 3, 2, 1};

using choice::ChoiceType;

bool numeric(ChoiceType t) {
    return t == ChoiceType::Integer || t == ChoiceType::Float || t == ChoiceType::Boolean;
}

// The minimum size of a string node's constraints, when it is a readable int.
bool read_min_size(PyObject* constraints, int64_t& out) {
    static py::Name k_min_size{"min_size"};
    PyObject* v = PyDict_GetItemWithError(constraints, k_min_size.get());
    if (!v) py::drop_exception();
    if (!v || !PyLong_Check(v)) return false;
    int overflow = 0;
    long long r = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (r == -1 && PyErr_Occurred()) {
        py::drop_exception();
        return false;
    }
    out = overflow > 0 ? INT64_MAX : overflow < 0 ? INT64_MIN : r;
    return true;
}

// One node of the head replay's record, as the passes read it.
class Node {
public:
    explicit Node(const ChoiceView& v) : v_(v) {}

    bool was_forced() const { return v_.was_forced; }
    PyObject* value() const { return v_.value.get(); }
    ChoiceType kind() const { return v_.type; }
    // The choice functions on the node's constraints.
    choice::Int index_of(PyObject* v) const { return v_.constraints.to_index(v); }
    choice::Int index() const { return index_of(value()); }
    py::Ref at_index(const choice::Int& i) const { return v_.constraints.from_index(i, kind()); }
    bool permits(PyObject* v) const { return v_.constraints.permits(v); }
    PyObject* constraints() const {
        PyObject* c = v_.constraints.dict();
        if (!PyDict_Check(c)) py::raise_cannot_convert(c, "PyDict");
        return c;
    }
    // A string node's alphabet (borrowed; nullptr when its dict has none)
    // and its min_size (false when its dict has no readable one), from the
    // native fields when the record drew it itself.
    PyObject* intervals() const {
        if (native_string()) return v_.constraints.intervals();
        static py::Name k_intervals{"intervals"};
        return py::dict_get(constraints(), k_intervals.get());
    }
    bool min_size(int64_t& out) const {
        if (!native_string()) return read_min_size(constraints(), out);
        out = static_cast<int64_t>(std::min<uint64_t>(v_.constraints.min_size(), INT64_MAX));
        return true;
    }

private:
    bool native_string() const { return v_.constraints.form() == data::NodeConstraints::Form::String; }

    const ChoiceView& v_;
};

Py_ssize_t list_len(PyObject* list) {
    Py_ssize_t n = PyList_Size(list);
    if (n < 0) throw py::Err{};
    return n;
}

// A new list holding the items of `list` (new references).
py::Ref copy_list(PyObject* list) { return py::check(PyList_GetSlice(list, 0, list_len(list))); }

// A new list: `list` without the `k` items from position i.
py::Ref without(PyObject* list, Py_ssize_t i, Py_ssize_t k) {
    py::Ref head = py::check(PyList_GetSlice(list, 0, i));
    py::Ref tail = py::check(PyList_GetSlice(list, i + k, list_len(list)));
    return py::check(PySequence_Concat(head.get(), tail.get()));
}

void list_put(PyObject* list, Py_ssize_t i, py::Ref value) {
    if (PyList_SetItem(list, i, value.release()) < 0) throw py::Err{};
}

// The choice sequence of one trial, built in buffers reused from trial to
// trial: the items of a sequence that outlives the trial, borrowed, with
// the values put in their place held here.
class Candidate {
public:
    void copy_of(const RefList& seq) {
        held_.clear();
        items_.resize(seq.size());
        for (size_t i = 0; i < seq.size(); ++i) items_[i] = seq[i].get();
    }
    // `seq` without its `k` items from position i.
    void without(const RefList& seq, size_t i, size_t k) {
        held_.clear();
        items_.clear();
        for (size_t j = 0; j < seq.size(); ++j)
            if (j < i || j >= i + k) items_.push_back(seq[j].get());
    }
    void put(size_t i, py::Ref value) {
        items_[i] = value.get();
        held_.push_back(std::move(value));
    }
    Choices items() const { return items_; }
    // The sequence as new references.
    RefList owned() const {
        RefList out;
        out.reserve(items_.size());
        for (PyObject* o : items_) out.push_back(py::Ref::borrow(o));
        return out;
    }

private:
    std::vector<PyObject*> items_;
    std::vector<py::Ref> held_;
};

// floor((lo + hi) / 2) of non-negative indices.
using Index = choice::Int;

// floor((lo + hi) / 2) for lo <= hi.
Index midpoint(const Index& lo, const Index& hi) { return lo + (hi - lo).half(); }

class Shrinker {
public:
    Shrinker(Replayer& rp, Origin target, RefList best, py::Ref args, py::Ref exc, ShrinkProgress* progress)
        : rp_(rp), progress_(progress), target_(std::move(target)), best_(std::move(best)),
          args_(std::move(args)), exc_(std::move(exc)) {}

    ShrinkResult run(uint64_t max_shrinks) {
        bool first_round = true;
        bool force_deletion = false;
        for (uint64_t round = 1; round <= MAX_ROUNDS; ++round) {
            if (report_total_shrinks() >= max_shrinks) {
                set_report_capped();
                break;
            }
            Replay head = rp_.replay(borrowed(best_), true);
            if (!head.interesting) break;
            args_ = std::move(head.args);
            exc_ = std::move(head.exc);
            cur_ = std::move(head.choices);
            nodes_ = std::move(head.nodes);
            head_is_best_ = true;
            n_cur_ = static_cast<Py_ssize_t>(cur_.size());

            const bool deletion_due =
                first_round || force_deletion || n_cur_ != last_deletion_len_;
            first_round = false;
            bool progress = (deletion_due && run_pass(PASS_DELETION, &Shrinker::deletion_pass)) ||
                            run_pass(PASS_INDIVIDUAL, &Shrinker::individual_pass) ||
                            run_pass(PASS_DUPLICATED, &Shrinker::duplicated_pass) ||
                            run_pass(PASS_PAIRS, &Shrinker::pairs_pass);
            if (progress) {
                force_deletion = false;
            } else if (deletion_due) {
                break;
            } else {
                force_deletion = true;
            }
        }
        ShrinkResult r{std::move(args_), std::move(exc_), std::move(best_), {}};
        if (head_is_best_) r.rank = rank_of(nodes_);
        return r;
    }

private:
    // A pass's new best sequence, when it made progress.
    using Found = std::optional<RefList>;
    using Pass = Found (Shrinker::*)();

    // Runs one pass and records it.
    bool run_pass(const char* name, Pass pass) {
        const uint64_t start = shrink_calls();
        Found found = (this->*pass)();
        const bool progress = found.has_value();
        if (progress) {
            // The pass's last accepted trial was of its new best sequence: a
            // shrink cut short after it reports what that trial raised.
            best_ = std::move(*found);
            args_ = std::move(accepted_args_);
            exc_ = std::move(accepted_exc_);
            head_is_best_ = false;
        }
        record_pass(name, shrink_calls() - start, progress);
        return progress;
    }

    bool trial_fails() {
        set_shrink_calls(shrink_calls() + 1);
        const bool fails = judge(rp_.replay(cand_.items(), false));
        if (progress_) {
            if (fails) progress_->improved(cand_.items());
            progress_->tried();
        }
        return fails;
    }

    // Whether a trial's replay failed with the target origin on choices
    // simpler than the current ones. The record may take back what a
    // candidate changed (a forced choice is drawn as forced whatever the
    // sequence holds), and a replay of the current choices again is no
    // progress, however often it is accepted.
    bool judge(Replay r) {
        if (!r.interesting) return false;
        Origin o = origin_of(r.exc.get());
        if (o == target_) {
            if (!replay_less(r.record.get(), nodes_)) return false;
            accepted_args_ = std::move(r.args);
            accepted_exc_ = std::move(r.exc);
            return true;
        }
        if (slip_enabled() && !slipped_has(o)) {
            FailureEntry f{std::move(o), cand_.owned(), std::move(r.args), std::move(r.exc), {}, {}};
            if (progress_) progress_->slipped(f);
            push_slipped(std::move(f));
        }
        return false;
    }

    // cur with position i replaced by `value`, when its replay fails alike.
    Found set_node_value(Py_ssize_t i, py::Ref value) {
        cand_.copy_of(cur_);
        cand_.put(static_cast<size_t>(i), std::move(value));
        if (trial_fails()) return cand_.owned();
        return {};
    }

    // A float built from an index is clamped into its constraints and can
    // come out no simpler than the node's current value (index k); such a
    // candidate would be accepted without changing anything, so it is not
    // tried.
    bool simpler_float(Node& n, PyObject* v, const Index& k) {
        return n.kind() != ChoiceType::Float || n.index_of(v) < k;
    }

    Found try_node_index(Py_ssize_t i, Node& n, const Index& idx, const Index& k) {
        py::Ref v = n.at_index(idx);
        if (!simpler_float(n, v.get(), k)) return {};
        return set_node_value(i, std::move(v));
    }

    Node node_at(Py_ssize_t i) const { return Node(nodes_[static_cast<size_t>(i)]); }
    Py_ssize_t nodes_len() const { return static_cast<Py_ssize_t>(nodes_.size()); }

    // Lowers an index from k: 0 first, then a binary search for the least
    // accepted index, which is tried once more to obtain its sequence.
    template <class Step>
    Found lower_index(const Index& k, Step step) {
        if (Found c = step(Index(0))) return c;
        Index lo = 0, hi = k;
        while (hi - lo > Index(1)) {
            Index mid = midpoint(lo, hi);
            if (step(mid)) hi = mid;
            else lo = mid;
        }
        if (hi < k) return step(hi);
        return {};
    }

    // --- passes ------------------------------------------------------------

    Found deletion_pass() {
        RefList work = cur_;
        bool progress = false;
        for (size_t k : DELETION_WIDTHS) {
            size_t i = 0;
            while (i + k <= work.size()) {
                cand_.without(work, i, k);
                if (trial_fails()) {
                    work = cand_.owned();
                    progress = true;
                } else {
                    ++i;
                }
            }
        }
        last_deletion_len_ = n_cur_;
        if (!progress) return {};
        return work;
    }

    Found individual_pass() {
        const Py_ssize_t n = nodes_len();
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i >= n_cur_) continue;
            Node node = node_at(i);
            if (node.was_forced()) continue;
            if (node.kind() == ChoiceType::String) {
                if (Found c = string_step(i, node)) return c;
                continue;
            }
            const Index k = node.index();
            if (k == 0) continue;
            if (node.kind() == ChoiceType::Float) {
                for (double f : {0.0, -0.0, 1.0, -1.0}) {
                    py::Ref fv = py::from_double(f);
                    if (!node.permits(fv.get())) continue;
                    if (!(node.index_of(fv.get()) < k)) continue;
                    if (Found c = set_node_value(i, std::move(fv))) return c;
                }
            }
            Found c = lower_index(
                k, [&](const Index& idx) { return try_node_index(i, node, idx, k); });
            if (c) return c;
        }
        return {};
    }

    // Deletes single characters, then moves each character towards the
    // start of the alphabet's shrink order.
    Found string_step(Py_ssize_t i, Node& node) {
        PyObject* intervals = node.intervals();
        if (!intervals) return {};
        py::Ref keep_intervals = py::Ref::borrow(intervals);
        py::Ref chars = py::check(PySequence_List(node.value()));
        const Py_ssize_t n = list_len(chars.get());
        if (n == 0) return {};
        py::Ref empty = py::str("");
        auto join = [&](PyObject* list) { return py::check(PyUnicode_Join(empty.get(), list)); };

        // A deletion below min_size would be replaced by the record with the
        // simplest string: the trial could succeed without the string
        // getting simpler, round after round.
        int64_t min_size = 0;
        const bool deletable = !node.min_size(min_size) || n - 1 >= min_size;
        for (Py_ssize_t p = 0; deletable && p < n; ++p) {
            py::Ref shorter = without(chars.get(), p, 1);
            if (Found c = set_node_value(i, join(shorter.get()))) return c;
        }

        for (Py_ssize_t p = 0; p < n; ++p) {
            static py::Name k_index{"index_from_char_in_shrink_order"};
            py::Ref idx = py::check(PyObject_CallMethodObjArgs(
                intervals, k_index.get(), PyList_GetItem(chars.get(), p), nullptr));
            const int64_t k = PyLong_AsLongLong(idx.get());
            if (k == -1 && PyErr_Occurred()) throw py::Err{};
            if (k < 1) continue;
            auto step = [&](int64_t t) -> Found {
                py::Ref ti = py::from_i64(t);
                static py::Name k_char{"char_in_shrink_order"};
                py::Ref ch = py::check(
                    PyObject_CallMethodObjArgs(intervals, k_char.get(), ti.get(), nullptr));
                py::Ref moved = copy_list(chars.get());
                list_put(moved.get(), p, std::move(ch));
                return set_node_value(i, join(moved.get()));
            };
            for (int64_t t = 0; t < std::min(k, LINEAR_CHARS); ++t) {
                if (Found c = step(t)) return c;
            }
            if (k > LINEAR_CHARS) {
                int64_t lo = LINEAR_CHARS - 1, hi = k;
                while (hi - lo > 1) {
                    int64_t mid = lo + (hi - lo) / 2;
                    if (step(mid)) hi = mid;
                    else lo = mid;
                }
                if (hi < k) {
                    if (Found c = step(hi)) return c;
                }
            }
        }
        return {};
    }

    Found duplicated_pass() {
        const Py_ssize_t n = nodes_len();
        if (n < 1 || n > MAX_GROUP_NODES) return {};
        std::vector<bool> visited(static_cast<size_t>(n), false);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i >= n_cur_ || visited[static_cast<size_t>(i)]) continue;
            Node node = node_at(i);
            if (node.kind() == ChoiceType::String) continue;
            const Index k = node.index();
            if (k == 0) continue;
            std::vector<Py_ssize_t> group{i};
            for (Py_ssize_t j = i + 1; j < n; ++j) {
                if (j >= n_cur_ || visited[static_cast<size_t>(j)]) continue;
                Node other = node_at(j);
                if (choice::choice_equal(node.value(), other.value())) group.push_back(j);
            }
            if (group.size() < 2) continue;
            for (Py_ssize_t g : group) visited[static_cast<size_t>(g)] = true;
            auto step = [&](const Index& idx) -> Found {
                py::Ref v = node.at_index(idx);
                if (!simpler_float(node, v.get(), k)) return {};
                cand_.copy_of(cur_);
                for (Py_ssize_t g : group) cand_.put(static_cast<size_t>(g), v);
                if (trial_fails()) return cand_.owned();
                return {};
            };
            if (Found c = lower_index(k, step)) return c;
        }
        return {};
    }

    // A numeric node's index, or 0 when it is not a numeric choice, and its
    // simplest value when that is simpler.
    struct PairEnd {
        Index index;
        py::Ref simplest;
    };
    bool pair_end(Node& node, PairEnd& out) {
        if (!numeric(node.kind())) return false;
        out.index = node.index();
        if (out.index == 0) return false;
        out.simplest = node.at_index(Index(0));
        return simpler_float(node, out.simplest.get(), out.index);
    }

    Found pairs_pass() {
        const Py_ssize_t n = nodes_len();
        if (n < 1 || n > MAX_GROUP_NODES) return {};
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i >= n_cur_) continue;
            Node a = node_at(i);
            PairEnd ea;
            if (!pair_end(a, ea)) continue;
            const Py_ssize_t end = std::min(n, i + PAIR_REACH + 1);
            for (Py_ssize_t j = i + 1; j < end; ++j) {
                if (j >= n_cur_) continue;
                Node b = node_at(j);
                PairEnd eb;
                if (!pair_end(b, eb)) continue;
                cand_.copy_of(cur_);
                cand_.put(static_cast<size_t>(i), ea.simplest);
                cand_.put(static_cast<size_t>(j), std::move(eb.simplest));
                if (trial_fails()) return cand_.owned();
            }
        }
        return {};
    }

    Replayer& rp_;
    ShrinkProgress* progress_;
    Origin target_;
    RefList best_;
    py::Ref args_, exc_;
    py::Ref accepted_args_, accepted_exc_;  // of the last trial accepted
    RefList cur_;
    Candidate cand_;
    std::vector<ChoiceView> nodes_;
    bool head_is_best_ = false;  // nodes_ are those of a replay of best_
    Py_ssize_t n_cur_ = 0;
    Py_ssize_t last_deletion_len_ = 0;
};

}  // namespace

ShrinkResult shrink(Replayer& replayer, RefList choices, py::Ref args, py::Ref exc, uint64_t max_shrinks,
                    ShrinkProgress* progress) {
    Origin target = origin_of(exc.get());
    set_shrink_calls(0);
    reset_shrink_report();
    Shrinker s(replayer, std::move(target), std::move(choices), std::move(args),
               std::move(exc), progress);
    return s.run(max_shrinks);
}

}  // namespace engine
