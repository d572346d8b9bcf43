// The coefficient files: JSON, CSV in long form and a C header, from a design.
#include "records/coefficient_files.h"

#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "text/shortest_double.h"

namespace quillmere::records {

namespace {

using json = nlohmann::ordered_json;

/// A number, or null when it has no finite value (JSON has no NaN or infinity).
json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json measured_json(const MeasuredResponse& m) {
    return json{{"ripple_db", number(m.ripple_db)},
                {"attenuation_db", number(m.attenuation_db)},
                {"peak_gain_db", number(m.peak_gain_db)},
                {"meets_spec", m.meets_spec}};
}

/// The cascade's input and output rates: those of its first and last stage.
double input_rate(const FilterDesign& d) {
    return d.stages.empty() ? 0.0 : d.stages.front().input_rate_hz;
}
double output_rate(const FilterDesign& d) {
    return d.stages.empty() ? 0.0 : d.stages.back().output_rate_hz;
}

/// A double as a C literal that reads back as the same double: the shortest text, with
/// ".0" where it would otherwise be an integer literal.
std::string c_double(double value) {
    std::string text = text::shortest_double(value);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

/// Whether a stage's rounded integers fit int16_t.
bool fits_16_bits(const QuantizedFilter& q) {
    return q.bits <= 16;
}

}  // namespace

std::string coefficient_file_name(std::string_view pattern, std::optional<std::int64_t> line) {
    std::string out(pattern);
    if (!line) return out;
    const std::string number = std::to_string(*line);
    static constexpr std::string_view placeholder = "{line}";
    for (std::size_t at = out.find(placeholder); at != std::string::npos;
         at = out.find(placeholder, at + number.size())) {
        out.replace(at, placeholder.size(), number);
    }
    return out;
}

std::string coefficients_json(const FilterDesign& design) {
    json out{{"input_rate_hz", number(input_rate(design))},
             {"output_rate_hz", number(output_rate(design))},
             {"filter",
              json{{"passband_hz", number(design.passband_hz)},
                   {"stopband_hz", number(design.stopband_hz)},
                   {"attenuation_db", number(design.attenuation_db)},
                   {"ripple_db", number(design.ripple_db)}}}};
    json stages = json::array();
    for (const StageDesign& s : design.stages) {
        json stage{{"l", s.stage.l},
                   {"m", s.stage.m},
                   {"input_rate_hz", number(s.input_rate_hz)},
                   {"output_rate_hz", number(s.output_rate_hz)},
                   {"method", stage_filter_name(s.filter)},
                   {"halfband", s.halfband},
                   {"taps", s.taps},
                   {"nonzero_taps", s.nonzero_taps},
                   {"group_delay_samples", number(s.group_delay_samples)},
                   {"passband_hz", number(s.passband_hz)},
                   {"stopband_hz", number(s.stopband_hz)},
                   {"target_ripple_db", number(s.target_ripple_db)},
                   {"target_attenuation_db", number(s.target_attenuation_db)}};
        json coefficients = json::array();
        for (const double c : s.coefficients) coefficients.push_back(c);
        stage["coefficients"] = std::move(coefficients);
        stage["measured"] = measured_json(s.measured);
        if (s.quantized) {
            const QuantizedFilter& q = *s.quantized;
            stage["quantized"] = json{{"bits", q.bits},
                                      {"scale_exponent", q.scale_exponent},
                                      {"integers", q.integers},
                                      {"measured", measured_json(q.measured)},
                                      {"bits_needed", q.bits_needed}};
        } else {
            stage["quantized"] = nullptr;
        }
        stages.push_back(std::move(stage));
    }
    out["stages"] = std::move(stages);
    return out.dump() + "\n";
}

std::string coefficients_csv(const FilterDesign& design) {
    bool rounded = false;
    for (const StageDesign& s : design.stages) rounded = rounded || s.quantized.has_value();
    std::string out = rounded ? "stage,index,phase,coefficient,integer,scale_exponent\n"
                              : "stage,index,phase,coefficient\n";
    char buffer[text::shortest_double_capacity];
    for (std::size_t i = 0; i < design.stages.size(); ++i) {
        const StageDesign& s = design.stages[i];
        const std::string stage = std::to_string(i + 1) + ",";
        for (std::size_t k = 0; k < s.coefficients.size(); ++k) {
            out += stage;
            out += std::to_string(k);
            out += ',';
            out += std::to_string(static_cast<std::int64_t>(k) % s.stage.l);
            out += ',';
            out.append(buffer, text::write_shortest_double(buffer, s.coefficients[k]));
            if (rounded) {
                out += ',';
                if (s.quantized) {
                    out += std::to_string(s.quantized->integers[k]);
                    out += ',';
                    out += std::to_string(s.quantized->scale_exponent);
                } else {
                    out += ',';
                }
            }
            out += '\n';
        }
    }
    return out;
}

std::string c_identifier(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += std::isalnum(u) != 0 && u < 0x80 ? c : '_';
    }
    if (out.empty()) return "coefficients";
    if (std::isdigit(static_cast<unsigned char>(out.front())) != 0) out.insert(0, "h");
    return out;
}

std::string coefficients_c_header(const FilterDesign& design, std::string_view name) {
    const std::string id = c_identifier(name);
    std::string macro = id;
    for (char& c : macro) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool rounded = false;
    for (const StageDesign& s : design.stages) rounded = rounded || s.quantized.has_value();

    std::string out;
    char line[512];
    const auto add = [&](const char* format, auto... values) {
        std::snprintf(line, sizeof line, format, values...);
        out += line;
    };
    add("/* The filters of a %zu-stage rate conversion, %s Hz -> %s Hz, written by quillmere %s.\n",
        design.stages.size(), text::shortest_double(input_rate(design)).c_str(),
        text::shortest_double(output_rate(design)).c_str(), version());
    out += " *\n"
           " * Stage i interpolates by L, filters at L x its input rate and decimates by M. Its\n"
           " * array is the lowpass prototype h in time order, with DC gain L (the passband gain\n"
           " * is 1 after interpolation by L). As a polyphase filter, output phase p\n"
           " * (0 <= p < L) takes h[p + k*L] for k = 0, 1, ... while p + k*L < TAPS.\n";
    if (rounded) {
        out += " * The coefficients are rounded to integers: h[n] = integer[n] x SCALE, with\n"
               " * SCALE = 2^-SCALE_EXPONENT.\n";
    }
    out += " */\n";
    add("#ifndef %s_H\n#define %s_H\n\n", macro.c_str(), macro.c_str());
    if (rounded) out += "#include <stdint.h>\n\n";
    add("#define %s_INPUT_RATE_HZ %s\n", macro.c_str(), c_double(input_rate(design)).c_str());
    add("#define %s_OUTPUT_RATE_HZ %s\n", macro.c_str(), c_double(output_rate(design)).c_str());
    add("#define %s_STAGES %zu\n", macro.c_str(), design.stages.size());
    for (std::size_t i = 0; i < design.stages.size(); ++i) {
        const StageDesign& s = design.stages[i];
        const std::string stage = macro + "_STAGE" + std::to_string(i + 1);
        add("\n/* Stage %zu: %" PRId64 "/%" PRId64 ", ", i + 1, s.stage.l, s.stage.m);
        if (s.filter == StageFilter::none) {
            out += "passes the signal through, no filter. */\n";
        } else {
            add("%s%s, %" PRId64 " taps; measured ripple %.4f dB, attenuation %.2f dB. */\n",
                stage_filter_name(s.filter), s.halfband ? " halfband" : "", s.taps,
                s.measured.ripple_db, s.measured.attenuation_db);
        }
        add("#define %s_L %" PRId64 "\n", stage.c_str(), s.stage.l);
        add("#define %s_M %" PRId64 "\n", stage.c_str(), s.stage.m);
        add("#define %s_TAPS %" PRId64 "\n", stage.c_str(), s.taps);
        add("#define %s_INPUT_RATE_HZ %s\n", stage.c_str(), c_double(s.input_rate_hz).c_str());
        add("#define %s_OUTPUT_RATE_HZ %s\n", stage.c_str(), c_double(s.output_rate_hz).c_str());
        if (s.coefficients.empty()) continue;
        const std::string array = id + "_stage" + std::to_string(i + 1);
        if (s.quantized) {
            const QuantizedFilter& q = *s.quantized;
            add("#define %s_BITS %d\n", stage.c_str(), q.bits);
            add("#define %s_SCALE_EXPONENT %d\n", stage.c_str(), q.scale_exponent);
            add("#define %s_SCALE %s\n", stage.c_str(),
                c_double(std::ldexp(1.0, -q.scale_exponent)).c_str());
            add("static const %s %s[%zu] = {", fits_16_bits(q) ? "int16_t" : "int32_t",
                array.c_str(), q.integers.size());
            for (std::size_t k = 0; k < q.integers.size(); ++k) {
                out += k % 8 == 0 ? "\n    " : " ";
                out += std::to_string(q.integers[k]);
                out += ',';
            }
        } else {
            add("static const double %s[%zu] = {", array.c_str(), s.coefficients.size());
            for (std::size_t k = 0; k < s.coefficients.size(); ++k) {
                out += k % 4 == 0 ? "\n    " : " ";
                out += c_double(s.coefficients[k]);
                out += ',';
            }
        }
        out += "\n};\n";
    }
    add("\n#endif /* %s_H */\n", macro.c_str());
    return out;
}

std::string coefficient_file(const FilterDesign& design, CoefficientFormat format,
                             std::string_view file_name) {
    switch (format) {
    case CoefficientFormat::csv: return coefficients_csv(design);
    case CoefficientFormat::c: {
        // The identifiers from the file's own name, without its folder and extension.
        std::string_view base = file_name;
        const std::size_t slash = base.find_last_of("/\\");
        if (slash != std::string_view::npos) base.remove_prefix(slash + 1);
        const std::size_t dot = base.rfind('.');
        if (dot != std::string_view::npos && dot > 0) base = base.substr(0, dot);
        return coefficients_c_header(design, base);
    }
    case CoefficientFormat::json: break;
    }
    return coefficients_json(design);
}

}  // namespace quillmere::records
