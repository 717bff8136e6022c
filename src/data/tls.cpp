// The per-thread slots of tls.hpp, their operations, and the Python functions
// that set and clear them (set_buffer_limit, clear_buffer_limit,
// _clear_resolution_caches).
#include "data/tls.hpp"

#include "py/thread_slots.hpp"

namespace data {
namespace {

struct Slots : py::SlotFlags {
    std::optional<uint64_t> buffer_limit;
    std::vector<mpz_class> inject;
    DeferredMap deferred;
    InferMap infer;
    StrategyMap strategies;
    uint32_t runs = 0;
};

py::StateSlots<Slots> state{"quorvantis_fast._engine.record_slots"};

// Holds the calling thread's slots for one operation.
class Hold : public py::SlotHold<Slots> {
public:
    Hold() : SlotHold(state.get(), "thread-local slot already borrowed") {}
};

// A whole slot or one entry of a cache, exchanged under the hold. What they
// displace is dropped only after the slot is released, so a __del__ that
// re-enters the caches finds them free.
template <class T>
T take(T Slots::*slot) {
    if (!state.find()) return {};
    Hold h;
    return std::exchange((*h).*slot, {});
}
template <class T>
void put(T Slots::*slot, T v) {
    T old;
    {
        Hold h;
        old = std::exchange((*h).*slot, std::move(v));
    }
}
template <class Map>
void put_entry(Map Slots::*cache, const typename Map::key_type& key, typename Map::mapped_type value) {
    typename Map::mapped_type old;
    {
        Hold h;
        old = std::exchange(((*h).*cache)[key], std::move(value));
    }
}
// A builds() cache entry; outside a run the cache keeps only the most
// recently used entries, and only a few of them for one target.
template <class V>
void put_builds_entry(LruMap<V> Slots::*cache, const std::string& key, V value) {
    V old;
    std::vector<V> evicted;
    {
        Hold h;
        LruMap<V>& map = (*h).*cache;
        old = map.put(key, std::move(value));
        if (h->runs == 0) {
            map.trim_group(key, BUILDS_CACHE_TARGET_LIMIT, evicted);
            map.trim(BUILDS_CACHE_LIMIT, evicted);
        }
    }
}

}  // namespace

uint64_t buffer_limit() {
    Hold h;
    return h->buffer_limit.value_or(BUFFER_SIZE);
}
std::optional<uint64_t> buffer_limit_slot() {
    Hold h;
    return h->buffer_limit;
}
void set_buffer_limit_slot(std::optional<uint64_t> v) {
    Hold h;
    h->buffer_limit = v;
}

void set_inject_candidates(std::vector<mpz_class> candidates) {
    Hold h;
    h->inject = std::move(candidates);
}
void clear_inject_candidates() {
    Hold h;
    h->inject.clear();
}
const std::vector<mpz_class>& inject_candidates() {
    static const std::vector<mpz_class> none;
    const Slots* s = state.find();
    return s ? s->inject : none;
}
std::vector<mpz_class> take_inject_candidates() { return take(&Slots::inject); }

py::Ref deferred_get(PyObject* key) {
    Hold h;
    auto it = h->deferred.find(reinterpret_cast<uintptr_t>(key));
    if (it == h->deferred.end()) return {};
    return it->second.second;
}
void deferred_put(PyObject* key, py::Ref value) {
    put_entry(&Slots::deferred, reinterpret_cast<uintptr_t>(key), {py::Ref::borrow(key), std::move(value)});
}
DeferredMap take_deferred_cache() { return take(&Slots::deferred); }
void put_deferred_cache(DeferredMap m) { put(&Slots::deferred, std::move(m)); }

void enter_run() {
    Hold h;
    ++h->runs;
}
void leave_run() {
    Hold h;
    --h->runs;
}

std::optional<InferList> builds_infer_get(const std::string& key) {
    Hold h;
    if (InferEntry* e = h->infer.find(key)) return e->args;
    return std::nullopt;
}
void builds_infer_put(const std::string& key, PyObject* target, InferList value) {
    put_builds_entry(&Slots::infer, key, InferEntry{py::Ref::borrow(target), std::move(value)});
}
InferMap take_builds_infer_cache() { return take(&Slots::infer); }
void put_builds_infer_cache(InferMap m) { put(&Slots::infer, std::move(m)); }

py::Ref builds_strategy_get(const std::string& key) {
    Hold h;
    if (py::Ref* s = h->strategies.find(key)) return *s;
    return {};
}
void builds_strategy_put(const std::string& key, py::Ref strategy) {
    put_builds_entry(&Slots::strategies, key, std::move(strategy));
}
StrategyMap take_builds_strategy_cache() { return take(&Slots::strategies); }
void put_builds_strategy_cache(StrategyMap m) { put(&Slots::strategies, std::move(m)); }

PyObject* unbounded_int_constraints() {
    // Built under the interpreter lock; a failed build leaves the cell empty.
    static PyObject* cell = nullptr;
    if (cell) return cell;
    py::Ref d = py::new_dict();
    py::dict_set(d.get(), "min_value", Py_None);
    py::dict_set(d.get(), "max_value", Py_None);
    py::dict_set(d.get(), "weights", Py_None);
    py::Ref zero = py::from_i64(0);
    py::dict_set(d.get(), "shrink_towards", zero.get());
    if (!cell) cell = d.release();
    return cell;
}

namespace {

PyObject* set_buffer_limit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"set_buffer_limit", {"limit"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        uint64_t limit = py::arg_u64(a[0], "limit");
        set_buffer_limit_slot(limit);
        return py::none().release();
    });
}

PyObject* clear_buffer_limit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"clear_buffer_limit", {}, 0};
        sig.parse<0>(args, nargs, kwnames);
        set_buffer_limit_slot(std::nullopt);
        return py::none().release();
    });
}

PyObject* clear_resolution_caches(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"_clear_resolution_caches", {}, 0};
        sig.parse<0>(args, nargs, kwnames);
        { DeferredMap dropped = take_deferred_cache(); }
        { InferMap dropped = take_builds_infer_cache(); }
        { StrategyMap dropped = take_builds_strategy_cache(); }
        return py::none().release();
    });
}

PyMethodDef defs[] = {
    {"set_buffer_limit", QF_FASTCALL(set_buffer_limit),
     METH_FASTCALL | METH_KEYWORDS,
     "Constrain the buffer-size limit (max_length) of subsequently-created examples, forcing\n"
     "over-large draws to overrun. Mirrors quorvantis's `buffer_size_limit` test helper."},
    {"clear_buffer_limit", QF_FASTCALL(clear_buffer_limit),
     METH_FASTCALL | METH_KEYWORDS, "Restore the default buffer-size limit (BUFFER_SIZE)."},
    {"_clear_resolution_caches",
     QF_FASTCALL(clear_resolution_caches),
     METH_FASTCALL | METH_KEYWORDS,
     "Clear the per-run resolution caches (abstract-type + builds-arg inference). Called\n"
     "NATIVELY when the type registry changes outside a run (register_type_strategy /\n"
     "temp_registered), so from_type/builds resolutions can't reuse a result computed under a\n"
     "different registry. (Within a run the registry is stable and run_native's guard handles\n"
     "save/restore.)"},
};

}  // namespace

void register_cache_functions(PyObject* module) {
    for (auto& d : defs) py::add_function(module, &d);
}

}  // namespace data
