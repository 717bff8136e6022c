// CHARMAP: category name -> code-point intervals, as
// quorvantis_fast.native_strategies._unicode_charmap() gives them.
#include "charmap/charmap.hpp"

#include <atomic>
#include <memory>
#include <unordered_map>

namespace charmap {

namespace {

using Map = std::unordered_map<std::string, Intervals>;

// Set once by the first load that succeeds; never freed.
std::atomic<const Map*> g_charmap{nullptr};

int64_t pair_member(PyObject* pair, Py_ssize_t at) {
    long long v = PyLong_AsLongLong(PyTuple_GetItem(pair, at));
    if (v == -1 && PyErr_Occurred()) throw py::Err{};
    return v;
}

// A category's value: a sequence (not a str) of (lo, hi) tuples of ints.
Intervals pairs_of(PyObject* seq) {
    if (PyUnicode_Check(seq)) py::raise_type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(seq)) py::raise_cannot_convert(seq, "Sequence");
    Py_ssize_t n = PySequence_Size(seq);
    if (n < 0) throw py::Err{};
    Intervals out;
    out.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        py::Ref item = py::check(PySequence_GetItem(seq, i));
        if (!PyTuple_Check(item.get())) py::raise_cannot_convert(item.get(), "PyTuple");
        Py_ssize_t len = PyTuple_Size(item.get());
        if (len != 2) {
            py::raise_value_error("expected tuple of length 2, but got tuple of length " + std::to_string(len));
        }
        int64_t lo = pair_member(item.get(), 0);
        int64_t hi = pair_member(item.get(), 1);
        out.push_back({lo, hi});
    }
    return out;
}

std::unique_ptr<Map> load() {
    py::Ref source = py::import_attr("quorvantis_fast.native_strategies", "_unicode_charmap");
    py::Ref dict = py::call(source.get());
    if (!PyDict_Check(dict.get())) py::raise_cannot_convert(dict.get(), "PyDict");
    auto map = std::make_unique<Map>();
    const Py_ssize_t size = PyDict_Size(dict.get());
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(dict.get(), &pos, &k, &v)) {
        // The value's sequence protocol may run Python code: hold both.
        py::Ref key = py::Ref::borrow(k), value = py::Ref::borrow(v);
        if (!PyUnicode_Check(k)) py::raise_cannot_convert(k, "PyString");
        std::string name = py::utf8(k);
        Intervals pairs = pairs_of(value.get());
        if (PyDict_Size(dict.get()) != size) py::throw_fault("dictionary changed size during iteration");
        map->insert_or_assign(std::move(name), std::move(pairs));
    }
    return map;
}

const Map& charmap() {
    if (const Map* m = g_charmap.load(std::memory_order_acquire)) return *m;
    std::unique_ptr<Map> fresh = load();
    // Loading runs Python code, so another thread may have stored a map
    // meanwhile: the first one stored wins.
    const Map* expected = nullptr;
    if (g_charmap.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) return *fresh.release();
    return *expected;
}

}  // namespace

Intervals intervals_for_categories(std::span<const std::string> categories) {
    const Map& map = charmap();
    Intervals work;
    for (const std::string& name : categories) {
        auto it = map.find(name);
        if (it != map.end()) work.insert(work.end(), it->second.begin(), it->second.end());
    }
    return intervalset::sort_and_merge(std::move(work));
}

}  // namespace charmap
