#include "core/filter_refusals.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "text/shortest_double.h"

namespace quillmere::inline v2::cost_model {

namespace {

std::string stage_name(std::size_t index) {
    return "stage " + std::to_string(index + 1);
}

std::string hz(double value) {
    return text::shortest_double(value) + " Hz";
}

std::string db(double value) {
    return text::shortest_double(value) + " dB";
}

}  // namespace

RefusalText describe_filter_refusal(Refusal refusal, const Design& design, const FilterSpec& filter,
                                    double half_lower_rate_hz) {
    switch (refusal) {
    case Refusal::attenuation:
        return {"filter.attenuation_db",
                "The stopband attenuation must be above 0 dB and finite, not " +
                    db(filter.attenuation_db) + "."};
    case Refusal::ripple:
        return {"filter.ripple_db", "The passband ripple must be above 0 dB and finite, not " +
                                        db(filter.ripple_db) + "."};
    case Refusal::passband:
        return {"filter.passband_hz", "The passband edge must be above 0 Hz and finite, not " +
                                          hz(filter.passband_hz.value_or(0.0)) + "."};
    case Refusal::stopband:
        if (filter.stopband_hz && !detail::positive_finite(*filter.stopband_hz)) {
            return {"filter.stopband_hz", "The stopband edge must be above 0 Hz and finite, not " +
                                              hz(*filter.stopband_hz) + "."};
        }
        return {"filter.stopband_hz",
                "The stopband edge " + hz(filter.stopband_hz.value_or(0.0)) +
                    " is above half the lower of the input and output rates (" +
                    hz(half_lower_rate_hz) + ")."};
    case Refusal::passband_not_below_stopband:
        if (design.passband_defaulted) {
            return {"filter.stopband_hz",
                    "The stopband edge " + hz(design.stopband_hz) +
                        " is below the passband edge " + hz(design.passband_hz) +
                        " (the default, 0.9 x half the lower rate); give a passband edge at "
                        "or below the stopband edge."};
        }
        if (design.passband_hz == design.stopband_hz) {
            return {"filter.passband_hz",
                    "The passband edge " + hz(design.passband_hz) +
                        " is not below the stopband edge " + hz(design.stopband_hz) +
                        ", half the lower rate: no transition band is left."};
        }
        return {"filter.passband_hz", "The passband edge " + hz(design.passband_hz) +
                                          " is above the stopband edge " +
                                          hz(design.stopband_hz) + "."};
    case Refusal::ripple_too_small:
        return {"filter.ripple_db",
                "The passband ripple " + db(filter.ripple_db) +
                    " is too small to be met: it asks for a filter longer than any that can "
                    "be counted."};
    case Refusal::ripple_too_large:
        return {"filter.ripple_db",
                "The passband ripple " + db(filter.ripple_db) +
                    " is too large to compute with: the share of each filtered stage must "
                    "stay below about 6165 dB."};
    case Refusal::length:
        // Without a stage, only the decibels can make the filter unbounded.
        return {"filter.attenuation_db",
                "The attenuation " + db(filter.attenuation_db) + " with a ripple of " +
                    db(filter.ripple_db) +
                    " asks for a filter longer than any that can be counted."};
    default: return {"", ""};
    }
}

RefusalText describe_refusal(Refusal refusal, double input_rate_hz, const Stage* stages,
                             std::size_t count, const FilterSpec& filter) {
    Design design;
    const WalkEnd end = walk_cascade(input_rate_hz, stages, count, filter, &design,
                                     [](std::size_t, double, double, const StageFigures*) {});
    // The walk meets the same refusal again, and with it the stage and the resolved edges.
    if (end.refusal != refusal) return {"", ""};
    const std::size_t i = end.stage;
    switch (refusal) {
    case Refusal::none: return {"", ""};
    case Refusal::input_rate:
        return {"input_rate_hz", "The input rate must be a finite number from 1 to 1e13 Hz, not " +
                                     text::shortest_double(input_rate_hz) + "."};
    case Refusal::stages:
        if (count == 0) return {"stages", "A cascade needs at least one stage."};
        if (stages[i].l < 1 || stages[i].m < 1) {
            return {"stages", "Every L and M must be at least 1; " + stage_name(i) +
                                  " has L = " + std::to_string(stages[i].l) +
                                  " and M = " + std::to_string(stages[i].m) + "."};
        }
        return {"stages",
                "The rate after " + stage_name(i) + " is not a positive finite number of Hz."};
    case Refusal::stage_rate: {
        const double in = i == 0 ? input_rate_hz : rate_after(input_rate_hz, stages, i);
        const double out = rate_after(input_rate_hz, stages, i + 1);
        return {"stages", "The rates of " + stage_name(i) + " (" + hz(in) + " to " + hz(out) +
                              ") are too low to carry the passband: the lower of them must "
                              "exceed the passband edge plus the stopband edge (" +
                              hz(design.passband_hz + design.stopband_hz) + ")."};
    }
    case Refusal::length:
        // Resolved requirements: a stage's filter is too long; else the decibels are.
        if (design.resolved) {
            return {"stages",
                    "The filter of " + stage_name(i) + " would need more than 2^53 taps."};
        }
        break;
    default: break;
    }
    const double output = rate_after(input_rate_hz, stages, count);
    return describe_filter_refusal(refusal, design, filter, std::min(input_rate_hz, output) / 2.0);
}

}  // namespace quillmere::inline v2::cost_model
