// The command line's sign of life for a long search: one line on standard error, kept up
// to date and removed again when the search ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "quillmere/quillmere.h"

namespace quillmere::cli {

/// What the status line says of a search's progress, after "quillmere: searching: ":
/// "convergent 3 of 12" or "common factors, 45%", with "search 1 of 2, " before it in
/// min-cost mode; the iterations counted instead of the percentage when their total is
/// not known.
std::string progress_text(const SearchProgress& progress);

/// A status line on standard error ("quillmere: searching: common factors, 45%") for a
/// search that runs longer than a second, shown only when enabled (standard error is a
/// terminal); each new state overwrites the last, and the line is removed when the
/// search ends.
class SearchStatusLine final : public SearchObserver {
public:
    explicit SearchStatusLine(bool enabled);
    SearchStatusLine(const SearchStatusLine&) = delete;
    SearchStatusLine& operator=(const SearchStatusLine&) = delete;
    ~SearchStatusLine() override;

    void on_progress(const SearchProgress& progress) override;

    /// Removes the line, if one is shown.
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    void show(const SearchProgress& progress);

    bool enabled_;
    Clock::time_point start_;
    Clock::time_point last_;
    std::size_t width_ = 0;
};

}  // namespace quillmere::cli
