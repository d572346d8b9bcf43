#include "cli/search_status_line.h"

#include <algorithm>
#include <cstdio>

#include "cli/output.h"

namespace quillmere::cli {

std::string progress_text(const SearchProgress& progress) {
    std::string text;
    if (progress.searches > 1) {
        text = "search " + std::to_string(progress.search) + " of " +
               std::to_string(progress.searches) + ", ";
    }
    if (progress.pass == SearchPass::convergents) {
        text += "convergent " + std::to_string(progress.done);
        if (progress.total != 0) text += " of " + std::to_string(progress.total);
        return text;
    }
    if (progress.total == 0) {
        return text + "common factors, " + std::to_string(progress.done) + " iterations";
    }
    // Whole percents, rounded down, so that 100% only shows a finished pass.
    const std::uint64_t done = std::min(progress.done, progress.total);
    const auto percent = static_cast<unsigned>(static_cast<double>(done) * 100.0 /
                                               static_cast<double>(progress.total));
    return text + "common factors, " +
           std::to_string(done == progress.total ? 100U : std::min(percent, 99U)) + "%";
}

SearchStatusLine::SearchStatusLine(bool enabled)
    : enabled_(enabled), start_(Clock::now()), last_(start_) {}

SearchStatusLine::~SearchStatusLine() {
    clear();
}

void SearchStatusLine::on_progress(const SearchProgress& progress) {
    show(progress);
}

void SearchStatusLine::clear() {
    if (width_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    std::fflush(stderr);
    width_ = 0;
}

void SearchStatusLine::show(const SearchProgress& progress) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1)) return;
    if (width_ != 0 && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const std::string text = std::string(PROGRAM) + ": searching: " + progress_text(progress);
    std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), text.c_str());
    std::fflush(stderr);
    if (text.size() > width_) width_ = text.size();
}

}  // namespace quillmere::cli
