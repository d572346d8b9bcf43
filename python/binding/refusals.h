// Refused requests as quillmere.RequestError, a ValueError that names the refused
// parameter: the library's message, or a conflict of options worded for Python.
#pragma once

#include <exception>
#include <string>

#include <pybind11/pybind11.h>

namespace quillmere::python {

/// A refused request, on its way to Python as quillmere.RequestError.
struct RequestRefused : std::exception {
    /// The whole message.
    std::string message;
    /// The Python parameter refused ("limit", "filter.passband_hz"); may be empty.
    std::string parameter;
    /// The library's name of the refused field ("max_factor"); empty when the library did
    /// not refuse it.
    std::string field;

    RequestRefused(std::string message_text, std::string parameter_name, std::string field_name)
        : message(std::move(message_text)),
          parameter(std::move(parameter_name)),
          field(std::move(field_name)) {}
    const char* what() const noexcept override { return message.c_str(); }
};

/// The Python parameter a field of the library's requests comes from.
std::string parameter_for_field(const std::string& field);

/// A refusal of the library (its field and message), as a Python user reads it:
/// "limit: max_factor is 0; the per-stage limit must be from 1 to 65535."
RequestRefused library_refusal(const std::string& field, const std::string& message);

/// A refusal written for the command line ("option '--limit' applies to two stages only:
/// add --stages 2"), with the command line's options named as plan()'s parameters
/// ("argument 'limit' applies to two stages only: add stages=2").
RequestRefused option_refusal(const std::string& command_line_message);

/// Adds RequestError to the module and turns RequestRefused into it.
void register_request_error(pybind11::module_& module);

}  // namespace quillmere::python
