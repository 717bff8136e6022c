// Tries of choice paths. A path is a test case's choices, each reduced to
// the repr text of its value and, where it can be counted, the number of
// values the choice could have taken. The engine keeps two tries: the paths
// it has run (to skip known examples and notice an exhausted input space)
// and the paths that were rejected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "py/py.hpp"

namespace engine {

struct PathElement {
    std::string key;                      // repr of the choice's value
    std::optional<uint64_t> branch_count;  // values the choice could take
};

// A path buffer reused from example to example: `size` elements are live,
// the ones beyond keep their string capacity for the next fill.
struct Path {
    std::vector<PathElement> elements;
    size_t size = 0;

    void clear() { size = 0; }
    PathElement& push();
    const PathElement* begin() const { return elements.data(); }
    const PathElement* end() const { return elements.data() + size; }
};

// One example's path, read once for both uses of it: the duplicate check
// before the test walks it as far as the trie holds it, and the add after
// the test goes on from there. Reused from example to example.
struct Probe {
    Path path;
    std::vector<uint32_t> walked;  // trie nodes along the path's first elements, the root first
    bool read = false;             // `path` holds the record's nodes as the check saw them

    void reset() {
        path.clear();
        walked.clear();
        read = false;
    }
};

// A whole trie, held from its root. Nodes live in one arena and are
// addressed by index. Each node holds the edge to its first child; the
// edges to further children share one open-addressing table keyed by
// (parent, key text). A path never seen before so becomes a run of nodes
// side by side in the arena, each leading to the next without a table
// lookup. Nothing is ever removed. Whether a node is exhausted is kept up
// to date as paths are added, so asking the root is constant time and no
// operation recurses along a path.
class TreeNode {
public:
    TreeNode();

    // Adds a path; its last node becomes terminal. An empty path makes the
    // root terminal.
    void add(const Path& path);
    // The same for `probe.path`, going on from `probe.walked` (the walk of
    // is_duplicate over a prefix of that path, on this trie unchanged since;
    // empty: from the root).
    void add(Probe& probe);
    // Every path below the root has been run: a node without children is
    // exhausted when terminal; one with children when its branch count is
    // known, it has at least that many children and all are exhausted.
    bool exhausted() const { return nodes_[0].flags & EXHAUSTED; }
    // `probe.path` leads, by keys alone, to a terminal node; the nodes
    // walked are kept in `probe.walked`.
    bool is_duplicate(Probe& probe) const;

    size_t node_count() const { return nodes_.size(); }

private:
    static constexpr uint8_t HAS_COUNT = 1, TERMINAL = 2, EXHAUSTED = 4;
    static constexpr uint32_t NONE = UINT32_MAX;

    // A key of up to 8 bytes (the reprs of booleans and most integers) is
    // held in the edge itself, a longer one in the shared key arena.
    static constexpr size_t INLINE_KEY = 8;
    struct Key {
        char bytes[INLINE_KEY] = {};  // the key's bytes, or its offset in keys_
        uint32_t len = 0;
    };

    struct Node {
        uint32_t count = 0;  // branch count, saturated (children never exceed it)
        uint32_t children = 0;
        uint32_t exhausted_children = 0;
        uint32_t first = NONE;  // the first child, reached by first_key
        Key first_key;
        uint8_t flags = 0;
    };
    // One parent-to-child edge of a child after the first.
    struct Slot {
        uint32_t parent = NONE;  // NONE: empty slot
        uint32_t child = 0;
        uint32_t hash = 0;  // low bits of the edge's hash
        Key key;
    };

    std::string_view key_text(const Key& k) const;
    bool key_is(const Key& k, std::string_view key) const;
    Key store_key(std::string_view key);
    uint64_t hash(uint32_t parent, std::string_view key) const;
    bool matches(const Slot& s, uint32_t parent, uint32_t h, std::string_view key) const;
    uint32_t find(uint32_t parent, std::string_view key) const;
    uint32_t find_or_insert(uint32_t parent, std::string_view key);
    // A new child of `parent`, counted there; its key stored into `stored`.
    uint32_t new_node(uint32_t parent, std::string_view key, Key& stored);
    void grow();
    bool compute_exhausted(const Node& n) const;
    // Adds `path`, whose first stack_.size() - 1 elements lead along stack_.
    void add_from_stack(const Path& path);

    std::vector<Node> nodes_;
    std::vector<Slot> slots_;
    std::string keys_;
    size_t used_ = 0;
    uint64_t seed_;
    std::vector<uint32_t> stack_;  // nodes visited by the add running
};

// The number of values of an integer choice: present when both bounds are
// ints within the signed 128-bit range and span at most 256 values.
std::optional<uint64_t> integer_branch_count(PyObject* constraints);
// The same for the bounds themselves (nullptr or None: absent).
std::optional<uint64_t> integer_branch_count(PyObject* lo, PyObject* hi);
// The key of a value in a path: its repr text.
void repr_key(PyObject* value, std::string& out);

// Reduces a record's recorded choices to a path (into `out`, reused).
// Raises the Python error of reading the record's nodes.
void node_seq(PyObject* record, Path& out);
// Appends to `out` the path of a native record's choices from `out.size`
// on: the choices recorded since `out` was read from the same record.
void node_seq_extend(PyObject* record, Path& out);

}  // namespace engine
