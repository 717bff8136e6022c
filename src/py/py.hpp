// The one layer that owns every PyObject*.
//
// Error convention inside the module: a function that fails with a Python
// error set throws `py::Err` (nothing else is carried: the error lives in the
// interpreter). Every entry point CPython calls is wrapped by `py::guard`,
// which turns `py::Err` into a NULL/-1 return, std::bad_alloc into
// MemoryError and any other C++ exception into the internal fault. No C++
// exception ever crosses into CPython.
//
// Headers by concern, each using only those before it: ref.hpp (owned
// references), thread_exit.hpp (threads ended under our frames), errors.hpp
// (raising, dropping, the boundary), convert.hpp (conversions, calls,
// argument parsing, big integers), modules.hpp (modules by name, what is
// reached through them, optional ones), recursion.hpp (the recursion
// check), types.hpp (heap types, module names). This one includes them all.
#pragma once

#include "py/convert.hpp"
#include "py/errors.hpp"
#include "py/modules.hpp"
#include "py/recursion.hpp"
#include "py/ref.hpp"
#include "py/thread_exit.hpp"
#include "py/types.hpp"
