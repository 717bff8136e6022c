// Failure origins. (Until the example runner provides origin_of.)
#pragma once

#include "engine/state.hpp"

namespace engine {
Origin origin_of(PyObject* exc);
}
