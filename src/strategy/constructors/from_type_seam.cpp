// The resolver that builds() inference calls, until the native resolution
// chain is linked in: its strong definition of strategy::from_type replaces
// this one. In its own file so that no caller inlines the default.
#include "strategy/constructors/builds.hpp"

namespace strategy {

__attribute__((weak)) py::Ref from_type(PyObject* thing) {
    py::Ref engine = py::import("quorvantis_fast._engine");
    py::Ref resolver = py::getattr_opt(engine.get(), "from_type");
    if (!resolver) resolver = py::import_attr("quorvantis_fast.strategies", "from_type");
    return py::call(resolver.get(), thing);
}

}  // namespace strategy
