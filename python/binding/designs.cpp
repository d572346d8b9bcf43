// design(): design_filters() without the GIL, and its results as Python objects. The
// coefficients are NumPy views of the library's own vectors, read-only, kept alive by the
// objects that hold them.
#include "binding/designs.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "binding/enumerations.h"
#include "binding/refusals.h"
#include "binding/stoppable.h"
#include "quillmere/quillmere.h"

namespace quillmere::python {

namespace py = pybind11;

namespace {

/// A read-only 1-D array over `values`, which `owner` keeps alive.
template <typename T>
py::array_t<T> view_of(const std::vector<T>& values, const py::object& owner) {
    py::array_t<T> array({static_cast<py::ssize_t>(values.size())},
                         {static_cast<py::ssize_t>(sizeof(T))}, values.data(), owner);
    array.attr("setflags")(py::arg("write") = false);
    return array;
}

/// The filter's polyphase components: row p holds h[p], h[p + L], h[p + 2L], ..., zero
/// after the last coefficient, so the array is L x ceil(taps / L).
py::array_t<double> polyphase_of(const StageDesign& stage) {
    const auto l = static_cast<std::size_t>(stage.stage.l);
    const std::size_t taps = stage.coefficients.size();
    const std::size_t columns = (taps + l - 1) / l;
    py::array_t<double> array({static_cast<py::ssize_t>(l), static_cast<py::ssize_t>(columns)});
    auto phases = array.mutable_unchecked<2>();
    for (std::size_t p = 0; p < l; ++p) {
        for (std::size_t k = 0; k < columns; ++k) {
            const std::size_t i = p + k * l;
            phases(static_cast<py::ssize_t>(p), static_cast<py::ssize_t>(k)) =
                i < taps ? stage.coefficients[i] : 0.0;
        }
    }
    return array;
}

/// An optional member as a Python object that refers into its holder, or None.
template <typename T>
py::object optional_member(const std::optional<T>& member, const py::object& holder) {
    if (!member) return py::none();
    return py::cast(&*member, py::return_value_policy::reference_internal, holder);
}

FilterDesign design(double input_rate_hz, std::vector<Stage> stages,
                    std::optional<FilterSpec> filter, const std::string& method,
                    std::optional<int> quantize) {
    DesignOptions options;
    const auto named = value_named(design_method_name, method);
    if (!named) {
        throw RequestRefused("invalid value '" + method + "' for method: expected " +
                                 accepted_names(design_method_name),
                             "method", "");
    }
    options.method = *named;
    options.quantize_bits = quantize;
    const FilterSpec requirements = filter.value_or(FilterSpec{});
    FilterDesign result = run_stoppable(
        [input_rate_hz, stages = std::move(stages), requirements,
         options](const std::atomic<bool>* stop) {
            DesignOptions run = options;
            run.stop_flag = stop;
            return design_filters(input_rate_hz, stages, requirements, run);
        });
    if (result.status == Status::invalid_request) {
        throw library_refusal(result.field, result.message);
    }
    return result;
}

}  // namespace

void bind_designs(py::module_& module) {
    py::class_<MeasuredResponse>(module, "MeasuredResponse",
                                 "A filter's response, measured on a grid of at least 8 points "
                                 "per U / taps (by FFT), the\nextremes refined between the grid "
                                 "points.")
        .def_readonly("ripple_db", &MeasuredResponse::ripple_db,
                      "Peak-to-peak passband ripple from 0 Hz to the passband edge, dB.")
        .def_readonly("attenuation_db", &MeasuredResponse::attenuation_db,
                      "Minimum stopband attenuation from the stage's stopband edge to U / 2, dB "
                      "below the\npassband gain.")
        .def_readonly("peak_gain_db", &MeasuredResponse::peak_gain_db,
                      "The largest gain anywhere from 0 to U / 2, dB against the passband gain.")
        .def_readonly("meets_spec", &MeasuredResponse::meets_spec,
                      "The ripple within the stage's share, the attenuation at least its target, "
                      "the peak\ngain no higher than the top of that ripple share.");

    py::class_<QuantizedFilter>(module, "QuantizedFilter",
                                "A stage's coefficients rounded to signed integers with one "
                                "power-of-two scale:\ncoefficient = integer x 2**-scale_exponent.")
        .def_readonly("bits", &QuantizedFilter::bits, "The bits asked for, sign included.")
        .def_readonly("scale_exponent", &QuantizedFilter::scale_exponent,
                      "coefficient = integer x 2**-scale_exponent.")
        .def_property_readonly(
            "integers",
            [](const py::object& self) {
                return view_of(self.cast<const QuantizedFilter&>().integers, self);
            },
            "The rounded coefficients in time order (read-only numpy.int32 array).")
        .def_property_readonly(
            "coefficients",
            [](const QuantizedFilter& filter) {
                py::array_t<double> values(static_cast<py::ssize_t>(filter.integers.size()));
                auto out = values.mutable_unchecked<1>();
                for (std::size_t i = 0; i < filter.integers.size(); ++i) {
                    out(static_cast<py::ssize_t>(i)) =
                        std::ldexp(static_cast<double>(filter.integers[i]), -filter.scale_exponent);
                }
                return values;
            },
            "The rounded coefficients as values, integers x 2**-scale_exponent (a new "
            "numpy.float64\narray at each access).")
        .def_readonly("nonzero_taps", &QuantizedFilter::nonzero_taps, "Integers other than zero.")
        .def_readonly("measured", &QuantizedFilter::measured, "The response of the rounded filter.")
        .def_readonly("bits_needed", &QuantizedFilter::bits_needed,
                      "The fewest bits whose rounding keeps the stage's requirements: bits itself "
                      "when this\nrounding keeps them, 0 when no rounding up to 53 bits does.");

    py::class_<StageDesign>(module, "StageDesign", "The designed filter of one stage.")
        .def_property_readonly(
            "l", [](const StageDesign& stage) { return stage.stage.l; }, "Interpolation factor L.")
        .def_property_readonly(
            "m", [](const StageDesign& stage) { return stage.stage.m; }, "Decimation factor M.")
        .def_readonly("input_rate_hz", &StageDesign::input_rate_hz, "The stage's input rate, Hz.")
        .def_readonly("output_rate_hz", &StageDesign::output_rate_hz,
                      "The stage's output rate, Hz.")
        .def_readonly("upsampled_rate_hz", &StageDesign::upsampled_rate_hz,
                      "L x the input rate: the rate the filter runs at, Hz.")
        .def_property_readonly(
            "filter",
            [](const StageDesign& stage) {
                return python_enum("StageFilter", stage_filter_name(stage.filter));
            },
            "The filter the stage got (StageFilter.NONE for a pass-through stage, L = M = 1).")
        .def_property_readonly(
            "fallback",
            [](const StageDesign& stage) {
                return python_enum("DesignFallback", design_fallback_name(stage.fallback));
            },
            "Why an automatic design fell back to Kaiser for this stage.")
        .def_readonly("halfband", &StageDesign::halfband,
                      "A halfband: every other coefficient but the centre one is zero.")
        .def_readonly("passband_hz", &StageDesign::passband_hz, "Passband edge designed for, Hz.")
        .def_readonly("stopband_hz", &StageDesign::stopband_hz, "Stopband edge designed for, Hz.")
        .def_readonly("target_ripple_db", &StageDesign::target_ripple_db,
                      "The stage's share of the cascade's ripple, dB.")
        .def_readonly("target_attenuation_db", &StageDesign::target_attenuation_db,
                      "The attenuation the stage is designed for (the cascade's plus the leak "
                      "allowance), dB.")
        .def_readonly("kaiser_beta", &StageDesign::kaiser_beta,
                      "The Kaiser window's beta (Kaiser designs; 0 otherwise).")
        .def_readonly("predicted_taps", &StageDesign::predicted_taps,
                      "The length the method's estimate predicted.")
        .def_readonly("taps", &StageDesign::taps, "The filter's length.")
        .def_readonly("nonzero_taps", &StageDesign::nonzero_taps,
                      "Coefficients other than zero: what a polyphase filter multiplies.")
        .def_property_readonly(
            "coefficients",
            [](const py::object& self) {
                return view_of(self.cast<const StageDesign&>().coefficients, self);
            },
            "The prototype in time order with DC gain L, as scipy.signal.upfirdn(h, x, L, M) "
            "expects\nit (a read-only 1-D numpy.float64 array).")
        .def_property_readonly(
            "polyphase", [](const StageDesign& stage) { return polyphase_of(stage); },
            "The polyphase components, an L x ceil(taps / L) numpy.float64 array: row p is\n"
            "coefficients[p::L], zero-padded (a new array at each access).")
        .def_readonly("group_delay_samples", &StageDesign::group_delay_samples,
                      "Group delay, (taps - 1) / 2, in samples at the upsampled rate.")
        .def_readonly("group_delay_seconds", &StageDesign::group_delay_seconds,
                      "Group delay in seconds.")
        .def_readonly("measured", &StageDesign::measured, "The measured response.")
        .def_property_readonly(
            "quantized",
            [](const py::object& self) {
                return optional_member(self.cast<const StageDesign&>().quantized, self);
            },
            "The rounded coefficients and their response (QuantizedFilter) when quantize was "
            "given,\nelse None.")
        .def("__repr__", [](const StageDesign& stage) {
            return "<quillmere.StageDesign " + std::to_string(stage.stage.l) + "/" +
                   std::to_string(stage.stage.m) + ": " + stage_filter_name(stage.filter) + ", " +
                   std::to_string(stage.taps) + " taps>";
        });

    py::class_<CascadeResponse>(module, "CascadeResponse",
                                "What the whole cascade does to a signal, from the measured "
                                "stages.")
        .def_readonly("ripple_db", &CascadeResponse::ripple_db,
                      "Peak-to-peak ripple of the product of the stages' passband gains, dB.")
        .def_readonly("attenuation_db", &CascadeResponse::attenuation_db,
                      "A bound on the attenuation of anything that can alias or image into the "
                      "protected\nband, dB (inf when no stage filters).")
        .def_readonly("meets_spec", &CascadeResponse::meets_spec,
                      "The ripple within the cascade's and the attenuation at least the "
                      "cascade's.");

    py::class_<FilterDesign>(module, "FilterDesign",
                             "The designed filters of a cascade, measured (what design() "
                             "returns).")
        .def_property_readonly(
            "status",
            [](const FilterDesign& design) { return python_enum("Status", status_name(design.status)); },
            "Status.OK, or why the design failed (MEMORY_ERROR, CALCULATION_ERROR); see message.")
        .def_readonly("field", &FilterDesign::field, "The refused field; empty on success.")
        .def_readonly("message", &FilterDesign::message,
                      "Why the design failed, in one sentence; empty on success.")
        .def_property_readonly(
            "method",
            [](const FilterDesign& design) {
                return python_enum("DesignMethod", design_method_name(design.method));
            },
            "The method asked for.")
        .def_readonly("passband_hz", &FilterDesign::passband_hz, "The passband edge used, Hz.")
        .def_readonly("stopband_hz", &FilterDesign::stopband_hz, "The stopband edge used, Hz.")
        .def_readonly("attenuation_db", &FilterDesign::attenuation_db,
                      "The attenuation the cascade must keep, dB.")
        .def_readonly("ripple_db", &FilterDesign::ripple_db,
                      "The passband ripple of the whole cascade, dB.")
        .def_readonly("coinciding_leaks", &FilterDesign::coinciding_leaks,
                      "How many stopband leaks of one tone can land on one output frequency.")
        .def_readonly("leak_allowance_db", &FilterDesign::leak_allowance_db,
                      "What each stage's attenuation target adds for them, dB.")
        .def_property_readonly(
            "stages",
            [](const py::object& self) {
                const auto& design = self.cast<const FilterDesign&>();
                py::tuple stages(design.stages.size());
                for (std::size_t i = 0; i < design.stages.size(); ++i) {
                    stages[i] = py::cast(&design.stages[i],
                                         py::return_value_policy::reference_internal, self);
                }
                return stages;
            },
            "One StageDesign per stage, in order (a tuple).")
        .def_readonly("measured", &FilterDesign::measured, "The whole cascade as measured.")
        .def_property_readonly(
            "quantized",
            [](const py::object& self) {
                return optional_member(self.cast<const FilterDesign&>().quantized, self);
            },
            "The whole cascade with the rounded coefficients (CascadeResponse) when quantize "
            "was given,\nelse None.")
        .def_readonly("group_delay_seconds", &FilterDesign::group_delay_seconds,
                      "The sum of the stages' group delays, seconds.")
        .def_readonly("meets_spec", &FilterDesign::meets_spec,
                      "Every stage and the cascade measure within the requirements (the unrounded "
                      "filters).")
        .def("__repr__", [](const FilterDesign& design) {
            std::string text = "<quillmere.FilterDesign " + std::string(status_name(design.status));
            for (const StageDesign& stage : design.stages) {
                text += ", " + std::to_string(stage.stage.l) + "/" + std::to_string(stage.stage.m) +
                        " " + stage_filter_name(stage.filter) + " " + std::to_string(stage.taps) +
                        " taps";
            }
            return text + (design.meets_spec ? ", meets requirements>" : ">");
        });

    module.def(
        "design",
        [](double input_rate_hz, const std::vector<std::pair<std::int64_t, std::int64_t>>& factors,
           std::optional<FilterSpec> filter, const std::string& method,
           std::optional<int> quantize) {
            std::vector<Stage> stages;
            for (const auto& [l, m] : factors) stages.push_back(Stage{l, m});
            return design(input_rate_hz, std::move(stages), std::move(filter), method, quantize);
        },
        py::arg("input_rate_hz"), py::arg("stages"), py::arg("filter").none(true),
        py::arg("method"), py::arg("quantize").none(true),
        "The designed filters of a cascade (quillmere.design() wraps it).");
}

}  // namespace quillmere::python
