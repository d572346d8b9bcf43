#include "report/progress_dots.h"

#include <cstring>
#include <string_view>

namespace quillmere::report {

void ProgressDots::on_convergent(int index, int count) {
    (void)count;
    if (mode_ != SearchMode::minimal_sum || index <= 0) return;
    if (!convergent_header_) {
        sink_.write("Progress (checking CFE convergents): ");
        sink_.flush();
        convergent_header_ = true;
    }
    if (index % PROGRESS_DOT_CONVERGENTS == 0) {
        sink_.write(".");
        sink_.flush();
        ++convergent_dots_;
    }
}

void ProgressDots::on_common_factor_iterations(std::uint64_t total) {
    if (!factor_header_) {
        sink_.write("Progress (checking g/h factors): ");
        sink_.flush();
        factor_header_ = true;
    }
    const std::uint64_t written = factor_total_ / PROGRESS_DOT_ITERATIONS;
    const std::uint64_t due = total / PROGRESS_DOT_ITERATIONS;
    if (total > factor_total_) factor_total_ = total;
    if (due > written) write_dots(due - written);
}

void ProgressDots::on_pass_done(SearchPass pass) {
    switch (pass) {
    case SearchPass::convergents:
        if (!convergent_header_) return;
        if (convergent_dots_ == 0) sink_.write(".");
        break;
    case SearchPass::common_factors:
        if (!factor_header_) return;
        if (factor_total_ < PROGRESS_DOT_ITERATIONS) sink_.write(".");
        break;
    }
    sink_.write("\n");
    sink_.flush();
}

void ProgressDots::on_error(const SolverError& error) {
    if (errors_ != nullptr) errors_->on_error(error);
}

void ProgressDots::write_dots(std::uint64_t n) {
    // A chunk at a time, flushing each so a long run of dots keeps moving. A stop request
    // ends the writing: which dots had been printed when the user stopped depends on
    // timing anyway.
    static constexpr std::size_t CHUNK = 4096;
    static const std::string_view dots = [] {
        static char text[CHUNK];
        std::memset(text, '.', sizeof text);
        return std::string_view(text, sizeof text);
    }();
    while (n > 0 && (stop_flag_ == nullptr || !stop_flag_->load())) {
        const std::size_t chunk = n < CHUNK ? static_cast<std::size_t>(n) : CHUNK;
        sink_.write(dots.substr(0, chunk));
        sink_.flush();
        n -= chunk;
    }
}

}  // namespace quillmere::report
