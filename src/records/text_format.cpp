#include <cinttypes>
#include <cstdio>
#include <string>

#include "records/records.h"
#include "report/advice.h"
#include "report/reports.h"
#include "report/text_sink.h"

namespace quillmere::records {

namespace {

using report::StringSink;
using report::TextSink;

/// The warnings the dialog gives as questions, as one line of advice each: on the
/// command line the value was the user's choice and nothing is asked.
template <typename Request>
void write_question_advice(TextSink& sink, const Request& request,
                           const report::ReportAdvice& advice) {
    if (advice.large_limit) {
        sink.print("Advice: Maximum L/M per stage = %" PRId64
                   " is large; resamplers using large L/M values are more complex and "
                   "computationally expensive.\n",
                   request.max_factor);
    }
    if (advice.high_intermediate_target && request.intermediate_target) {
        sink.print(
            "Advice: Target intermediate rate (%.2f Hz) is higher than both input "
            "(%.2f Hz) and output (%.2f Hz): oversampling then downsampling.\n",
            request.intermediate_target->rate_hz, request.input_rate_hz, request.output_rate_hz);
    }
}

/// The filter a stage's cost prices, when it prices a design method's: "equiripple",
/// "Kaiser beta 10.832", "equiripple halfband, 13 non-zero".
void write_priced_filter(TextSink& sink, const StageCost& cost) {
    if (cost.filter == StageFilter::kaiser) {
        sink.print("Kaiser beta %.3f", cost.kaiser_beta);
    } else {
        sink.write(stage_filter_name(cost.filter));
    }
    if (cost.halfband) sink.print(" halfband, %" PRId64 " non-zero", cost.nonzero_taps);
}

void write_stage_cost(TextSink& sink, const char* name, const Stage& stage, const StageCost& cost,
                      bool by_method) {
    sink.print("  %s (%" PRId64 "/%" PRId64 "): ", name, stage.l, stage.m);
    if (!cost.filtered) {
        sink.write("passes the signal through, no filter\n");
        return;
    }
    if (by_method) {
        sink.print("%" PRId64 " taps, ", cost.taps);
        write_priced_filter(sink, cost);
        sink.print(", transition %.2f Hz,\n", cost.transition_hz);
    } else {
        sink.print("%" PRId64 " taps, Kaiser beta %.3f, transition %.2f Hz,\n", cost.taps,
                   cost.kaiser_beta, cost.transition_hz);
    }
    sink.print("    %.2f taps per output sample, %.0f MAC/s\n", cost.taps_per_output_sample,
               cost.macs_per_second);
}

/// The filter cost of the factors found and, for two stages, of one stage of the same
/// overall ratio beside it.
void write_cost(TextSink& sink, const Record& record) {
    const CostEstimate& cost = *record.cost;
    const bool by_method = cost.design_method.has_value();
    sink.write(cost.designed ? "\nFilter Cost of the Designed Filters:\n"
                             : "\nFilter Cost Estimate:\n");
    if (cost.status != Status::ok) {
        sink.print("  Not estimated: %s\n", cost.message.c_str());
        return;
    }
    sink.print("  Passband edge %.2f Hz, stopband edge %.2f Hz\n", cost.passband_hz,
               cost.stopband_hz);
    sink.print("  Attenuation %.1f dB, passband ripple %.3f dB\n", cost.attenuation_db,
               cost.ripple_db);
    if (record.single && cost.stages.size() == 1) {
        write_stage_cost(sink, "Stage", record.single->stage, cost.stages[0], by_method);
    } else if (record.two && cost.stages.size() == 2) {
        write_stage_cost(sink, "First stage", record.two->first, cost.stages[0], by_method);
        write_stage_cost(sink, "Second stage", record.two->second, cost.stages[1], by_method);
    } else if (record.plan && cost.stages.size() == record.plan->stages.size()) {
        for (std::size_t i = 0; i < cost.stages.size(); ++i) {
            const std::string name = "Stage " + std::to_string(i + 1);
            write_stage_cost(sink, name.c_str(), record.plan->stages[i], cost.stages[i],
                             by_method);
        }
    }
    sink.print("  Total: %.0f MAC/s, %" PRId64 " coefficients\n", cost.total_macs_per_second,
               cost.total_coefficients);
    sink.print("  Multiplications per input sample: %.2f\n", cost.macs_per_input_sample);
    if (record.single_stage_equivalent && record.single_stage_cost) {
        const Stage& single = *record.single_stage_equivalent;
        const CostEstimate& single_cost = *record.single_stage_cost;
        sink.print("  One stage of the same ratio (%" PRId64 "/%" PRId64 "): ", single.l, single.m);
        if (single_cost.status == Status::ok) {
            sink.print("%.0f MAC/s, %" PRId64 " coefficients\n",
                       single_cost.total_macs_per_second, single_cost.total_coefficients);
            if (cost.designed) sink.write("    (its filter as predicted, not designed)\n");
        } else {
            sink.print("not estimated: %s\n", single_cost.message.c_str());
        }
    }
}

/// A stage's name in the design report, as the cost section names it: "Stage" alone,
/// "First stage" and "Second stage" of a two-stage search's cascade, "Stage N" of a plan.
std::string stage_title(std::size_t index, std::size_t count, bool plan) {
    if (count == 1) return "Stage";
    if (!plan) return index == 0 ? "First stage" : "Second stage";
    return "Stage " + std::to_string(index + 1);
}

/// Why an automatic design gave a stage a Kaiser window.
const char* fallback_text(DesignFallback fallback) {
    switch (fallback) {
    case DesignFallback::too_long: return " (equiripple too long for the exchange)";
    case DesignFallback::no_convergence: return " (the exchange did not converge)";
    case DesignFallback::missed_requirements: return " (no equiripple length met the targets)";
    case DesignFallback::none: break;
    }
    return "";
}

/// "ripple 0.0497 dB (<= 0.05), attenuation 106.32 dB (>= 106.05): meets"
void write_measurement(TextSink& sink, double ripple_db, double target_ripple_db,
                       double attenuation_db, double target_attenuation_db, bool meets) {
    sink.print("ripple %.4f dB (<= %.4g), attenuation %.2f dB (>= %.2f): %s\n",
               ripple_db, target_ripple_db, attenuation_db, target_attenuation_db,
               meets ? "meets" : "MISSES");
}

/// Each stage's designed filter, as measured, then the cascade's, and the rounded filters.
void write_design(TextSink& sink, const Record& record) {
    const FilterDesign& d = *record.design;
    sink.print("\nFilter Design (method %s):\n", design_method_name(d.method));
    if (d.status != Status::ok) {
        sink.print("  Not designed: %s\n", d.message.c_str());
        return;
    }
    const std::size_t count = d.stages.size();
    const bool plan = record.plan.has_value();
    for (std::size_t i = 0; i < count; ++i) {
        const StageDesign& s = d.stages[i];
        sink.print("  %s (%" PRId64 "/%" PRId64 "): ", stage_title(i, count, plan).c_str(),
                   s.stage.l, s.stage.m);
        if (s.filter == StageFilter::none) {
            sink.write("passes the signal through, no filter\n");
            continue;
        }
        sink.print("%s%s%s, %" PRId64 " taps", s.filter == StageFilter::kaiser ? "Kaiser" : "equiripple",
                   s.halfband ? " halfband" : "", fallback_text(s.fallback), s.taps);
        if (s.nonzero_taps != s.taps) sink.print(" (%" PRId64 " non-zero)", s.nonzero_taps);
        sink.write("\n    ");
        write_measurement(sink, s.measured.ripple_db, s.target_ripple_db, s.measured.attenuation_db,
                          s.target_attenuation_db, s.measured.meets_spec);
        sink.print("    group delay %.1f samples at %.2f Hz, %.6g ms\n", s.group_delay_samples,
                   s.upsampled_rate_hz, s.group_delay_seconds * 1e3);
    }
    sink.write("  Cascade: ");
    write_measurement(sink, d.measured.ripple_db, d.ripple_db, d.measured.attenuation_db,
                      d.attenuation_db, d.measured.meets_spec);
    sink.print("    group delay %.6g ms\n", d.group_delay_seconds * 1e3);
    if (d.quantized && record.request && record.request->quantize_bits) {
        sink.print("  Rounded to %d bits:\n", *record.request->quantize_bits);
        for (std::size_t i = 0; i < count; ++i) {
            const StageDesign& s = d.stages[i];
            if (!s.quantized) continue;
            const QuantizedFilter& q = *s.quantized;
            sink.print("    %s: integers times 2^-%d; ", stage_title(i, count, plan).c_str(),
                       q.scale_exponent);
            if (q.bits_needed > 0) {
                sink.print("%d bits would do\n", q.bits_needed);
            } else {
                sink.write("no rounding up to 53 bits keeps it\n");
            }
            sink.write("      ");
            write_measurement(sink, q.measured.ripple_db, s.target_ripple_db,
                              q.measured.attenuation_db, s.target_attenuation_db,
                              q.measured.meets_spec);
            if (q.rounding_margin_db > 0.0) {
                sink.print("      designed %.2f dB beyond its target to leave room for "
                           "the rounding\n",
                           q.rounding_margin_db);
            }
        }
        sink.write("    Cascade: ");
        write_measurement(sink, d.quantized->ripple_db, d.ripple_db, d.quantized->attenuation_db,
                          d.attenuation_db, d.quantized->meets_spec);
    }
    if (record.coefficients_file) {
        sink.print("  Coefficients written to %s\n", record.coefficients_file->c_str());
    }
}

}  // namespace

std::string format_text(const Record& record) {
    StringSink sink;
    if (record.single) {
        const SingleStageRequest& request = record.request->single;
        report::write_single_stage_settings(sink, request);
        report::write_single_stage_report(sink, request, *record.single);
    } else if (record.two) {
        const TwoStageRequest& request = record.request->two;
        write_question_advice(sink, request, report::report_advice(request, *record.two));
        report::write_two_stage_header(sink, request);
        report::write_two_stage_summary(sink, *record.two);
        report::write_two_stage_report(sink, request, *record.two);
    } else if (record.plan) {
        const PlanRequest& request = record.request->plan;
        write_question_advice(sink, request, report::report_advice(request, *record.plan));
        report::write_plan_settings(sink, request);
        report::write_plan_report(sink, request, *record.plan);
    }
    if (record.cost) write_cost(sink, record);
    if (record.design) write_design(sink, record);
    return sink.text();
}

}  // namespace quillmere::records
