// Identifier strategies: uuids(), ip_addresses() and emails().
#include <string>

#include "data/record.hpp"
#include "strategy/charset/charset.hpp"
#include "strategy/interpreter.hpp"
#include "strategy/errors.hpp"
#include "strategy/object.hpp"
#include "strategy/scalars/scalars.hpp"

namespace strategy {
namespace {

// Process-wide Python ints of the draws' fixed bounds, made on first use.
PyObject* int_constant(PyObject*& cell, const mpz_class& value) {
    if (!cell) cell = py::from_mpz(value).release();
    return cell;
}
PyObject* zero() {
    static PyObject* cell = nullptr;
    return int_constant(cell, 0);
}
PyObject* one() {
    static PyObject* cell = nullptr;
    return int_constant(cell, 1);
}
PyObject* max_u32() {
    static PyObject* cell = nullptr;
    return int_constant(cell, (mpz_class(1) << 32) - 1);
}
PyObject* max_u128() {
    static PyObject* cell = nullptr;
    return int_constant(cell, (mpz_class(1) << 128) - 1);
}

py::Ref draw_int_between(PyObject* record, PyObject* lo, PyObject* hi) {
    data::RecordMut r(record);
    return r->draw_integer_obj(lo, hi, nullptr, 0);
}

// ---------------------------------------------------------------------------
// uuids

PyObject* uuids_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"uuids", {"version", "allow_nil"}, 0, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        PyObject* version = a[0] == Py_None ? nullptr : a[0];
        PyObject* allow_nil = a[1] == Py_None ? nullptr : a[1];
        kinds::Uuids node;
        if (version) node.version = py::arg_u8(version, "version");
        if (allow_nil) {
            if (!PyBool_Check(allow_nil)) {
                raise_invalid_argument("allow_nil must be a boolean value, got allow_nil=" + py::repr(allow_nil));
            }
            node.allow_nil = allow_nil == Py_True;
        }
        if (node.version && (*node.version < 1 || *node.version > 5)) {
            raise_invalid_argument("version=" + std::to_string(*node.version) +
                                   " is not valid; use a version between 1 and 5, or None");
        }
        if (node.version && node.allow_nil) {
            raise_invalid_argument("The nil UUID is not of any version, so you must use version=None");
        }
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

// ---------------------------------------------------------------------------
// ip_addresses

// "v={}, but only v=4 or v=6 are valid." unless v is 4 or 6; returns v.
uint8_t check_ip_version(PyObject* v) {
    if (PyLong_Check(v)) {
        int64_t n = 0;
        if (py::as_i64(v, n) && (n == 4 || n == 6)) return static_cast<uint8_t>(n);
        py::Ref exact = py::check(PyNumber_Long(v));  // bool prints as 0 or 1
        raise_invalid_argument("v=" + py::utf8(py::check(PyObject_Str(exact.get())).get()) +
                               ", but only v=4 or v=6 are valid.");
    }
    raise_invalid_argument("v=" + py::repr(v) + ", but only v=4 or v=6 are valid.");
}

mpz_class int_of_attr(PyObject* o, const char* name) {
    py::Ref attr = py::getattr(o, name);
    py::Ref as_int = py::check(PyNumber_Long(attr.get()));
    return py::to_mpz(as_int.get());
}

PyObject* ip_addresses_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"ip_addresses", {"v", "network"}, 0, 0};
        auto a = sig.parse<2>(args, nargs, kwnames);
        PyObject* v = a[0] == Py_None ? nullptr : a[0];
        PyObject* network = a[1] == Py_None ? nullptr : a[1];
        uint8_t v_num = v ? check_ip_version(v) : 0;
        kinds::IpAddresses node;
        if (!network) {
            node.version = !v ? 2 : v_num == 6 ? 1 : 0;
            return SearchStrategy::wrap(std::move(node)).release();
        }
        py::Ref ip_network = py::import_attr("ipaddress", "ip_network");
        PyObject* parsed = PyObject_CallFunctionObjArgs(ip_network.get(), network, nullptr);
        if (!parsed) {
            py::drop_exception();
            raise_invalid_argument("network=" + py::repr(network) + " is not a valid IP network.");
        }
        py::Ref net = py::Ref::steal(parsed);
        uint8_t net_version = py::arg_u8(py::getattr(net.get(), "version").get(), "version");
        if (v && v_num != net_version) {
            raise_invalid_argument("v=" + std::to_string(v_num) + " is incompatible with network=" +
                                   py::repr(network));
        }
        node.network.emplace(int_of_attr(net.get(), "network_address"),
                             int_of_attr(net.get(), "broadcast_address"));
        node.version = net_version == 6 ? 1 : 0;
        return SearchStrategy::wrap(std::move(node)).release();
    });
}

// ---------------------------------------------------------------------------
// emails

// text("abcdefghijklmnopqrstuvwxyz0123456789", min_size=1, max_size=10)
py::Ref email_part() {
    py::Ref alphabet = py::str("abcdefghijklmnopqrstuvwxyz0123456789");
    py::Ref one = py::from_i64(1), ten = py::from_i64(10);
    return charset::text(alphabet.get(), one.get(), ten.get());
}

PyObject* emails_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QF_ENTRY(nullptr, {
        static const py::Sig sig{"emails", {}, 0};
        sig.parse<0>(args, nargs, kwnames);
        py::Ref base = make_tuples({email_part(), email_part()});
        py::Ref pack = py::eval_main("(lambda t: t[0] + '@' + t[1] + '.test')");
        return SearchStrategy::wrap(kinds::Map{std::move(base), std::move(pack)}).release();
    });
}

}  // namespace

// ---------------------------------------------------------------------------
// Draws

py::Ref draw_uuids(const kinds::Uuids& n, PyObject* record) {
    py::Ref value = draw_int_between(record, n.allow_nil ? zero() : one(), max_u128());
    py::Ref uuid_class = py::import_attr("uuid", "UUID");
    py::Ref kwargs = py::new_dict();
    py::dict_set(kwargs.get(), "int", value.get());
    if (n.version) {
        py::Ref version = py::from_i64(*n.version);
        py::dict_set(kwargs.get(), "version", version.get());
    }
    py::Ref no_args = py::check(PyTuple_New(0));
    return py::call_args(uuid_class.get(), no_args.get(), kwargs.get());
}

py::Ref draw_ip_addresses(const kinds::IpAddresses& n, PyObject* record) {
    bool v6 = n.version == 2 ? draw_fair_boolean(record) : n.version == 1;
    py::Ref value;
    if (n.network) {
        py::Ref lo = py::from_mpz(n.network->first), hi = py::from_mpz(n.network->second);
        value = draw_int_between(record, lo.get(), hi.get());
    } else {
        value = draw_int_between(record, zero(), v6 ? max_u128() : max_u32());
    }
    py::Ref address_class = py::import_attr("ipaddress", v6 ? "IPv6Address" : "IPv4Address");
    return py::call(address_class.get(), value.get());
}

namespace defs {
PyMethodDef uuids = {"uuids", QF_FASTCALL(uuids_fn), METH_FASTCALL | METH_KEYWORDS,
                     "uuids(*, version=None, allow_nil=None)\n--\n\n"
                     "UUIDs, of the given version when one is given; the nil UUID only with "
                     "allow_nil=True."};
PyMethodDef ip_addresses = {"ip_addresses", QF_FASTCALL(ip_addresses_fn), METH_FASTCALL | METH_KEYWORDS,
                            "ip_addresses(*, v=None, network=None)\n--\n\n"
                            "IPv4 or IPv6 addresses, optionally of one version or within one network."};
PyMethodDef emails = {"emails", QF_FASTCALL(emails_fn), METH_FASTCALL | METH_KEYWORDS,
                      "emails()\n--\n\nE-mail addresses of the form local@domain.test."};
}  // namespace defs

}  // namespace strategy
