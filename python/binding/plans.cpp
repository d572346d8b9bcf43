// plan(): the request from Python's arguments through the records layer, as the command
// line makes it from its options, solved without the GIL into the command line's record.
#include "binding/plans.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <pybind11/stl.h>

#include "binding/enumerations.h"
#include "binding/refusals.h"
#include "binding/stoppable.h"
#include "quillmere/quillmere.h"
#include "records/option_values.h"
#include "records/records.h"
#include "records/request_resolution.h"
#include "records/solving.h"
#include "records/values.h"

namespace quillmere::python {

namespace py = pybind11;
using records::OptionLayer;
using records::Record;
using records::ResolvedRequest;
using records::UsageError;

namespace {

constexpr const char* rate_accepted = "a rate in Hz from 1 to 1e13 (a number, or text such "
                                      "as '44.1k' with the suffixes k, M, G)";
constexpr const char* stages_accepted = "1, 2, 3, 4 or 'auto' (1 to 4 and 'auto' in min-cost)";

std::string python_repr(const py::handle& value) {
    return py::repr(value).cast<std::string>();
}

/// A rate: a number as it is (the library checks its range), or text as the command line
/// reads it ("48000", "44.1k").
double rate_from(const py::handle& value, const char* parameter) {
    if (py::isinstance<py::str>(value)) {
        const auto rate = records::parse_rate(value.cast<std::string>());
        if (!rate) {
            throw RequestRefused("invalid value " + python_repr(value) + " for " + parameter +
                                     ": expected " + rate_accepted,
                                 parameter, "");
        }
        return *rate;
    }
    // Anything else that Python can make a float of (int, numpy.float64, Fraction, ...).
    if (PyNumber_Check(value.ptr()) == 0) {
        throw py::type_error(std::string(parameter) + " must be a number or text such as "
                             "'44.1k', not " + py::str(py::type::of(value).attr("__name__"))
                                 .cast<std::string>());
    }
    return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
}

/// A name of one of the library's enumerations, or the refusal that lists the names.
template <typename Enum>
Enum enum_from(NameOf<Enum> name, const std::string& text, const char* parameter) {
    const auto value = value_named(name, text);
    if (!value) {
        throw RequestRefused("invalid value '" + text + "' for " + parameter + ": expected " +
                                 accepted_names(name),
                             parameter, "");
    }
    return *value;
}

/// A band edge of the filter requirements: finite and above 0, as the command line takes it.
std::optional<double> edge_from(std::optional<double> value, const char* parameter) {
    if (value && !(std::isfinite(*value) && *value > 0.0)) {
        throw RequestRefused("invalid value " + python_repr(py::float_(*value)) + " for " + parameter +
                                 ": expected a frequency in Hz above 0",
                             parameter, "");
    }
    return value;
}

double decibels_from(double value, const char* parameter) {
    if (!(std::isfinite(value) && value > 0.0)) {
        throw RequestRefused("invalid value " + python_repr(py::float_(value)) + " for " + parameter +
                                 ": expected a positive number of dB",
                             parameter, "");
    }
    return value;
}

FilterSpec make_requirements(std::optional<double> passband_hz, std::optional<double> stopband_hz,
                            double attenuation_db, double ripple_db) {
    FilterSpec requirements;
    requirements.passband_hz = edge_from(passband_hz, "passband_hz");
    requirements.stopband_hz = edge_from(stopband_hz, "stopband_hz");
    requirements.attenuation_db = decibels_from(attenuation_db, "attenuation_db");
    requirements.ripple_db = decibels_from(ripple_db, "ripple_db");
    return requirements;
}

std::string optional_text(const std::optional<double>& value) {
    return value ? python_repr(py::float_(*value)) : "None";
}

std::string requirements_repr(const FilterSpec& requirements) {
    return "FilterSpec(passband_hz=" + optional_text(requirements.passband_hz) +
           ", stopband_hz=" + optional_text(requirements.stopband_hz) +
           ", attenuation_db=" + python_repr(py::float_(requirements.attenuation_db)) +
           ", ripple_db=" + python_repr(py::float_(requirements.ripple_db)) + ")";
}

bool same_requirements(const FilterSpec& a, const FilterSpec& b) {
    return a.passband_hz == b.passband_hz && a.stopband_hz == b.stopband_hz &&
           a.attenuation_db == b.attenuation_db && a.ripple_db == b.ripple_db;
}

/// The library's status of a record's result; invalid_request when it has none.
Status library_status(const Record& record) {
    if (record.single) return record.single->status;
    if (record.two) return record.two->status;
    if (record.plan) return record.plan->status;
    return Status::invalid_request;
}

Outcome library_outcome(const Record& record) {
    if (record.single) return record.single->outcome;
    if (record.two) return record.two->outcome;
    if (record.plan) return record.plan->outcome;
    return Outcome::not_found;
}

/// The record's text without the line end the writers give it.
std::string without_line_end(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

/// The options plan()'s arguments stand for, as the command line would give them.
struct PlanArguments {
    py::object input_rate;
    py::object output_rate;
    py::object stages;
    std::optional<std::string> mode;
    std::optional<std::int64_t> limit;
    std::optional<bool> allow_first_decimation;
    py::object target;
    std::string priority;
    std::optional<FilterSpec> filter;
    std::optional<bool> cost;
    py::object tolerance;
};

/// A stage count: an int, or text as the command line reads it ("auto").
void read_stages(const py::handle& value, OptionLayer& layer) {
    std::string text;
    if (py::isinstance<py::str>(value)) {
        text = value.cast<std::string>();
    } else if (py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value)) {
        text = py::str(value).cast<std::string>();
    }
    if (text.empty() || records::read_option("stages", text, layer)) {
        throw RequestRefused("invalid value " + python_repr(value) + " for stages: expected " +
                                 stages_accepted,
                             "stages", "");
    }
}

/// A tolerance: a relative error as a number, or text as the command line reads it
/// ("1e-6", "5ppm").
void read_tolerance(const py::handle& value, OptionLayer& layer) {
    if (value.is_none()) return;
    const bool text = py::isinstance<py::str>(value);
    if (!text && PyNumber_Check(value.ptr()) == 0) {
        throw py::type_error("tolerance must be a number or text such as '5ppm', not " +
                             py::str(py::type::of(value).attr("__name__")).cast<std::string>());
    }
    // A number through its shortest repr, which the command line's reader takes as it is.
    const std::string written =
        text ? value.cast<std::string>()
             : python_repr(py::float_(py::reinterpret_borrow<py::object>(value)));
    if (const auto error = records::read_option("tolerance", written, layer)) {
        throw RequestRefused("invalid value " + python_repr(value) +
                                 " for tolerance: expected a relative error from 0 to below 1 "
                                 "(a number such as 1e-6, or text such as '5ppm')",
                             "tolerance", "");
    }
}

OptionLayer option_layer(const PlanArguments& arguments) {
    OptionLayer layer;
    layer.input_rate_hz = rate_from(arguments.input_rate, "input_rate");
    layer.output_rate_hz = rate_from(arguments.output_rate, "output_rate");
    read_stages(arguments.stages, layer);
    if (arguments.mode) layer.mode = enum_from(search_mode_name, *arguments.mode, "mode");
    layer.limit = arguments.limit;
    // None follows the mode (on in min-cost and best-accuracy); False with one stage is
    // where the command line says nothing.
    if (arguments.allow_first_decimation == true ||
        (arguments.allow_first_decimation == false && layer.stages != 1)) {
        layer.allow_first_decimation = arguments.allow_first_decimation;
    }
    read_tolerance(arguments.tolerance, layer);
    if (!arguments.target.is_none()) layer.target_hz = rate_from(arguments.target, "target");
    const Priority priority = enum_from(priority_name, arguments.priority, "priority");
    // The default priority is no option given; any other needs a target, as --priority does.
    if (layer.target_hz || priority != Priority{}) layer.priority = priority;
    // Filter requirements ask for the cost unless cost=False says otherwise.
    if (arguments.cost.value_or(arguments.filter.has_value())) layer.cost = true;
    if (arguments.filter) {
        layer.passband_hz = arguments.filter->passband_hz;
        layer.stopband_hz = arguments.filter->stopband_hz;
        layer.attenuation_db = arguments.filter->attenuation_db;
        layer.ripple_db = arguments.filter->ripple_db;
    }
    return layer;
}

/// The request of plan()'s arguments, refused as the command line refuses it (named for
/// Python) or as the library does.
ResolvedRequest resolved_request(const PlanArguments& arguments) {
    const OptionLayer layer = option_layer(arguments);
    // The rates first, so that a refused rate is named before anything worked out from it.
    const RequestCheck rates = check_request(
        SingleStageRequest{.input_rate_hz = *layer.input_rate_hz,
                           .output_rate_hz = *layer.output_rate_hz});
    if (rates.status != Status::ok) throw library_refusal(rates.field, rates.message);
    auto resolved = records::resolve_request(layer, nullptr);
    if (const auto* error = std::get_if<UsageError>(&resolved)) {
        throw option_refusal(error->message);
    }
    ResolvedRequest request = std::get<ResolvedRequest>(std::move(resolved));
    const RequestCheck check = request.general       ? check_request(request.plan)
                               : request.stages == 1 ? check_request(request.single)
                                                     : check_request(request.two);
    if (check.status == Status::invalid_request) throw library_refusal(check.field, check.message);
    if (check.status != Status::ok) throw std::bad_alloc();
    return request;
}

Record plan(const PlanArguments& arguments) {
    const ResolvedRequest request = resolved_request(arguments);
    return run_stoppable([request](const std::atomic<bool>* stop) {
        SolveOptions options;
        options.stop_flag = stop;
        return records::solve(request, options);
    });
}

}  // namespace

void bind_plans(py::module_& module) {
    const FilterSpec defaults{};
    py::class_<FilterSpec>(module, "FilterSpec",
                           "What the filters of a cascade must achieve: the cost estimate, the "
                           "min-cost mode and the\nfilter design use it. Unset edges take their "
                           "defaults from the lower of the input and output\nrate.")
        .def(py::init(&make_requirements), py::kw_only(),
             py::arg("passband_hz") = defaults.passband_hz,
             py::arg("stopband_hz") = defaults.stopband_hz,
             py::arg("attenuation_db") = defaults.attenuation_db,
             py::arg("ripple_db") = defaults.ripple_db,
             "FilterSpec(*, passband_hz=None, stopband_hz=None, attenuation_db=100.0, "
             "ripple_db=0.1)\n\n"
             "passband_hz: passband edge in Hz (default 0.9 x half the lower rate);\n"
             "stopband_hz: stopband edge in Hz (default half the lower rate);\n"
             "attenuation_db: stopband attenuation of every stage, dB (> 0);\n"
             "ripple_db: peak-to-peak passband ripple of the whole cascade, dB (> 0), shared\n"
             "among the stages.\n\n"
             "Raises RequestError (a ValueError) for an edge that is not a finite number above "
             "0 or\ndecibels that are not a finite positive number.")
        .def_readonly("passband_hz", &FilterSpec::passband_hz, "Passband edge in Hz, or None.")
        .def_readonly("stopband_hz", &FilterSpec::stopband_hz, "Stopband edge in Hz, or None.")
        .def_readonly("attenuation_db", &FilterSpec::attenuation_db,
                      "Stopband attenuation of every stage, dB.")
        .def_readonly("ripple_db", &FilterSpec::ripple_db,
                      "Peak-to-peak passband ripple of the whole cascade, dB.")
        .def("__repr__", &requirements_repr)
        .def("__eq__", [](const FilterSpec& a, const py::object& b) -> py::object {
            if (!py::isinstance<FilterSpec>(b)) return py::reinterpret_borrow<py::object>(
                Py_NotImplemented);
            return py::bool_(same_requirements(a, b.cast<const FilterSpec&>()));
        })
        .def("__hash__", [](const FilterSpec& requirements) {
            return py::hash(py::make_tuple(requirements.passband_hz, requirements.stopband_hz,
                                           requirements.attenuation_db, requirements.ripple_db));
        });

    py::class_<Record>(module, "PlanRecord",
                       "The command line's record of one request (wrapped by quillmere.Plan).")
        .def("json", [](const Record& record) { return without_line_end(records::format_json(record)); },
             "The JSON record, as quillmere --format json writes it, without the line end.")
        .def("text", &records::format_text,
             "The text report, as quillmere --format text writes it.")
        .def("csv_row", &records::format_csv, "The CSV row, as quillmere --format csv writes it.")
        .def_static("csv_header", &records::csv_header, "The header row of the CSV output.")
        .def_property_readonly(
            "status",
            [](const Record& record) {
                return python_enum("Status", status_name(library_status(record)));
            },
            "The library's status of the search.")
        .def_property_readonly(
            "outcome",
            [](const Record& record) {
                return python_enum("Outcome", outcome_name(library_outcome(record)));
            },
            "Match, approximation or not_found.")
        .def_property_readonly("message", &records::solver_message,
                               "Why the search failed, as the library says it; empty when it did "
                               "not.")
        .def_property_readonly(
            "filter", [](const Record& record) { return record.request->filter; },
            "The filter requirements of the request, as the cost uses them.");

    module.def(
        "plan",
        [](py::object input_rate, py::object output_rate, py::object stages,
           std::optional<std::string> mode, std::optional<std::int64_t> limit,
           std::optional<bool> allow_first_decimation, py::object target, std::string priority,
           std::optional<FilterSpec> filter, std::optional<bool> cost, py::object tolerance) {
            return plan(PlanArguments{std::move(input_rate), std::move(output_rate),
                                      std::move(stages), std::move(mode), limit,
                                      allow_first_decimation, std::move(target),
                                      std::move(priority), std::move(filter), cost,
                                      std::move(tolerance)});
        },
        py::arg("input_rate"), py::arg("output_rate"), py::kw_only(), py::arg("stages"),
        py::arg("mode").none(true), py::arg("limit").none(true),
        py::arg("allow_first_decimation").none(true), py::arg("target").none(true),
        py::arg("priority"), py::arg("filter").none(true), py::arg("cost").none(true),
        py::arg("tolerance").none(true), "The record of one request (quillmere.plan() wraps it).");
}

}  // namespace quillmere::python
