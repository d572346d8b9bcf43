#include "report/solver_errors.h"

#include <cmath>
#include <cstdio>

#include "report/dialog_status.h"

namespace quillmere::report {

namespace {

/// A message framed by newlines, as the program frames its error messages.
std::string framed(const std::string& message) {
    return "\n" + message + "\n";
}

std::string formatted(const char* format, long long a, long long b) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

const char* factored_name(FactoredNumber which) {
    switch (which) {
    case FactoredNumber::convergent_l: return "L";
    case FactoredNumber::convergent_m: return "M";
    case FactoredNumber::simplest_l: return "L_simplest";
    case FactoredNumber::simplest_m: return "M_simplest";
    }
    return "?";
}

/// The reason for a refused request that the checks of the library name.
std::string refusal_text(const RequestCheck& check) {
    return framed(check.message.empty() ? "The request was refused." : check.message);
}

}  // namespace

std::string single_stage_error_text(const SolverError& error, const SingleStageRequest& request) {
    switch (error.kind) {
    case SolverErrorKind::invalid_request: {
        const double in = request.input_rate_hz;
        const double out = request.output_rate_hz;
        if (!std::isfinite(in) || !std::isfinite(out) || in <= 0.0 || out <= 0.0) {
            return framed("Invalid rates for single resampler (must be positive finite).");
        }
        const double ratio = out / in;
        if (error.status == Status::calculation_error || !std::isfinite(ratio) || ratio <= 0.0) {
            return framed("Target ratio is invalid (non-positive or non-finite).");
        }
        return refusal_text(check_request(request));
    }
    case SolverErrorKind::convergents_failed:
        return framed(std::string("Critical error during CFE calculation: ") +
                      dialog_status(error.status).name + ".");
    case SolverErrorKind::non_positive_factors:
        return formatted("Internal Error: CFE resulted in non-positive L or M (%lld / %lld).\n",
                         error.l, error.m);
    case SolverErrorKind::non_finite_rate:
        return framed(
            formatted("Achieved rate calculation resulted in non-finite value (L=%lld, M=%lld).",
                      error.l, error.m));
    case SolverErrorKind::factoring_failed: break;
    }
    return framed(std::string("Calculation failed: ") + dialog_status(error.status).name + ".");
}

std::string two_stage_error_text(const SolverError& error, const TwoStageRequest& request) {
    switch (error.kind) {
    case SolverErrorKind::invalid_request: {
        const double in = request.input_rate_hz;
        if (error.status == Status::invalid_request && in <= 0.0) {
            return framed("Input rate must be positive.");
        }
        const double ratio = request.output_rate_hz / in;
        if (error.status == Status::calculation_error || !std::isfinite(ratio) || ratio <= 0.0) {
            return framed("Cannot calculate valid positive target ratio.");
        }
        return refusal_text(check_request(request));
    }
    case SolverErrorKind::convergents_failed:
        return framed(std::string("Critical Error during CFE: ") +
                      dialog_status(error.status).name + ".");
    case SolverErrorKind::factoring_failed: {
        char text[160];
        std::snprintf(text, sizeof text, "Critical error factoring %s=%lld: %s. Aborting.",
                      factored_name(error.factored), static_cast<long long>(error.value),
                      dialog_status(error.status).name);
        return framed(text);
    }
    case SolverErrorKind::non_positive_factors:
    case SolverErrorKind::non_finite_rate: break;
    }
    return framed(std::string("Search failed: ") + dialog_status(error.status).name + ".");
}

void SolverErrorLines::on_error(const SolverError& error) {
    sink_.write(single_ != nullptr ? single_stage_error_text(error, *single_)
                                   : two_stage_error_text(error, *two_));
    sink_.flush();
}

}  // namespace quillmere::report
