// The program started with too little memory: under an address-space limit (ulimit -v)
// too tight for it, every start must end with the program's own message and exit code 1
// and the terminal as it was, never in std::terminate and SIGABRT.
#include <unistd.h>

#include <sstream>
#include <string>

#include "prompts.h"
#include "pty_session.h"

namespace {

constexpr std::string_view OUT_OF_MEMORY = "Error: Out of memory. Exiting.\n";
constexpr std::string_view SHUTDOWN_NOTICE = "\n\nShutdown requested by user.\n";
/// The dynamic loader's exit code when it cannot map the program's libraries.
constexpr int LOADER_FAILED = 127;
constexpr rlim_t PAGE = 4096;

enum class Outcome {
    loader_failed,   ///< the program never ran: the loader gave up
    out_of_memory,   ///< the program's own message, exit code 1, terminal intact
    reached_prompt,  ///< the program started and asked its first question
    wrong,           ///< anything else, a signal above all
};

struct Start {
    Outcome outcome = Outcome::wrong;
    std::string details;
};

/// Starts the program under the limit. When it reaches its first question, Ctrl+C ends it.
Start start_under_limit(rlim_t bytes) {
    Session session;
    SessionOptions options;
    options.address_space_bytes = bytes;
    std::ostringstream details;
    details << "limit " << bytes / 1024 << " KiB: ";
    if (!start_session(session, options)) return {Outcome::wrong, details.str() + "no start"};
    const bool asked = expect_text(session, SessionStream::tty, INPUT_PROMPT);
    if (asked && !write_keys(session, "\x03")) return {Outcome::wrong, details.str() + "no typing"};
    if (!wait_for_exit(session)) return {Outcome::wrong, details.str() + "no end"};
    const int code = exit_code(session);
    details << "exit code " << code << ", standard error " << show_bytes(session.err_text);
    if (asked) {
        // Ctrl+C may find the program short of memory too; either way it ends as it should.
        const bool ended = code == 1 && (session.err_text.ends_with(SHUTDOWN_NOTICE) ||
                                         session.err_text.ends_with(OUT_OF_MEMORY));
        return {ended ? Outcome::reached_prompt : Outcome::wrong, details.str()};
    }
    if (code == LOADER_FAILED && session.out_text.empty()) {
        return {Outcome::loader_failed, details.str()};
    }
    const bool own_end = code == 1 && session.err_text == OUT_OF_MEMORY &&
                         session.tty.empty() && terminal_unchanged(session);
    return {own_end ? Outcome::out_of_memory : Outcome::wrong, details.str()};
}

TEST(MemoryLimit, EveryStartShortOfMemoryEndsWithTheProgramsOwnMessage) {
#ifdef QUILLMERE_SANITIZED
    GTEST_SKIP() << "a sanitized program cannot run under an address-space limit";
#endif
    // The smallest limit under which the loader gets the program running at all, found by
    // halving: below it nothing of the program runs; far above it the program asks.
    rlim_t low = 512 * PAGE;      // 2 MiB: the loader fails
    rlim_t high = 16384 * PAGE;   // 64 MiB: the program asks its first question
    ASSERT_EQ(start_under_limit(low).outcome, Outcome::loader_failed);
    const Start roomy = start_under_limit(high);
    ASSERT_EQ(roomy.outcome, Outcome::reached_prompt) << roomy.details;
    while (high - low > PAGE) {
        const rlim_t middle = low + (high - low) / PAGE / 2 * PAGE;
        (start_under_limit(middle).outcome == Outcome::loader_failed ? low : high) = middle;
    }

    // From there, page by page, up to the first limit that lets the program ask: every
    // start in between runs out of memory during the program's own start-up.
    int out_of_memory = 0;
    bool asked = false;
    for (rlim_t bytes = high; bytes < high + 1024 * PAGE && !asked; bytes += PAGE) {
        const Start start = start_under_limit(bytes);
        EXPECT_NE(start.outcome, Outcome::wrong) << start.details;
        if (start.outcome == Outcome::out_of_memory) ++out_of_memory;
        asked = start.outcome == Outcome::reached_prompt;
    }
    EXPECT_TRUE(asked) << "the program never asked, up to 4 MiB above the loader's limit";
    // The program starts between the loader and its first question with nothing left to
    // allocate; if no limit ever landed there, this test proved nothing.
    EXPECT_GT(out_of_memory, 0) << "no limit ran out of memory in the program's start-up";
    testing::Test::RecordProperty("out_of_memory_starts", out_of_memory);
    std::printf("loader limit %lu KiB, %d starts ran out of memory before the first question\n",
                static_cast<unsigned long>(high / 1024), out_of_memory);
}

}  // namespace
