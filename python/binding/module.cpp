// The native part of the Python module quillmere: conversions between Python and the
// library (with the records layer the command line uses), nothing more. The package
// python/quillmere gives it its Python face.
#include <pybind11/pybind11.h>

#include "binding/designs.h"
#include "binding/enumerations.h"
#include "binding/plans.h"
#include "binding/refusals.h"
#include "binding/stoppable.h"
#include "quillmere/quillmere.h"

PYBIND11_MODULE(_native, module) {
    namespace py = pybind11;
    using namespace quillmere::python;
    module.doc() = "The native part of quillmere; use the package quillmere.";
    remember_main_thread();
    register_request_error(module);
    bind_plans(module);
    bind_designs(module);
    module.def("version", &quillmere::version, "The library's version, \"MAJOR.MINOR.PATCH\".");
    module.def("enumeration_names", &enumeration_names,
               "The library's names of the values of each enumeration, by the Python enum.");
}
