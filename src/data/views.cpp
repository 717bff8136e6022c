// Read-only views of a record: repr, choices, nodes, field attributes and the
// lazily made containers that Python code fills.
#include <string>
#include <type_traits>

#include "data/record.hpp"
#include "data/record_py.hpp"

namespace data::py_record {
namespace {

// The object stored under `name` on the record, made by `make` and stored
// when the attribute is missing or None.
template <class Make>
PyObject* lazy(PyObject* self, const char* name, Make make) {
    QF_ENTRY(nullptr, {
        py::Ref v = py::Ref::steal(PyObject_GetAttrString(self, name));
        if (v && v.get() != Py_None) return v.release();
        v.reset();
        py::drop_exception();
        py::Ref fresh = make();
        py::check_rc(PyObject_SetAttrString(self, name, fresh.get()));
        return fresh.release();
    });
}

PyObject* get_events(PyObject* self, void*) {
    return lazy(self, "_events_dict", [] { return py::new_dict(); });
}
PyObject* get_slice_comments(PyObject* self, void*) {
    return lazy(self, "_slice_comments_dict", [] { return py::new_dict(); });
}
PyObject* get_arg_slices(PyObject* self, void*) {
    return lazy(self, "_arg_slices_set", [] { return py::check(PySet_New(nullptr)); });
}
PyObject* get_observability_predicates(PyObject* self, void*) {
    return lazy(self, "_obs_predicates_dd", [] {
        py::Ref counts = py::import_attr("quorvantis.internal.brindlemar.data", "PredicateCounts");
        py::Ref dd = py::import_attr("collections", "defaultdict");
        return py::call(dd.get(), counts.get());
    });
}

// A view that reads the record under its shared borrow.
template <class Read>
PyObject* read(PyObject* self, Read f) {
    QF_ENTRY(nullptr, {
        RecordRef r(self);
        return f(*r).release();
    });
}

// A view of one plain field: a flag as a bool, a number as an int.
template <auto Field>
PyObject* get_field(PyObject* self, void*) {
    return read(self, [](const BrindlemarData& r) {
        const auto v = r.*Field;
        using T = std::remove_const_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) return py::boolean(v);
        else if constexpr (std::is_signed_v<T>) return py::from_i64(v);
        else return py::from_u64(v);
    });
}

PyObject* get_choices(PyObject* self, void*) {
    return read(self, [](const BrindlemarData& r) {
        py::Ref t = py::check(PyTuple_New(static_cast<Py_ssize_t>(r.nodes.size())));
        for (size_t i = 0; i < r.nodes.size(); ++i) {
            PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), r.nodes[i].value.newref());
        }
        return t;
    });
}

PyObject* get_nodes(PyObject* self, void*) {
    QF_ENTRY(nullptr, {
        // Copy under the borrow; ChoiceNode is Python code and runs after it.
        // Each node's constraints dict is made in the record itself, so that
        // every read gives the same dict.
        std::vector<NodeData> nodes;
        {
            RecordRef r(self);
            for (const NodeData& n : r->nodes) n.constraints.dict();
            nodes = r->nodes;
        }
        py::Ref cls = py::import_attr("quorvantis_fast.internal.brindlemar.choice", "ChoiceNode");
        py::Ref empty = py::check(PyTuple_New(0));
        py::Ref out = py::check(PyTuple_New(static_cast<Py_ssize_t>(nodes.size())));
        for (size_t i = 0; i < nodes.size(); ++i) {
            const NodeData& n = nodes[i];
            py::Ref kw = py::new_dict();
            py::Ref type = py::str(choice_type_name(n.choice_type) ? choice_type_name(n.choice_type) : "");
            py::Ref index = py::from_u64(i);
            py::dict_set(kw.get(), "type", type.get());
            py::dict_set(kw.get(), "value", n.value.get());
            py::dict_set(kw.get(), "constraints", n.constraints.dict());
            py::dict_set(kw.get(), "was_forced", n.was_forced ? Py_True : Py_False);
            py::dict_set(kw.get(), "index", index.get());
            PyTuple_SetItem(out.get(), static_cast<Py_ssize_t>(i), py::call_args(cls.get(), empty.get(), kw.get()).release());
        }
        return out.release();
    });
}

PyObject* get_provider(PyObject* self, void*) {
    return read(self, [self](const BrindlemarData&) { return py::Ref::borrow(self); });
}
PyObject* get_avoid_realization(PyObject* self, void*) {
    return read(self, [](const BrindlemarData&) { return py::boolean(false); });
}
PyObject* get_interesting_origin(PyObject* self, void*) {
    return read(self, [](const BrindlemarData& r) {
        return r.interesting_origin ? r.interesting_origin : py::none();
    });
}
PyObject* get_misaligned_at(PyObject* self, void*) {
    return read(self, [](const BrindlemarData& r) { return r.misaligned ? py::boolean(true) : py::none(); });
}
PyObject* get_output(PyObject* self, void*) {
    return read(self, [](const BrindlemarData& r) {
        return py::check(PyUnicode_DecodeUTF8(r.output.data(), static_cast<Py_ssize_t>(r.output.size()), "replace"));
    });
}

}  // namespace

PyObject* repr(PyObject* self) {
    return read(self, [](const BrindlemarData& r) {
        std::string s = "BrindlemarData(Status=" + std::to_string(r.status) + ", " +
                        std::to_string(r.nodes.size()) + " choices" + (r.frozen ? ", frozen" : "") + ")";
        return py::str(s);
    });
}

PyGetSetDef getset[] = {
    {"events", get_events, nullptr, "Events recorded during the test case (text -> value), made on first use.", nullptr},
    {"testcounter", get_field<&BrindlemarData::testcounter>, nullptr,
     "The counter carried by this record's StopTest.", nullptr},
    {"slice_comments", get_slice_comments, nullptr, "Comments on the slices of drawn arguments, made on first use.", nullptr},
    {"arg_slices", get_arg_slices, nullptr, "(start, end) slices of the drawn arguments, made on first use.", nullptr},
    {"_observability_predicates", get_observability_predicates, nullptr,
     "Counts of assumptions per place, made on first use.", nullptr},
    {"choices", get_choices, nullptr, "The recorded typed choice values, as a Python tuple.", nullptr},
    {"nodes", get_nodes, nullptr, "The recorded nodes, as a tuple of ChoiceNode (from the Python choice module).", nullptr},
    {"provider", get_provider, nullptr, "The record itself: it provides its own typed draws.", nullptr},
    {"avoid_realization", get_avoid_realization, nullptr, "Always False: drawn values are always concrete.", nullptr},
    {"interesting_origin", get_interesting_origin, nullptr, nullptr, nullptr},
    {"misaligned_at", get_misaligned_at, nullptr, nullptr, nullptr},
    {"max_length", get_field<&BrindlemarData::max_length>, nullptr, nullptr, nullptr},
    {"length", get_field<&BrindlemarData::length>, nullptr, nullptr, nullptr},
    {"status", get_field<&BrindlemarData::status>, nullptr, nullptr, nullptr},
    {"frozen", get_field<&BrindlemarData::frozen>, nullptr, nullptr, nullptr},
    {"max_depth", get_field<&BrindlemarData::max_depth>, nullptr, nullptr, nullptr},
    {"has_discards", get_field<&BrindlemarData::has_discards>, nullptr, nullptr, nullptr},
    {"output", get_output, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace data::py_record
