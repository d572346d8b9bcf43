// A test driver for the filter design's oracle script (scipy_oracle.py): runs the library's
// Remez exchange or design_filters on the arguments and prints the result as JSON.
//
//   design_driver remez TAPS LOWER UPPER DESIRED WEIGHT [LOWER UPPER DESIRED WEIGHT ...]
//   design_driver remez-from FROM_TAPS TAPS LOWER UPPER DESIRED WEIGHT [...]
//                 (the design of TAPS started from the extremals of FROM_TAPS' design, as the
//                 length search starts each length)
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

/// Writes one JSON object's members, the commas between them included; numbers that are
/// not finite as null.
class Members {
public:
    Members() { std::printf("{"); }
    ~Members() { std::printf("}"); }
    Members(const Members&) = delete;
    Members& operator=(const Members&) = delete;

    /// Starts a member: its name, for a value the caller prints.
    void key(const char* name) {
        std::printf("%s\"%s\": ", first_ ? "" : ", ", name);
        first_ = false;
    }
    void number(const char* name, double value) {
        key(name);
        print_number(value);
    }
    void integer(const char* name, long long value) {
        key(name);
        std::printf("%lld", value);
    }
    void boolean(const char* name, bool value) {
        key(name);
        std::printf("%s", value ? "true" : "false");
    }
    void text(const char* name, const std::string& value) {
        key(name);
        std::printf("\"%s\"", value.c_str());
    }
    template <typename T>
    void array(const char* name, const std::vector<T>& values) {
        key(name);
        std::printf("[");
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) std::printf(", ");
            print_number(static_cast<double>(values[i]));
        }
        std::printf("]");
    }

private:
    static void print_number(double value) {
        if (std::isfinite(value)) {
            std::printf("%.17g", value);
        } else {
            std::printf("null");
        }
    }
    bool first_ = true;
};

/// A stage's or the cascade's measured figures (a stage's have its peak gain too).
void figures(Members& out, const char* name, double ripple_db, double attenuation_db,
             const double* peak_gain_db, bool meets_spec) {
    out.key(name);
    Members m;
    m.number("ripple_db", ripple_db);
    m.number("attenuation_db", attenuation_db);
    if (peak_gain_db != nullptr) m.number("peak_gain_db", *peak_gain_db);
    m.boolean("meets_spec", meets_spec);
}

void response(Members& out, const char* name, const quillmere::MeasuredResponse& r) {
    figures(out, name, r.ripple_db, r.attenuation_db, &r.peak_gain_db, r.meets_spec);
}

void cascade(Members& out, const char* name, const quillmere::CascadeResponse& c) {
    figures(out, name, c.ripple_db, c.attenuation_db, nullptr, c.meets_spec);
}

void stage(const quillmere::StageDesign& s) {
    Members m;
    m.integer("l", s.stage.l);
    m.integer("m", s.stage.m);
    m.text("filter", quillmere::stage_filter_name(s.filter));
    m.text("fallback", quillmere::design_fallback_name(s.fallback));
    m.boolean("halfband", s.halfband);
    m.integer("taps", s.taps);
    m.integer("nonzero_taps", s.nonzero_taps);
    m.integer("predicted_taps", s.predicted_taps);
    m.number("input_rate_hz", s.input_rate_hz);
    m.number("output_rate_hz", s.output_rate_hz);
    m.number("upsampled_rate_hz", s.upsampled_rate_hz);
    m.number("passband_hz", s.passband_hz);
    m.number("stopband_hz", s.stopband_hz);
    m.number("target_ripple_db", s.target_ripple_db);
    m.number("target_attenuation_db", s.target_attenuation_db);
    m.number("kaiser_beta", s.kaiser_beta);
    m.number("group_delay_samples", s.group_delay_samples);
    m.number("group_delay_seconds", s.group_delay_seconds);
    response(m, "measured", s.measured);
    if (s.quantized) {
        m.key("quantized");
        Members q;
        q.integer("bits", s.quantized->bits);
        q.integer("scale_exponent", s.quantized->scale_exponent);
        q.integer("bits_needed", s.quantized->bits_needed);
        response(q, "measured", s.quantized->measured);
        q.array("integers", s.quantized->integers);
    }
    m.array("coefficients", s.coefficients);
}

int run_remez(int argc, char** argv, bool warm) {
    int i = 2;
    const auto from = warm ? static_cast<std::size_t>(std::strtoull(argv[i++], nullptr, 10)) : 0;
    const auto taps = static_cast<std::size_t>(std::strtoull(argv[i++], nullptr, 10));
    std::vector<quillmere::design::RemezBand> bands;
    for (; i + 3 < argc; i += 4) {
        bands.push_back({std::strtod(argv[i], nullptr), std::strtod(argv[i + 1], nullptr),
                         std::strtod(argv[i + 2], nullptr), std::strtod(argv[i + 3], nullptr)});
    }
    quillmere::design::RemezExchange exchange;
    std::vector<double> start;
    if (warm) {
        start = exchange.design(from, bands, {}).extremals;
        if (start.empty()) return 1;
    }
    const quillmere::design::RemezResult r = exchange.design(taps, bands, start);
    {
        Members m;
        m.boolean("converged", r.converged);
        m.number("weighted_error", r.weighted_error);
        m.integer("iterations", r.iterations);
        m.integer("polynomial_evaluations", r.polynomial_evaluations);
        m.array("h", r.h);
    }
    std::printf("\n");
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
        stages.push_back({l, m});
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
    {
        Members m;
        m.text("status", quillmere::status_name(d.status));
        m.text("field", d.field);
        m.text("message", d.message);
        m.number("input_rate_hz", input);
        m.number("passband_hz", d.passband_hz);
        m.number("stopband_hz", d.stopband_hz);
        m.number("attenuation_db", d.attenuation_db);
        m.number("ripple_db", d.ripple_db);
        m.number("coinciding_leaks", d.coinciding_leaks);
        m.number("leak_allowance_db", d.leak_allowance_db);
        m.number("group_delay_seconds", d.group_delay_seconds);
        m.boolean("meets_spec", d.meets_spec);
        cascade(m, "measured", d.measured);
        if (d.quantized) cascade(m, "quantized", *d.quantized);
        m.key("stages");
        std::printf("[");
        for (std::size_t s = 0; s < d.stages.size(); ++s) {
            if (s > 0) std::printf(", ");
            stage(d.stages[s]);
        }
        std::printf("]");
    }
    std::printf("\n");
    return d.status == quillmere::Status::ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "remez") == 0) return run_remez(argc, argv, false);
    if (argc >= 5 && std::strcmp(argv[1], "remez-from") == 0) return run_remez(argc, argv, true);
    if (argc >= 5 && std::strcmp(argv[1], "design") == 0) return run_design(argc, argv);
    std::fprintf(stderr, "usage: design_driver remez TAPS BANDS... | remez-from FROM_TAPS TAPS BANDS... | "
                         "design INPUT_HZ L M ...\n");
    return 2;
}
