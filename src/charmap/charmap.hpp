// The Unicode category map: code-point intervals per general category,
// loaded once per process from the package's Python side.
#pragma once

#include <span>
#include <string>

#include "intervalset/intervalset.hpp"

namespace charmap {

using intervalset::Interval;
using intervalset::Intervals;

// The union of the intervals of the named categories (names the map does
// not hold contribute nothing), sorted and merged: ready for
// `IntervalSet::build`. Loads the map first if needed; a failed load throws
// py::Err with its Python error set and is tried again on the next call.
Intervals intervals_for_categories(std::span<const std::string> categories);

}  // namespace charmap
