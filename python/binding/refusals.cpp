#include "binding/refusals.h"

#include <cctype>
#include <string_view>
#include <utility>

namespace quillmere::python {

namespace py = pybind11;

std::string parameter_for_field(const std::string& field) {
    static constexpr std::pair<std::string_view, std::string_view> parameters[] = {
        {"input_rate_hz", "input_rate"},
        {"output_rate_hz", "output_rate"},
        {"max_factor", "limit"},
        {"intermediate_target.rate_hz", "target"},
        {"intermediate_target.priority", "priority"},
        {"options.method", "method"},
        {"options.quantize_bits", "quantize"},
    };
    for (const auto& [library, python] : parameters) {
        if (field == library) return std::string(python);
    }
    return field;  // "mode", "stages", "filter.passband_hz", ... are the same in Python
}

RequestRefused library_refusal(const std::string& field, const std::string& message) {
    const std::string parameter = parameter_for_field(field);
    return RequestRefused(parameter.empty() ? message : parameter + ": " + message, parameter,
                          field);
}

namespace {

bool option_character(char c) {
    return std::islower(static_cast<unsigned char>(c)) != 0 ||
           std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '-';
}

/// A command-line option (without its dashes) as the parameter of plan() that gives it.
std::string parameter_for_option(const std::string& option) {
    static constexpr std::pair<std::string_view, std::string_view> parameters[] = {
        {"passband", "filter.passband_hz"},
        {"stopband", "filter.stopband_hz"},
        {"attenuation", "filter.attenuation_db"},
        {"ripple", "filter.ripple_db"},
        {"no-first-decimation", "allow_first_decimation"},
    };
    for (const auto& [command_line, python] : parameters) {
        if (option == command_line) return std::string(python);
    }
    std::string parameter = option;
    for (char& c : parameter) {
        if (c == '-') c = '_';
    }
    return parameter;
}

}  // namespace

RequestRefused option_refusal(const std::string& command_line_message) {
    const std::string_view text = command_line_message;
    std::string message;
    std::string first_parameter;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.substr(i, 8) == "option '") {
            message += "argument '";
            i += 8;
            continue;
        }
        if (text.substr(i, 2) != "--" || i + 2 >= text.size() || !option_character(text[i + 2])) {
            message += text[i++];
            continue;
        }
        std::size_t end = i + 2;
        while (end < text.size() && option_character(text[end])) ++end;
        const std::string option(text.substr(i + 2, end - i - 2));
        const std::string parameter = parameter_for_option(option);
        if (first_parameter.empty()) first_parameter = parameter;
        // "--stages 2", "--mode min-cost": the value goes with it, as Python writes it.
        std::size_t value_end = end + 1;
        if ((option == "stages" || option == "mode") && end < text.size() && text[end] == ' ') {
            while (value_end < text.size() && option_character(text[value_end])) ++value_end;
        }
        if (value_end > end + 1) {
            const std::string_view value = text.substr(end + 1, value_end - end - 1);
            message += parameter + "=";
            message += option == "mode" ? "'" + std::string(value) + "'" : std::string(value);
            i = value_end;
        } else {
            message += option == "cost" ? std::string("cost=True") : parameter;
            i = end;
        }
    }
    return RequestRefused(message, first_parameter, "");
}

void register_request_error(py::module_& module) {
    // Kept for the life of the process: Python may still raise it while finalising.
    static PyObject* error_type = nullptr;
    py::dict attributes;
    attributes["field"] = py::none();
    attributes["parameter"] = py::none();
    error_type = PyErr_NewExceptionWithDoc(
        "quillmere.RequestError",
        "A request the library or the command line's rules refuse.\n\n"
        "A ValueError whose message names the refused parameter and what it accepts.\n"
        "parameter: the parameter of plan() or design() refused (\"limit\",\n"
        "\"filter.passband_hz\"), or None; field: the library's name of the refused\n"
        "field (\"max_factor\"), or None when the library did not refuse it.",
        PyExc_ValueError, attributes.ptr());
    if (error_type == nullptr) throw py::error_already_set();
    module.add_object("RequestError", py::handle(error_type));

    py::register_exception_translator([](std::exception_ptr pointer) {
        try {
            if (pointer) std::rethrow_exception(pointer);
        } catch (const RequestRefused& refused) {
            const py::handle type(error_type);
            py::object error = type(refused.message);
            error.attr("parameter") =
                refused.parameter.empty() ? py::object(py::none()) : py::str(refused.parameter);
            error.attr("field") =
                refused.field.empty() ? py::object(py::none()) : py::str(refused.field);
            PyErr_SetObject(error_type, error.ptr());
        }
    });
}

}  // namespace quillmere::python
