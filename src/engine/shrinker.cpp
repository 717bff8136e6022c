#include "engine/shrinker.hpp"

#include <algorithm>
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
constexpr Py_ssize_t DELETION_WIDTHS[] = {8, 4, 3, 2, 1};

using choice::ChoiceType;

bool numeric(ChoiceType t) {
    return t == ChoiceType::Integer || t == ChoiceType::Float || t == ChoiceType::Boolean;
}

// One node of the head replay's record, as the passes read it.
class Node {
public:
    explicit Node(const ChoiceView& v) : v_(v) {}

    bool was_forced() const { return v_.was_forced; }
    PyObject* value() const { return v_.value.get(); }
    ChoiceType kind() const { return v_.type; }
    PyObject* constraints() const {
        PyObject* c = v_.constraints.get();
        if (!PyDict_Check(c)) py::raise_cannot_convert(c, "PyDict");
        return c;
    }

private:
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

// floor((lo + hi) / 2) of non-negative indices.
using Index = choice::Int;

// floor((lo + hi) / 2) for lo <= hi.
Index midpoint(const Index& lo, const Index& hi) { return lo + (hi - lo).half(); }

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

class Shrinker {
public:
    Shrinker(Replayer& rp, Origin target, py::Ref best, py::Ref args, py::Ref exc)
        : rp_(rp), target_(std::move(target)), best_(std::move(best)),
          args_(std::move(args)), exc_(std::move(exc)) {}

    ShrinkResult run(uint64_t max_shrinks) {
        bool first_round = true;
        bool force_deletion = false;
        for (uint64_t round = 1; round <= MAX_ROUNDS; ++round) {
            if (report_total_shrinks() >= max_shrinks) {
                set_report_capped();
                break;
            }
            Replay head = rp_.replay(best_.get(), true);
            if (!head.interesting) break;
            args_ = std::move(head.args);
            exc_ = std::move(head.exc);
            cur_ = py::list_from_refs(head.choices);
            nodes_ = std::move(head.nodes);
            n_cur_ = list_len(cur_.get());

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
        return ShrinkResult{std::move(args_), std::move(exc_), std::move(best_)};
    }

private:
    using Pass = py::Ref (Shrinker::*)();

    // Runs one pass and records it; a pass answers the new best sequence
    // when it made progress.
    bool run_pass(const char* name, Pass pass) {
        const uint64_t start = shrink_calls();
        py::Ref found = (this->*pass)();
        const bool progress = static_cast<bool>(found);
        if (progress) best_ = std::move(found);
        record_pass(name, shrink_calls() - start, progress);
        return progress;
    }

    bool trial_fails(PyObject* candidate) {
        set_shrink_calls(shrink_calls() + 1);
        Replay r = rp_.replay(candidate, false);
        if (!r.interesting) return false;
        Origin o = origin_of(r.exc.get());
        if (o == target_) return true;
        if (slip_enabled() && !slipped_has(o)) {
            push_slipped(FailureEntry{std::move(o), refs_of(candidate), std::move(r.args),
                                      std::move(r.exc)});
        }
        return false;
    }

    // cur with position i replaced by `value`, when its replay fails alike.
    py::Ref set_node_value(Py_ssize_t i, py::Ref value) {
        py::Ref cand = copy_list(cur_.get());
        list_put(cand.get(), i, std::move(value));
        if (trial_fails(cand.get())) return cand;
        return {};
    }

    // A float built from an index is clamped into its constraints and can
    // come out no simpler than the node's current value (index k); such a
    // candidate would be accepted without changing anything, so it is not
    // tried.
    bool simpler_float(Node& n, PyObject* v, const Index& k) {
        return n.kind() != ChoiceType::Float || choice::choice_to_index(v, n.constraints()) < k;
    }

    py::Ref try_node_index(Py_ssize_t i, Node& n, const Index& idx, const Index& k) {
        py::Ref v = choice::choice_from_index(idx, n.kind(), n.constraints());
        if (!simpler_float(n, v.get(), k)) return {};
        return set_node_value(i, std::move(v));
    }

    Node node_at(Py_ssize_t i) const { return Node(nodes_[static_cast<size_t>(i)]); }
    Py_ssize_t nodes_len() const { return static_cast<Py_ssize_t>(nodes_.size()); }

    // Lowers an index from k: 0 first, then a binary search for the least
    // accepted index, which is tried once more to obtain its sequence.
    template <class Step>
    py::Ref lower_index(const Index& k, Step step) {
        if (py::Ref c = step(Index(0))) return c;
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

    py::Ref deletion_pass() {
        py::Ref work = copy_list(cur_.get());
        bool progress = false;
        for (Py_ssize_t k : DELETION_WIDTHS) {
            Py_ssize_t i = 0;
            while (i + k <= list_len(work.get())) {
                py::Ref cand = without(work.get(), i, k);
                if (trial_fails(cand.get())) {
                    work = std::move(cand);
                    progress = true;
                } else {
                    ++i;
                }
            }
        }
        last_deletion_len_ = n_cur_;
        return progress ? work : py::Ref();
    }

    py::Ref individual_pass() {
        const Py_ssize_t n = nodes_len();
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i >= n_cur_) continue;
            Node node = node_at(i);
            if (node.was_forced()) continue;
            if (node.kind() == ChoiceType::String) {
                if (py::Ref c = string_step(i, node)) return c;
                continue;
            }
            const Index k = choice::choice_to_index(node.value(), node.constraints());
            if (k == 0) continue;
            if (node.kind() == ChoiceType::Float) {
                for (double f : {0.0, -0.0, 1.0, -1.0}) {
                    py::Ref fv = py::from_double(f);
                    if (!choice::choice_permitted(fv.get(), node.constraints())) continue;
                    if (!(choice::choice_to_index(fv.get(), node.constraints()) < k)) continue;
                    if (py::Ref c = set_node_value(i, std::move(fv))) return c;
                }
            }
            py::Ref c = lower_index(
                k, [&](const Index& idx) { return try_node_index(i, node, idx, k); });
            if (c) return c;
        }
        return {};
    }

    // Deletes single characters, then moves each character towards the
    // start of the alphabet's shrink order.
    py::Ref string_step(Py_ssize_t i, Node& node) {
        static py::Name k_intervals{"intervals"};
        PyObject* intervals = py::dict_get(node.constraints(), k_intervals.get());
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
        const bool deletable = !read_min_size(node.constraints(), min_size) || n - 1 >= min_size;
        for (Py_ssize_t p = 0; deletable && p < n; ++p) {
            py::Ref shorter = without(chars.get(), p, 1);
            if (py::Ref c = set_node_value(i, join(shorter.get()))) return c;
        }

        for (Py_ssize_t p = 0; p < n; ++p) {
            static py::Name k_index{"index_from_char_in_shrink_order"};
            py::Ref idx = py::check(PyObject_CallMethodObjArgs(
                intervals, k_index.get(), PyList_GetItem(chars.get(), p), nullptr));
            const int64_t k = PyLong_AsLongLong(idx.get());
            if (k == -1 && PyErr_Occurred()) throw py::Err{};
            if (k < 1) continue;
            auto step = [&](int64_t t) -> py::Ref {
                py::Ref ti = py::from_i64(t);
                static py::Name k_char{"char_in_shrink_order"};
                py::Ref ch = py::check(
                    PyObject_CallMethodObjArgs(intervals, k_char.get(), ti.get(), nullptr));
                py::Ref moved = copy_list(chars.get());
                list_put(moved.get(), p, std::move(ch));
                return set_node_value(i, join(moved.get()));
            };
            for (int64_t t = 0; t < std::min(k, LINEAR_CHARS); ++t) {
                if (py::Ref c = step(t)) return c;
            }
            if (k > LINEAR_CHARS) {
                int64_t lo = LINEAR_CHARS - 1, hi = k;
                while (hi - lo > 1) {
                    int64_t mid = lo + (hi - lo) / 2;
                    if (step(mid)) hi = mid;
                    else lo = mid;
                }
                if (hi < k) {
                    if (py::Ref c = step(hi)) return c;
                }
            }
        }
        return {};
    }

    py::Ref duplicated_pass() {
        const Py_ssize_t n = nodes_len();
        if (n < 1 || n > MAX_GROUP_NODES) return {};
        std::vector<bool> visited(static_cast<size_t>(n), false);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i >= n_cur_ || visited[static_cast<size_t>(i)]) continue;
            Node node = node_at(i);
            if (node.kind() == ChoiceType::String) continue;
            const Index k = choice::choice_to_index(node.value(), node.constraints());
            if (k == 0) continue;
            std::vector<Py_ssize_t> group{i};
            for (Py_ssize_t j = i + 1; j < n; ++j) {
                if (j >= n_cur_ || visited[static_cast<size_t>(j)]) continue;
                Node other = node_at(j);
                if (choice::choice_equal(node.value(), other.value())) group.push_back(j);
            }
            if (group.size() < 2) continue;
            for (Py_ssize_t g : group) visited[static_cast<size_t>(g)] = true;
            auto step = [&](const Index& idx) -> py::Ref {
                py::Ref v = choice::choice_from_index(idx, node.kind(), node.constraints());
                if (!simpler_float(node, v.get(), k)) return {};
                py::Ref cand = copy_list(cur_.get());
                for (Py_ssize_t g : group) list_put(cand.get(), g, v);
                if (trial_fails(cand.get())) return cand;
                return {};
            };
            if (py::Ref c = lower_index(k, step)) return c;
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
        out.index = choice::choice_to_index(node.value(), node.constraints());
        if (out.index == 0) return false;
        out.simplest = choice::choice_from_index(Index(0), node.kind(), node.constraints());
        return simpler_float(node, out.simplest.get(), out.index);
    }

    py::Ref pairs_pass() {
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
                py::Ref cand = copy_list(cur_.get());
                list_put(cand.get(), i, ea.simplest);
                list_put(cand.get(), j, std::move(eb.simplest));
                if (trial_fails(cand.get())) return cand;
            }
        }
        return {};
    }

    Replayer& rp_;
    Origin target_;
    py::Ref best_, args_, exc_;
    py::Ref cur_;
    std::vector<ChoiceView> nodes_;
    Py_ssize_t n_cur_ = 0;
    Py_ssize_t last_deletion_len_ = 0;
};

}  // namespace

std::vector<py::Ref> refs_of(PyObject* list) {
    const Py_ssize_t n = list_len(list);
    std::vector<py::Ref> out;
    out.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) out.push_back(py::Ref::borrow(PyList_GetItem(list, i)));
    return out;
}

ShrinkResult shrink(Replayer& replayer, py::Ref choices, py::Ref args, py::Ref exc,
                    uint64_t max_shrinks) {
    Origin target = origin_of(exc.get());
    set_shrink_calls(0);
    reset_shrink_report();
    Shrinker s(replayer, std::move(target), std::move(choices), std::move(args),
               std::move(exc));
    return s.run(max_shrinks);
}

}  // namespace engine
