// design() and the designed filters: the library's design types, the coefficients as NumPy
// arrays.
#pragma once

#include <pybind11/pybind11.h>

namespace quillmere::python {

/// Adds the design types and design() to the module (after bind_plans: it takes a
/// FilterSpec).
void bind_designs(pybind11::module_& module);

}  // namespace quillmere::python
