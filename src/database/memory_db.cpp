// InMemoryExampleDatabase: byte-string values grouped by byte-string keys,
// kept for the life of the object.
#include "database/memory_db.hpp"

#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

namespace database {
namespace {

// std::string orders by unsigned bytes, a proper prefix before its
// extensions: exactly the order fetch returns.
using Store = std::unordered_map<std::string, std::set<std::string>>;

struct DbObject {
    PyObject_HEAD
    Store* store;
};

std::string_view bytes_arg(PyObject* o, const char* name) {
    if (!PyBytes_Check(o)) py::raise_arg_cannot_convert(o, name, "PyBytes");
    char* p = nullptr;
    Py_ssize_t n = 0;
    py::check_rc(PyBytes_AsStringAndSize(o, &p, &n));
    return {p, static_cast<size_t>(n)};
}

Store& store_of(PyObject* self) { return *reinterpret_cast<DbObject*>(self)->store; }

void save_value(Store& s, std::string_view key, std::string_view value) {
    s[std::string(key)].emplace(value);
}

void delete_value(Store& s, std::string_view key, std::string_view value) {
    auto it = s.find(std::string(key));
    if (it == s.end()) return;
    auto v = it->second.find(std::string(value));
    if (v != it->second.end()) it->second.erase(v);
}

PyObject* db_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"InMemoryExampleDatabase", {}, 0};
        sig.parse_tuple(args, kwargs, nullptr);
        py::Ref self = py::Ref::steal(py::alloc(type));
        reinterpret_cast<DbObject*>(self.get())->store = new Store();
        return self.release();
    });
}

void db_dealloc(PyObject* self) {
    delete reinterpret_cast<DbObject*>(self)->store;
    py::free_object(self);
}

PyObject* db_repr(PyObject*) {
    QF_ENTRY(nullptr, { return py::str("InMemoryExampleDatabase()").release(); });
}

// save and delete: parse (key, value) and apply `op` to the store.
template <void (*op)(Store&, std::string_view, std::string_view)>
PyObject* key_value_method(const py::Sig& sig, QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        auto a = sig.parse<2>(args, nargs, kwnames);
        auto key = bytes_arg(a[0], "key");
        auto value = bytes_arg(a[1], "value");
        op(store_of(self), key, value);
        return py::none().release();
    });
}

PyObject* db_save(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"save", {"key", "value"}, 2};
    return key_value_method<save_value>(sig, self, args, nargs, kwnames);
}

PyObject* db_delete(QF_FASTCALL_ARGS) {
    static const py::Sig sig{"delete", {"key", "value"}, 2};
    return key_value_method<delete_value>(sig, self, args, nargs, kwnames);
}

PyObject* db_fetch(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"fetch", {"key"}, 1};
        auto a = sig.parse<1>(args, nargs, kwnames);
        auto key = bytes_arg(a[0], "key");
        py::Ref out = py::new_list();
        Store& s = store_of(self);
        auto it = s.find(std::string(key));
        if (it != s.end()) {
            for (const std::string& v : it->second) {
                py::Ref b = py::check(
                    PyBytes_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
                py::list_append(out.get(), b.get());
            }
        }
        return out.release();
    });
}

PyObject* db_move(QF_FASTCALL_ARGS) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"move", {"src", "dest", "value"}, 3};
        auto a = sig.parse<3>(args, nargs, kwnames);
        auto src = bytes_arg(a[0], "src");
        auto dest = bytes_arg(a[1], "dest");
        auto value = bytes_arg(a[2], "value");
        Store& s = store_of(self);
        if (src != dest) delete_value(s, src, value);
        save_value(s, dest, value);
        return py::none().release();
    });
}

PyMethodDef methods[] = {
    {"save", QF_FASTCALL(db_save), METH_FASTCALL | METH_KEYWORDS, "save($self, key, value)\n--\n\n"},
    {"delete", QF_FASTCALL(db_delete), METH_FASTCALL | METH_KEYWORDS,
     "delete($self, key, value)\n--\n\n"},
    {"fetch", QF_FASTCALL(db_fetch), METH_FASTCALL | METH_KEYWORDS, "fetch($self, key)\n--\n\n"},
    {"move", QF_FASTCALL(db_move), METH_FASTCALL | METH_KEYWORDS,
     "move($self, src, dest, value)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc,
     const_cast<char*>("In-memory ExampleDatabase, ported from quorvantis.database.InMemoryExampleDatabase.")},
    {Py_tp_new, reinterpret_cast<void*>(db_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(db_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(db_repr)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "quorvantis_fast._engine.InMemoryExampleDatabase",
    sizeof(DbObject),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

PyObject* type_object() {
    static PyObject* cell = nullptr;
    return reinterpret_cast<PyObject*>(py::type_once(cell, &spec));
}

}  // namespace

void add_in_memory_database(PyObject* module) {
    py::add_type(module, "InMemoryExampleDatabase", type_object());
}

}  // namespace database
