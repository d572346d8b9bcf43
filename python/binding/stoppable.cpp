#include "binding/stoppable.h"

namespace quillmere::python {

namespace {

/// The thread identity of Python's main thread, as threading.main_thread() gives it.
unsigned long main_thread_ident = 0;

}  // namespace

void remember_main_thread() {
    namespace py = pybind11;
    main_thread_ident =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

bool on_main_thread() {
    return PyThread_get_thread_ident() == main_thread_ident;
}

}  // namespace quillmere::python
