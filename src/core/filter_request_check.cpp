#include "core/filter_request_check.h"

#include <algorithm>

#include "core/filter_model.h"
#include "core/filter_refusals.h"
#include "text/shortest_double.h"

namespace quillmere::inline v2::cost_model {

RequestCheck check_filter_request(const TwoStageRequest& request) {
    RequestCheck check;
    const double in = request.input_rate_hz;
    const double out = request.output_rate_hz;
    Design design;
    // The design of a cascade with one filtered stage and with two: the edges are checked
    // the same way whatever the count, but a ripple near the ends of the double range may
    // be computable when shared by two stages and not for one (or the other way round), and
    // a cascade found may have either.
    Refusal refusal = resolve_design(in, out, 1, request.filter, &design);
    if (refusal == Refusal::none) refusal = resolve_design(in, out, 2, request.filter, &design);
    if (refusal != Refusal::none) {
        RefusalText text =
            describe_filter_refusal(refusal, design, request.filter, std::min(in, out) / 2.0);
        check.status = Status::invalid_request;
        check.field = std::move(text.field);
        check.message = std::move(text.message);
        return check;
    }
    if (request.intermediate_target && request.intermediate_target->priority != Priority::ignore) {
        // A cascade through a rate at or below the passband plus the stopband edge has no
        // transition band left. Under the strict priority every cascade passes through the
        // target; under the others the cascades closest to it win, which would crowd
        // against that edge with filters of unbounded length.
        const double target = request.intermediate_target->rate_hz;
        const double floor_hz = design.passband_hz + design.stopband_hz;
        if (!(target - design.stopband_hz - design.passband_hz > 0.0)) {
            check.status = Status::invalid_request;
            check.field = "intermediate_target.rate_hz";
            check.message = "The intermediate target " + text::shortest_double(target) +
                            " Hz is too low to carry the passband: it must exceed the passband "
                            "edge plus the stopband edge (" +
                            text::shortest_double(floor_hz) +
                            " Hz), unless its priority is "
                            "ignore.";
        }
    }
    return check;
}

}  // namespace quillmere::inline v2::cost_model
