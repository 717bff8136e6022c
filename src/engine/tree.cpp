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

bool TreeNode::matches(const Slot& s, uint32_t parent, uint32_t h, std::string_view key) const {
    if (s.parent != parent || s.hash != h || s.key_len != key.size()) return false;
    if (key.size() <= INLINE_KEY) return std::memcmp(&s.key, key.data(), key.size()) == 0;
    return std::memcmp(keys_.data() + s.key, key.data(), key.size()) == 0;
}

uint32_t TreeNode::find(uint32_t parent, std::string_view key) const {
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
        const std::string_view key = s.key_len <= INLINE_KEY
                                         ? std::string_view(reinterpret_cast<const char*>(&s.key), s.key_len)
                                         : std::string_view(keys_.data() + s.key, s.key_len);
        size_t i = hash(s.parent, key) & mask;
        while (slots_[i].parent != NONE) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

uint32_t TreeNode::find_or_insert(uint32_t parent, std::string_view key) {
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
    if (nodes_.size() >= NONE - 1 || key.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::bad_alloc();
    }
    const auto child = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back();
    Slot& s = slots_[i];
    s.parent = parent;
    s.child = child;
    s.hash = h;
    s.key_len = static_cast<uint32_t>(key.size());
    if (key.size() <= INLINE_KEY) {
        s.key = 0;
        std::memcpy(&s.key, key.data(), key.size());
    } else {
        s.key = keys_.size();
        keys_.append(key);
    }
    ++used_;
    ++nodes_[parent].children;
    return child;
}

bool TreeNode::compute_exhausted(const Node& n) const {
    if (n.children == 0) return n.flags & TERMINAL;
    return (n.flags & HAS_COUNT) && n.children >= n.count && n.exhausted_children == n.children;
}

void TreeNode::add(const Path& path) {
    stack_.clear();
    uint32_t cur = 0;
    stack_.push_back(cur);
    for (const PathElement& e : path) {
        Node& n = nodes_[cur];
        if (!(n.flags & HAS_COUNT) && e.branch_count) {
            n.flags |= HAS_COUNT;
            n.count = static_cast<uint32_t>(std::min<uint64_t>(*e.branch_count, UINT32_MAX));
        }
        cur = find_or_insert(cur, e.key);
        stack_.push_back(cur);
    }
    nodes_[cur].flags |= TERMINAL;
    // Only the nodes on this path can change state; settle them deepest
    // first so each sees its children's new state.
    for (size_t k = stack_.size(); k-- > 0;) {
        Node& n = nodes_[stack_[k]];
        const bool was = n.flags & EXHAUSTED;
        const bool now = compute_exhausted(n);
        if (was == now) continue;
        n.flags = static_cast<uint8_t>(now ? n.flags | EXHAUSTED : n.flags & ~EXHAUSTED);
        if (k > 0) {
            Node& parent = nodes_[stack_[k - 1]];
            parent.exhausted_children += now ? 1 : uint32_t(-1);
        }
    }
}

bool TreeNode::is_duplicate(const Path& path) const {
    uint32_t cur = 0;
    for (const PathElement& e : path) {
        cur = find(cur, e.key);
        if (cur == NONE) return false;
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
    PyObject* lo = py::dict_get(constraints, k_min.get());
    PyObject* hi = py::dict_get(constraints, k_max.get());
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

void repr_key(PyObject* value, std::string& out) {
    if (value == Py_True) {
        out.assign("True");
        return;
    }
    if (value == Py_False) {
        out.assign("False");
        return;
    }
    int64_t small;
    if (PyLong_CheckExact(value) && py::as_i64(value, small)) {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, small);
        out.assign(buf, r.ptr);
        return;
    }
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

struct NativeNode {
    py::Ref value;
    py::Ref constraints;
    uint8_t tag;
};

// A native record's nodes, read directly. The references are copied out
// first so that no borrow of the record is held while reprs run.
void native_node_seq(PyObject* record, Path& out) {
    std::vector<NativeNode> nodes;
    {
        data::RecordRef r(record);
        nodes.reserve(r->nodes.size());
        for (const data::NodeData& n : r->nodes) {
            nodes.push_back({n.value, py::Ref::borrow(n.constraints.dict()), n.choice_type});
        }
    }
    for (const NativeNode& n : nodes) {
        PathElement& e = out.push();
        repr_key(n.value.get(), e.key);
        if (n.tag == data::TAG_BOOLEAN) {
            e.branch_count = 2;
        } else if (n.tag == data::TAG_INTEGER) {
            if (!PyDict_Check(n.constraints.get())) py::raise_cannot_convert(n.constraints.get(), "PyDict");
            e.branch_count = integer_branch_count(n.constraints.get());
        }
    }
}

}  // namespace

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
