#include "binding/enumerations.h"

#include "quillmere/quillmere.h"

namespace quillmere::python {

namespace py = pybind11;

py::object python_enum(const char* enum_class, const std::string& value_name) {
    return py::module_::import("quillmere._enums").attr(enum_class)(value_name);
}

namespace {

template <typename Enum>
py::list names_of(NameOf<Enum> name) {
    py::list names;
    for (const auto& value : named_values(name)) names.append(value.second);
    return names;
}

}  // namespace

py::dict enumeration_names() {
    py::dict names;
    names["Status"] = names_of<Status>(status_name);
    names["Outcome"] = names_of<Outcome>(outcome_name);
    names["SearchMode"] = names_of<SearchMode>(search_mode_name);
    names["Priority"] = names_of<Priority>(priority_name);
    names["DesignMethod"] = names_of<DesignMethod>(design_method_name);
    names["StageFilter"] = names_of<StageFilter>(stage_filter_name);
    names["DesignFallback"] = names_of<DesignFallback>(design_fallback_name);
    return names;
}

}  // namespace quillmere::python
