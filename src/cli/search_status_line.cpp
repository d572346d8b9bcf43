#include "cli/search_status_line.h"

#include <cstdio>

#include "cli/output.h"

namespace quillmere::cli {

SearchStatusLine::SearchStatusLine(bool enabled)
    : enabled_(enabled), start_(Clock::now()), last_(start_) {}

SearchStatusLine::~SearchStatusLine() {
    clear();
}

void SearchStatusLine::on_convergent(int index, int count) {
    show("convergent " + std::to_string(index + 1) + " of " + std::to_string(count));
}

void SearchStatusLine::on_common_factor_iterations(std::uint64_t total) {
    show("common factors, " + std::to_string(total) + " iterations");
}

void SearchStatusLine::clear() {
    if (width_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    std::fflush(stderr);
    width_ = 0;
}

void SearchStatusLine::show(const std::string& what) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1)) return;
    if (width_ != 0 && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const std::string text = std::string(PROGRAM) + ": searching: " + what;
    std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), text.c_str());
    std::fflush(stderr);
    if (text.size() > width_) width_ = text.size();
}

}  // namespace quillmere::cli
