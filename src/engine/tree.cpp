#include "engine/tree.hpp"

#include "data/record.hpp"

#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>

namespace engine {

PathElement& Path::push() {
    if (size == elements.size()) elements.emplace_back();
    PathElement& e = elements[size++];
    e.key.clear();
    e.branch_count.reset();
    return e;
}

namespace {

uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

// A seed per trie, so the layout of the table cannot be predicted from the
// keys alone.
uint64_t fresh_seed() {
    thread_local uint64_t counter =
        mix(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            reinterpret_cast<uintptr_t>(&counter));
    counter += 0x9e3779b97f4a7c15ULL;
    return mix(counter);
}

}  // namespace

TreeNode::TreeNode() : seed_(fresh_seed()) {
    static_assert(sizeof(Node) == 32, "two nodes to a cache line");
    nodes_.emplace_back();
    slots_.resize(16);
}

uint64_t TreeNode::hash(uint32_t parent, std::string_view key) const {
    uint64_t h = mix(seed_ ^ (uint64_t(parent) << 32 | key.size()));
    size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, key.data() + i, 8);
        h = mix(h ^ w);
    }
    uint64_t tail = 0;
    if (i < key.size()) std::memcpy(&tail, key.data() + i, key.size() - i);
    return mix(h ^ tail ^ 0x5851f42d4c957f2dULL);
}

std::string_view TreeNode::key_text(const Key& k) const {
    if (k.len <= INLINE_KEY) return std::string_view(k.bytes, k.len);
    uint64_t offset;
    std::memcpy(&offset, k.bytes, sizeof offset);
    return std::string_view(keys_.data() + offset, k.len);
}

bool TreeNode::key_is(const Key& k, std::string_view key) const {
    return k.len == key.size() && key_text(k) == key;
}

TreeNode::Key TreeNode::store_key(std::string_view key) {
    if (key.size() > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    Key k;
    k.len = static_cast<uint32_t>(key.size());
    if (key.size() <= INLINE_KEY) {
        std::memcpy(k.bytes, key.data(), key.size());
    } else {
        const uint64_t offset = keys_.size();
        std::memcpy(k.bytes, &offset, sizeof offset);
        keys_.append(key);
    }
    return k;
}

bool TreeNode::matches(const Slot& s, uint32_t parent, uint32_t h, std::string_view key) const {
    return s.parent == parent && s.hash == h && key_is(s.key, key);
}

uint32_t TreeNode::find(uint32_t parent, std::string_view key) const {
    const Node& p = nodes_[parent];
    if (p.first == NONE) return NONE;
    if (key_is(p.first_key, key)) return p.first;
    if (p.children < 2) return NONE;
    const uint64_t full = hash(parent, key);
    const auto h = static_cast<uint32_t>(full);
    const size_t mask = slots_.size() - 1;
    for (size_t i = full & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.parent == NONE) return NONE;
        if (matches(s, parent, h, key)) return s.child;
    }
}

void TreeNode::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (s.parent == NONE) continue;
        size_t i = hash(s.parent, key_text(s.key)) & mask;
        while (slots_[i].parent != NONE) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

uint32_t TreeNode::new_node(uint32_t parent, std::string_view key, Key& stored) {
    if (nodes_.size() >= NONE - 1) throw std::bad_alloc();
    stored = store_key(key);
    const auto child = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back();
    ++nodes_[parent].children;
    return child;
}

uint32_t TreeNode::find_or_insert(uint32_t parent, std::string_view key) {
    if (nodes_[parent].first == NONE) {
        Key k;
        const uint32_t child = new_node(parent, key, k);
        Node& p = nodes_[parent];
        p.first = child;
        p.first_key = k;
        return child;
    }
    if (key_is(nodes_[parent].first_key, key)) return nodes_[parent].first;
    if ((used_ + 1) * 4 > slots_.size() * 3) grow();
    const uint64_t full = hash(parent, key);
    const auto h = static_cast<uint32_t>(full);
    const size_t mask = slots_.size() - 1;
    size_t i = full & mask;
    for (;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.parent == NONE) break;
        if (matches(s, parent, h, key)) return s.child;
    }
    Key k;
    const uint32_t child = new_node(parent, key, k);
    slots_[i] = Slot{parent, child, h, k};
    ++used_;
    return child;
}

bool TreeNode::compute_exhausted(const Node& n) const {
    if (n.children == 0) return n.flags & TERMINAL;
    return (n.flags & HAS_COUNT) && n.children >= n.count && n.exhausted_children == n.children;
}

void TreeNode::add(const Path& path) {
    stack_.clear();
    stack_.push_back(0);
    add_from_stack(path);
}

void TreeNode::add(Probe& probe) {
    stack_.clear();
    if (probe.walked.empty()) stack_.push_back(0);
    else stack_.assign(probe.walked.begin(), probe.walked.end());
    add_from_stack(probe.path);
    probe.walked.clear();
}

void TreeNode::add_from_stack(const Path& path) {
    const size_t known = stack_.size() - 1;
    uint32_t cur = stack_.back();
    size_t k = 0;
    for (const PathElement& e : path) {
        Node& n = nodes_[stack_[k]];
        if (!(n.flags & HAS_COUNT) && e.branch_count) {
            n.flags |= HAS_COUNT;
            n.count = static_cast<uint32_t>(std::min<uint64_t>(*e.branch_count, UINT32_MAX));
        }
        if (k >= known) {
            cur = find_or_insert(cur, e.key);
            stack_.push_back(cur);
        }
        ++k;
    }
    nodes_[cur].flags |= TERMINAL;
    // Only the nodes on this path can change state; settle them deepest
    // first so each sees its children's new state.
    for (size_t d = stack_.size(); d-- > 0;) {
        Node& n = nodes_[stack_[d]];
        const bool was = n.flags & EXHAUSTED;
        const bool now = compute_exhausted(n);
        if (was == now) continue;
        n.flags = static_cast<uint8_t>(now ? n.flags | EXHAUSTED : n.flags & ~EXHAUSTED);
        if (d > 0) {
            Node& parent = nodes_[stack_[d - 1]];
            parent.exhausted_children += now ? 1 : uint32_t(-1);
        }
    }
}

bool TreeNode::is_duplicate(Probe& probe) const {
    probe.walked.clear();
    uint32_t cur = 0;
    probe.walked.push_back(cur);
    for (const PathElement& e : probe.path) {
        cur = find(cur, e.key);
        if (cur == NONE) return false;
        probe.walked.push_back(cur);
    }
    return nodes_[cur].flags & TERMINAL;
}

// ---------------------------------------------------------------------------
// node_seq

namespace {

// The 128-bit range that integer bounds must fit for a count.
bool fits_i128(const mpz_class& v) {
    static const mpz_class top = mpz_class(1) << 127;
    return v >= -top && v < top;
}

}  // namespace

std::optional<uint64_t> integer_branch_count(PyObject* constraints) {
    static py::Name k_min{"min_value"}, k_max{"max_value"};
    return integer_branch_count(py::dict_get(constraints, k_min.get()), py::dict_get(constraints, k_max.get()));
}

std::optional<uint64_t> integer_branch_count(PyObject* lo, PyObject* hi) {
    if (!lo || !hi || lo == Py_None || hi == Py_None) return std::nullopt;
    int64_t a, b;
    if (py::as_i64(lo, a) && py::as_i64(hi, b)) {
        const __int128 span = static_cast<__int128>(b) - a;
        if (span < 0 || span > 255) return std::nullopt;
        return static_cast<uint64_t>(span) + 1;
    }
    mpz_class mlo, mhi;
    try {
        py::to_mpz(lo, mlo);
        py::to_mpz(hi, mhi);
    } catch (const py::Err&) {
        py::drop_exception();
        return std::nullopt;
    }
    if (!fits_i128(mlo) || !fits_i128(mhi)) return std::nullopt;
    mpz_class span = mhi - mlo;
    if (span < 0 || span > 255) return std::nullopt;
    return span.get_ui() + 1;
}

namespace {

// The key of a boolean or of an int in the signed 64-bit range, which take
// no Python code to spell; false for any other value.
bool plain_key(PyObject* value, std::string& out) {
    if (value == Py_True) {
        out.assign("True");
        return true;
    }
    if (value == Py_False) {
        out.assign("False");
        return true;
    }
    int64_t small;
    if (!PyLong_CheckExact(value) || !py::as_i64(value, small)) return false;
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, small);
    out.assign(buf, r.ptr);
    return true;
}

}  // namespace

void repr_key(PyObject* value, std::string& out) {
    if (plain_key(value, out)) return;
    py::Ref r = py::check(PyObject_Repr(value));
    Py_ssize_t n = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(r.get(), &n)) {
        out.assign(p, static_cast<size_t>(n));
        return;
    }
    // A repr holding lone surrogates: keep them byte for byte.
    py::drop_exception();
    py::Ref b = py::check(PyUnicode_AsEncodedString(r.get(), "utf-8", "surrogatepass"));
    out.assign(PyBytes_AsString(b.get()), static_cast<size_t>(PyBytes_Size(b.get())));
}

namespace {

void add_element(Path& out, PyObject* value, PyObject* type_text, PyObject* constraints) {
    PathElement& e = out.push();
    repr_key(value, e.key);
    if (PyUnicode_CompareWithASCIIString(type_text, "boolean") == 0) {
        e.branch_count = 2;
    } else if (PyUnicode_CompareWithASCIIString(type_text, "integer") == 0) {
        e.branch_count = integer_branch_count(constraints);
    }
}

// The bounds a record kept natively, or else the constraints dict the draw
// was given, when that is a dict: no Python code runs to read either.
bool plain_constraints(const data::NodeConstraints& c) {
    return c.form() == data::NodeConstraints::Form::Integer ||
           (c.form() == data::NodeConstraints::Form::Dict && PyDict_Check(c.dict()));
}

void set_branch_count(PathElement& e, uint8_t tag, const data::NodeConstraints& c) {
    if (tag == data::TAG_BOOLEAN) {
        e.branch_count = 2;
    } else if (tag == data::TAG_INTEGER) {
        if (c.form() == data::NodeConstraints::Form::Integer) {
            e.branch_count = integer_branch_count(c.min_obj(), c.max_obj());
            return;
        }
        PyObject* d = c.dict();
        if (!PyDict_Check(d)) py::raise_cannot_convert(d, "PyDict");
        e.branch_count = integer_branch_count(d);
    }
}

struct NativeNode {
    py::Ref value;
    data::NodeConstraints constraints;
    uint8_t tag;
};

// A native record's nodes from `out.size` on, read directly. Booleans and
// small ints with plain constraints are read under the record's borrow;
// from the first other node on, the references are copied out first so
// that no borrow of the record is held while reprs run.
void native_node_seq(PyObject* record, Path& out) {
    std::vector<NativeNode> rest;
    {
        data::RecordRef r(record);
        size_t k = out.size;
        for (; k < r->nodes.size(); ++k) {
            const data::NodeData& n = r->nodes[k];
            if (n.choice_type == data::TAG_INTEGER && !plain_constraints(n.constraints)) break;
            PathElement& e = out.push();
            if (!plain_key(n.value.get(), e.key)) {
                --out.size;
                break;
            }
            set_branch_count(e, n.choice_type, n.constraints);
        }
        rest.reserve(r->nodes.size() - k);
        for (; k < r->nodes.size(); ++k) {
            const data::NodeData& n = r->nodes[k];
            rest.push_back({n.value, n.constraints, n.choice_type});
        }
    }
    for (const NativeNode& n : rest) {
        PathElement& e = out.push();
        repr_key(n.value.get(), e.key);
        set_branch_count(e, n.tag, n.constraints);
    }
}

}  // namespace

void node_seq_extend(PyObject* record, Path& out) { native_node_seq(record, out); }

void node_seq(PyObject* record, Path& out) {
    out.clear();
    if (data::is_record(record)) {
        native_node_seq(record, out);
        return;
    }
    py::Ref nodes = py::getattr(record, "nodes");
    const Py_ssize_t n = PyObject_Size(nodes.get());
    if (n < 0) throw py::Err{};
    for (Py_ssize_t k = 0; k < n; ++k) {
        py::Ref index = py::from_i64(k);
        py::Ref node = py::check(PyObject_GetItem(nodes.get(), index.get()));
        py::Ref value = py::getattr(node.get(), "value");
        py::Ref type = py::getattr(node.get(), "type");
        if (!PyUnicode_Check(type.get())) py::raise_cannot_convert(type.get(), "PyString");
        py::Ref constraints = py::getattr(node.get(), "constraints");
        if (!PyDict_Check(constraints.get())) py::raise_cannot_convert(constraints.get(), "PyDict");
        add_element(out, value.get(), type.get(), constraints.get());
    }
}

}  // namespace engine
