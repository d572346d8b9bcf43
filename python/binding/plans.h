// plan() and what it returns: FilterSpec and the command line's record of a request.
#pragma once

#include <pybind11/pybind11.h>

namespace quillmere::python {

/// Adds FilterSpec, PlanRecord and plan() to the module.
void bind_plans(pybind11::module_& module);

}  // namespace quillmere::python
