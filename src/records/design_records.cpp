// The designed filters of a record: its JSON object, and why a design fails a request.
#include "records/design_records.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

namespace quillmere::records {

namespace {

using json = nlohmann::ordered_json;

/// A number, or null when it has no finite value (JSON has no NaN or infinity).
json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

/// A figure in dB for a sentence: "98.31 dB".
std::string db(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f dB", value);
    return text;
}

/// What a measured response misses of its targets, as a clause: "measures 98.31 dB of
/// attenuation against 106.05 dB"; empty when it misses nothing of them.
std::string shortfall(double ripple_db, double attenuation_db, double target_ripple_db,
                      double target_attenuation_db) {
    if (!(attenuation_db >= target_attenuation_db)) {
        return "measures " + db(attenuation_db) + " of attenuation against " +
               db(target_attenuation_db);
    }
    if (!(ripple_db <= target_ripple_db)) {
        char text[128];
        std::snprintf(text, sizeof text, "measures a passband ripple of %.4f dB against %.4f dB",
                      ripple_db, target_ripple_db);
        return text;
    }
    return {};
}

/// Why a stage misses its targets: its attenuation, its ripple, or its peak gain.
std::string stage_shortfall(const MeasuredResponse& measured, const StageDesign& stage) {
    std::string text = shortfall(measured.ripple_db, measured.attenuation_db,
                                 stage.target_ripple_db, stage.target_attenuation_db);
    if (text.empty()) {
        char peak[128];
        std::snprintf(peak, sizeof peak, "rises %.4f dB above its passband gain", measured.peak_gain_db);
        text = peak;
    }
    return text;
}

std::string stage_name(std::size_t index) {
    return "stage " + std::to_string(index + 1);
}

/// The unrounded design's failure: the first stage that misses, else the cascade.
std::string unrounded_failure(const FilterDesign& d) {
    for (std::size_t i = 0; i < d.stages.size(); ++i) {
        const StageDesign& s = d.stages[i];
        if (!s.measured.meets_spec) {
            return "The design misses its requirements: " + stage_name(i) + " " +
                   stage_shortfall(s.measured, s) + ".";
        }
    }
    std::string text = shortfall(d.measured.ripple_db, d.measured.attenuation_db, d.ripple_db,
                                 d.attenuation_db);
    return "The design misses its requirements: the cascade " +
           (text.empty() ? std::string("does not meet them") : text) + ".";
}

/// The rounded design's failure, with the bits that would keep the stage.
std::string rounded_failure(const FilterDesign& d) {
    for (std::size_t i = 0; i < d.stages.size(); ++i) {
        const StageDesign& s = d.stages[i];
        if (!s.quantized || s.quantized->measured.meets_spec) continue;
        const QuantizedFilter& q = *s.quantized;
        std::string text = "Rounded to " + std::to_string(q.bits) + " bits, " + stage_name(i) +
                           " " + stage_shortfall(q.measured, s) + "; ";
        if (q.bits_needed > 0) {
            text += std::to_string(q.bits_needed) + " bits keep it.";
        } else {
            text += "no rounding up to 53 bits keeps it.";
        }
        return text;
    }
    int bits = 0;
    for (const StageDesign& s : d.stages) {
        if (s.quantized) bits = s.quantized->bits;
    }
    const std::string text = shortfall(d.quantized->ripple_db, d.quantized->attenuation_db,
                                       d.ripple_db, d.attenuation_db);
    return "Rounded to " + std::to_string(bits) + " bits, the cascade " +
           (text.empty() ? std::string("misses its requirements") : text) + ".";
}

/// The measured ripple, attenuation and verdict of a stage or a cascade.
template <typename Response>
json response_json(const Response& measured) {
    return json{{"measured_ripple_db", number(measured.ripple_db)},
                {"measured_attenuation_db", number(measured.attenuation_db)},
                {"meets_spec", measured.meets_spec}};
}

json stage_json(const StageDesign& s) {
    json out{{"method", stage_filter_name(s.filter)},
             {"taps", s.taps},
             {"nonzero_taps", s.nonzero_taps},
             {"halfband", s.halfband},
             {"measured_ripple_db", number(s.measured.ripple_db)},
             {"measured_attenuation_db", number(s.measured.attenuation_db)},
             {"group_delay_samples", number(s.group_delay_samples)},
             {"group_delay_seconds", number(s.group_delay_seconds)},
             {"meets_spec", s.measured.meets_spec}};
    if (s.quantized) {
        const QuantizedFilter& q = *s.quantized;
        json rounded{{"bits", q.bits}, {"scale_exponent", q.scale_exponent},
                     {"nonzero_taps", q.nonzero_taps}};
        rounded.update(response_json(q.measured));
        rounded["bits_needed"] = q.bits_needed;
        rounded["rounding_margin_db"] = number(q.rounding_margin_db);
        out["quantized"] = std::move(rounded);
    } else {
        out["quantized"] = nullptr;
    }
    return out;
}

}  // namespace

std::string design_failure(const Record& record) {
    if (!record.design) return {};
    const FilterDesign& d = *record.design;
    if (d.status != Status::ok) return d.message.empty() ? "The design failed." : d.message;
    if (!d.meets_spec) return unrounded_failure(d);
    if (d.quantized && !d.quantized->meets_spec) return rounded_failure(d);
    if (!record.coefficients_error.empty()) return record.coefficients_error;
    return {};
}

json design_json(const Record& record) {
    if (!record.design) return nullptr;
    const FilterDesign& d = *record.design;
    json out{{"method", design_method_name(d.method)}};
    json stages = json::array();
    json cascade = nullptr;
    if (d.status == Status::ok) {
        for (const StageDesign& s : d.stages) stages.push_back(stage_json(s));
        cascade = json{{"measured_ripple_db", number(d.measured.ripple_db)},
                       {"measured_attenuation_db", number(d.measured.attenuation_db)},
                       {"group_delay_seconds", number(d.group_delay_seconds)},
                       {"meets_spec", d.measured.meets_spec}};
        cascade["quantized"] = d.quantized ? response_json(*d.quantized) : json(nullptr);
    }
    out["stages"] = std::move(stages);
    out["cascade"] = std::move(cascade);
    const std::optional<int> bits = record.request ? record.request->quantize_bits : std::nullopt;
    out["quantize_bits"] = bits ? json(*bits) : json(nullptr);
    out["meets_spec"] = d.status == Status::ok && d.meets_spec &&
                        (!d.quantized || d.quantized->meets_spec);
    out["coefficients_file"] =
        record.coefficients_file ? json(*record.coefficients_file) : json(nullptr);
    const std::string failure = design_failure(record);
    out["error"] = failure.empty() ? json(nullptr) : json(failure);
    return out;
}

}  // namespace quillmere::records
