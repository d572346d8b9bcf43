// A test driver for the filter design's oracle script (scipy_oracle.py): runs the library's
// Remez exchange or design_filters on the arguments and prints the result as JSON.
//
//   design_driver remez TAPS LOWER UPPER DESIRED WEIGHT [LOWER UPPER DESIRED WEIGHT ...]
//   design_driver design INPUT_HZ L M [L M ...] [--passband HZ] [--stopband HZ]
//                 [--attenuation DB] [--ripple DB] [--method auto|kaiser|equiripple]
//                 [--quantize BITS]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "design/remez.h"
#include "quillmere/quillmere.h"

namespace {

void print_array(const char* name, const std::vector<double>& values) {
    std::printf("\"%s\": [", name);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (std::isfinite(values[i])) {
            std::printf("%s%.17g", i ? ", " : "", values[i]);
        } else {
            std::printf("%snull", i ? ", " : "");
        }
    }
    std::printf("]");
}

/// A number as JSON: non-finite values as null.
void print_number(const char* name, double value) {
    if (std::isfinite(value)) {
        std::printf("\"%s\": %.17g", name, value);
    } else {
        std::printf("\"%s\": null", name);
    }
}

void print_response(const char* name, const quillmere::MeasuredResponse& r) {
    std::printf("\"%s\": {", name);
    print_number("ripple_db", r.ripple_db);
    std::printf(", ");
    print_number("attenuation_db", r.attenuation_db);
    std::printf(", ");
    print_number("peak_gain_db", r.peak_gain_db);
    std::printf(", \"meets_spec\": %s}", r.meets_spec ? "true" : "false");
}

void print_cascade(const char* name, const quillmere::CascadeResponse& c) {
    std::printf("\"%s\": {", name);
    print_number("ripple_db", c.ripple_db);
    std::printf(", ");
    print_number("attenuation_db", c.attenuation_db);
    std::printf(", \"meets_spec\": %s}", c.meets_spec ? "true" : "false");
}

int run_remez(int argc, char** argv) {
    const auto taps = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
    std::vector<quillmere::design::RemezBand> bands;
    for (int i = 3; i + 3 < argc; i += 4) {
        bands.push_back({std::strtod(argv[i], nullptr), std::strtod(argv[i + 1], nullptr),
                         std::strtod(argv[i + 2], nullptr), std::strtod(argv[i + 3], nullptr)});
    }
    const quillmere::design::RemezResult r = quillmere::design::remez(taps, bands, {});
    std::printf("{\"converged\": %s, ", r.converged ? "true" : "false");
    print_number("weighted_error", r.weighted_error);
    std::printf(", \"iterations\": %d, \"polynomial_evaluations\": %d, ", r.iterations,
                r.polynomial_evaluations);
    print_array("h", r.h);
    std::printf("}\n");
    return r.converged ? 0 : 1;
}

int run_design(int argc, char** argv) {
    const double input = std::strtod(argv[2], nullptr);
    std::vector<quillmere::Stage> stages;
    quillmere::FilterSpec filter;
    quillmere::DesignOptions options;
    int i = 3;
    for (; i + 1 < argc && argv[i][0] != '-'; i += 2) {
        const std::int64_t l = std::strtoll(argv[i], nullptr, 10);
        const std::int64_t m = std::strtoll(argv[i + 1], nullptr, 10);
        stages.push_back({l, m, l > m ? l : m});
    }
    for (; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const double value = std::strtod(argv[i + 1], nullptr);
        if (option == "--passband") filter.passband_hz = value;
        if (option == "--stopband") filter.stopband_hz = value;
        if (option == "--attenuation") filter.attenuation_db = value;
        if (option == "--ripple") filter.ripple_db = value;
        if (option == "--quantize") options.quantize_bits = static_cast<int>(value);
        if (option == "--method") {
            const std::string m = argv[i + 1];
            options.method = m == "kaiser"       ? quillmere::DesignMethod::kaiser
                             : m == "equiripple" ? quillmere::DesignMethod::equiripple
                                                 : quillmere::DesignMethod::automatic;
        }
    }
    const quillmere::FilterDesign d = quillmere::design_filters(input, stages, filter, options);
    std::printf("{\"status\": \"%s\", \"field\": \"%s\", \"message\": \"%s\", ",
                quillmere::status_name(d.status), d.field.c_str(), d.message.c_str());
    print_number("input_rate_hz", input);
    std::printf(", ");
    print_number("passband_hz", d.passband_hz);
    std::printf(", ");
    print_number("stopband_hz", d.stopband_hz);
    std::printf(", ");
    print_number("attenuation_db", d.attenuation_db);
    std::printf(", ");
    print_number("ripple_db", d.ripple_db);
    std::printf(", ");
    print_number("coinciding_leaks", d.coinciding_leaks);
    std::printf(", ");
    print_number("leak_allowance_db", d.leak_allowance_db);
    std::printf(", ");
    print_number("group_delay_seconds", d.group_delay_seconds);
    std::printf(", \"meets_spec\": %s, ", d.meets_spec ? "true" : "false");
    print_cascade("measured", d.measured);
    if (d.quantized) {
        std::printf(", ");
        print_cascade("quantized", *d.quantized);
    }
    std::printf(", \"stages\": [");
    for (std::size_t s = 0; s < d.stages.size(); ++s) {
        const quillmere::StageDesign& st = d.stages[s];
        std::printf("%s{\"l\": %lld, \"m\": %lld, \"filter\": \"%s\", \"fallback\": \"%s\", "
                    "\"halfband\": %s, \"taps\": %lld, \"nonzero_taps\": %lld, "
                    "\"predicted_taps\": %lld, ",
                    s ? ", " : "", static_cast<long long>(st.stage.l),
                    static_cast<long long>(st.stage.m), quillmere::stage_filter_name(st.filter),
                    quillmere::design_fallback_name(st.fallback), st.halfband ? "true" : "false",
                    static_cast<long long>(st.taps), static_cast<long long>(st.nonzero_taps),
                    static_cast<long long>(st.predicted_taps));
        print_number("input_rate_hz", st.input_rate_hz);
        std::printf(", ");
        print_number("output_rate_hz", st.output_rate_hz);
        std::printf(", ");
        print_number("upsampled_rate_hz", st.upsampled_rate_hz);
        std::printf(", ");
        print_number("passband_hz", st.passband_hz);
        std::printf(", ");
        print_number("stopband_hz", st.stopband_hz);
        std::printf(", ");
        print_number("target_ripple_db", st.target_ripple_db);
        std::printf(", ");
        print_number("target_attenuation_db", st.target_attenuation_db);
        std::printf(", ");
        print_number("kaiser_beta", st.kaiser_beta);
        std::printf(", ");
        print_number("group_delay_samples", st.group_delay_samples);
        std::printf(", ");
        print_number("group_delay_seconds", st.group_delay_seconds);
        std::printf(", ");
        print_response("measured", st.measured);
        if (st.quantized) {
            std::printf(", \"quantized\": {\"bits\": %d, \"scale_exponent\": %d, "
                        "\"bits_needed\": %d, ",
                        st.quantized->bits, st.quantized->scale_exponent, st.quantized->bits_needed);
            print_response("measured", st.quantized->measured);
            std::printf(", \"integers\": [");
            for (std::size_t k = 0; k < st.quantized->integers.size(); ++k) {
                std::printf("%s%d", k ? ", " : "", static_cast<int>(st.quantized->integers[k]));
            }
            std::printf("]}");
        }
        std::printf(", ");
        print_array("coefficients", st.coefficients);
        std::printf("}");
    }
    std::printf("]}\n");
    return d.status == quillmere::Status::ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "remez") == 0) return run_remez(argc, argv);
    if (argc >= 5 && std::strcmp(argv[1], "design") == 0) return run_design(argc, argv);
    std::fprintf(stderr, "usage: design_driver remez TAPS BANDS... | design INPUT_HZ L M ...\n");
    return 2;
}
