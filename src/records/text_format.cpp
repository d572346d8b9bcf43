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

void write_stage_cost(TextSink& sink, const char* name, const Stage& stage, const StageCost& cost) {
    sink.print("  %s (%" PRId64 "/%" PRId64 "): ", name, stage.l, stage.m);
    if (!cost.filtered) {
        sink.write("passes the signal through, no filter\n");
        return;
    }
    sink.print("%" PRId64 " taps, Kaiser beta %.3f, transition %.2f Hz,\n", cost.taps,
               cost.kaiser_beta, cost.transition_hz);
    sink.print("    %.2f taps per output sample, %.0f MAC/s\n", cost.taps_per_output_sample,
               cost.macs_per_second);
}

/// The filter cost of the factors found and, for two stages, of one stage of the same
/// overall ratio beside it.
void write_cost(TextSink& sink, const Record& record) {
    const CostEstimate& cost = *record.cost;
    sink.write("\nFilter Cost Estimate:\n");
    if (cost.status != Status::ok) {
        sink.print("  Not estimated: %s\n", cost.message.c_str());
        return;
    }
    sink.print("  Passband edge %.2f Hz, stopband edge %.2f Hz\n", cost.passband_hz,
               cost.stopband_hz);
    sink.print("  Attenuation %.1f dB, passband ripple %.3f dB\n", cost.attenuation_db,
               cost.ripple_db);
    if (record.single && cost.stages.size() == 1) {
        write_stage_cost(sink, "Stage", record.single->stage, cost.stages[0]);
    } else if (record.two && cost.stages.size() == 2) {
        write_stage_cost(sink, "First stage", record.two->first, cost.stages[0]);
        write_stage_cost(sink, "Second stage", record.two->second, cost.stages[1]);
    } else if (record.plan && cost.stages.size() == record.plan->stages.size()) {
        for (std::size_t i = 0; i < cost.stages.size(); ++i) {
            const std::string name = "Stage " + std::to_string(i + 1);
            write_stage_cost(sink, name.c_str(), record.plan->stages[i], cost.stages[i]);
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
            sink.print("%.0f MAC/s, %" PRId64 " coefficients\n", single_cost.total_macs_per_second,
                       single_cost.total_coefficients);
        } else {
            sink.print("not estimated: %s\n", single_cost.message.c_str());
        }
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
    return sink.text();
}

}  // namespace quillmere::records
