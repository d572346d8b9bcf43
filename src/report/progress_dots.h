// The dialog's progress dots for the two-stage search, written from the search's observer
// events: "Progress (checking CFE convergents): " with a dot every ten convergents
// (minimal-sum mode only) and "Progress (checking g/h factors): " with a dot every
// thousand common-factor iterations, each ended by a newline when its pass ends normally.
#pragma once

#include <atomic>
#include <cstdint>

#include "quillmere/quillmere.h"
#include "report/text_sink.h"

namespace quillmere::report {

/// Common-factor iterations per progress dot.
inline constexpr std::uint64_t PROGRESS_DOT_ITERATIONS = 1000;
/// Convergents per progress dot.
inline constexpr int PROGRESS_DOT_CONVERGENTS = 10;

class ProgressDots final : public SearchObserver {
public:
    /// Writes to sink for a search in the given mode. A long run of dots stops being
    /// written once stop_flag (may be null) is set, so a slow terminal never delays a stop.
    /// Error events go to errors (may be null).
    ProgressDots(TextSink& sink, SearchMode mode, const std::atomic<bool>* stop_flag = nullptr,
                 SearchObserver* errors = nullptr)
        : sink_(sink), mode_(mode), stop_flag_(stop_flag), errors_(errors) {}

    void on_convergent(int index, int count) override;
    void on_common_factor_iterations(std::uint64_t total) override;
    void on_pass_done(SearchPass pass) override;
    void on_error(const SolverError& error) override;

private:
    void write_dots(std::uint64_t n);

    TextSink& sink_;
    SearchMode mode_;
    const std::atomic<bool>* stop_flag_;
    SearchObserver* errors_;
    bool convergent_header_ = false;
    int convergent_dots_ = 0;
    bool factor_header_ = false;
    std::uint64_t factor_total_ = 0;
};

}  // namespace quillmere::report
