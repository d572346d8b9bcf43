// Ctrl+Z: the program gives the shell its terminal back before it stops and takes raw mode
// up again when it continues, so a half-typed answer goes on where it was; the question
// and what was typed so far are shown again, below whatever the shell wrote.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "dialog_steps.h"
#include "prompts.h"
#include "pty_session.h"

namespace {

constexpr std::string_view SETTINGS_123 =
    "Target: Input Rate = 123.00 Hz, Output Rate = 246.00 Hz\n";
constexpr char CTRL_Z = '\x1a';

/// Gives the program time to finish what it is doing (an echo, a signal handler) and
/// wait for the next key again.
void let_the_program_settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

/// Finishes the conversion whose input rate was 123: output 246 Hz, one stage, no more.
testing::AssertionResult finish_conversion(Session& session) {
    for (const auto& [prompt, keys] : {
             std::pair{OUTPUT_PROMPT, "246\r"},
             std::pair{STAGES_PROMPT, "1\r"},
             std::pair{ANOTHER, "n\r"},
         }) {
        testing::AssertionResult done = answer(session, SessionStream::tty, prompt, keys);
        if (!done) return done;
    }
    return testing::AssertionSuccess();
}

/// What the terminal shows from the first prompt to the second.
std::string first_answer_on_terminal(const Session& session) {
    const std::size_t start = session.tty.find(INPUT_PROMPT);
    const std::size_t end = session.tty.find(OUTPUT_PROMPT);
    if (start == std::string::npos || end == std::string::npos) return session.tty;
    return session.tty.substr(start + INPUT_PROMPT.size(), end - start - INPUT_PROMPT.size());
}

std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos;
         at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(JobControl, CtrlZAtAPromptGivesTheTerminalBackAndFgShowsTheLineAgain) {
    Session session;
    SessionOptions options;
    options.group = ProcessGroup::job;
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(answer(session, SessionStream::tty, INPUT_PROMPT, "12"));
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "12"));
    ASSERT_TRUE(write_keys(session, std::string(1, CTRL_Z)));
    ASSERT_TRUE(expect_job_stopped(session));
    // While stopped, the shell has the terminal as it was before the program.
    EXPECT_TRUE(terminal_unchanged(session));
    continue_job(session);
    // Back in the foreground, the read shows its question and the "12" typed so far on a
    // fresh line, before any further key.
    ASSERT_TRUE(
        expect_text(session, SessionStream::tty, "\r\n" + std::string(INPUT_PROMPT) + "12"));
    ASSERT_TRUE(type_keys(session, "3\r"));
    ASSERT_TRUE(finish_conversion(session));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 0);
    EXPECT_NE(session.out_text.find(SETTINGS_123), std::string::npos);
    EXPECT_EQ(session.err_text, "");
    // Each key shows once per line (the terminal turns the line break into CR CR LF):
    // nothing was echoed by the terminal while the program was away, and the line shown
    // last is the one taken.
    EXPECT_EQ(show_bytes(first_answer_on_terminal(session)),
              show_bytes("12\r\r\n" + std::string(INPUT_PROMPT) + "123\r\r\n"));
    EXPECT_TRUE(terminal_unchanged(session));
}

TEST(JobControl, CtrlZAtAQuestionOnStandardOutputShowsThatQuestionAgain) {
    // The search mode question goes to standard output, not through the reader; after fg
    // the terminal still gets it in front of the answer typed so far.
    Session session;
    SessionOptions options;
    options.group = ProcessGroup::job;
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(answer(session, SessionStream::tty, INPUT_PROMPT, "44100\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, OUTPUT_PROMPT, "48000\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, STAGES_PROMPT, "2\r"));
    ASSERT_TRUE(answer(session, SessionStream::out, MODE_PROMPT, "2"));
    // The echo of the stage answer, then the program's own echo of this one: the key was
    // read before the stop (a stop discards keys still queued).
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "2\r\r\n2"));
    ASSERT_TRUE(write_keys(session, std::string(1, CTRL_Z)));
    ASSERT_TRUE(expect_job_stopped(session));
    continue_job(session);
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "\r\n" + std::string(MODE_PROMPT) + "2"));
    ASSERT_TRUE(write_keys(session, "\x03"));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 1);
    EXPECT_TRUE(terminal_unchanged(session));
}

TEST(JobControl, CtrlZDuringALongSearchDoesNotBreakIt) {
    Session session;
    SessionOptions options;
    options.group = ProcessGroup::job;
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(start_long_search(session));
    ASSERT_TRUE(write_keys(session, std::string(1, CTRL_Z)));
    ASSERT_TRUE(expect_job_stopped(session));
    EXPECT_TRUE(terminal_unchanged(session));
    continue_job(session);
    // The search goes on: more progress comes after the stop, far from its end.
    const std::size_t before = session.out_text.size();
    ASSERT_TRUE(read_more_output(session, 4096));
    EXPECT_EQ(session.out_text.find_first_not_of('.', before), std::string::npos);
    ASSERT_TRUE(write_keys(session, "\x03"));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 1);
    const std::string_view end = "Search interrupted by user.\n\n";
    ASSERT_GE(session.out_text.size(), end.size());
    EXPECT_EQ(session.out_text.substr(session.out_text.size() - end.size()), end);
    EXPECT_EQ(session.err_text, "\n\nShutdown requested by user.\n");
    EXPECT_TRUE(terminal_unchanged(session));
}

TEST(JobControl, CtrlZWithoutAJobControlShellLeavesTheLineIntact) {
    // The program leads its own session: no shell could continue it, so it is not stopped.
    Session session;
    ASSERT_TRUE(start_session(session, SessionOptions{}));
    ASSERT_TRUE(answer(session, SessionStream::tty, INPUT_PROMPT, "12"));
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "12"));
    let_the_program_settle();
    ASSERT_TRUE(write_keys(session, std::string(1, CTRL_Z)));
    let_the_program_settle();
    ASSERT_TRUE(type_keys(session, "3\r"));
    ASSERT_TRUE(finish_conversion(session));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 0);
    EXPECT_NE(session.out_text.find(SETTINGS_123), std::string::npos);
    EXPECT_EQ(show_bytes(first_answer_on_terminal(session)), show_bytes("123\r\r\n"));
    EXPECT_TRUE(terminal_unchanged(session));
}

/// A scratch directory, removed with everything in it.
struct ScratchDirectory {
    std::filesystem::path path;
    ScratchDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillmere-e2e-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

TEST(JobControl, CtrlZAndFgUnderAnInteractiveShell) {
    const char* shell = "/bin/bash";
    if (access(shell, X_OK) != 0) GTEST_SKIP() << "no " << shell;
    ScratchDirectory scratch;
    ASSERT_FALSE(scratch.path.empty());
    const std::filesystem::path out = scratch.path / "out";
    const std::filesystem::path err = scratch.path / "err";

    Session session;
    SessionOptions options;
    options.argv = {shell, "--norc", "--noprofile", "-i"};
    options.env = {"PS1=qm$ ", "TERM=dumb", "HISTFILE=/dev/null"};
    options.output_to_tty = true;
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(answer(session, SessionStream::tty, "qm$ ",
                       program_path() + " >" + out.string() + " 2>" + err.string() + "\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, INPUT_PROMPT, "12"));
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "12"));
    ASSERT_TRUE(write_keys(session, std::string(1, CTRL_Z)));
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "Stopped"));
    ASSERT_TRUE(answer(session, SessionStream::tty, "qm$ ", "fg\r"));
    // fg names the job it continues; the shell has left the terminal to it by then.
    ASSERT_TRUE(expect_text(session, SessionStream::tty, out.string()));
    ASSERT_TRUE(type_keys(session, "3\r"));
    ASSERT_TRUE(finish_conversion(session));
    ASSERT_TRUE(answer(session, SessionStream::tty, "qm$ ", "echo status=$?\r"));
    ASSERT_TRUE(expect_text(session, SessionStream::tty, "status=0"));
    ASSERT_TRUE(answer(session, SessionStream::tty, "qm$ ", "exit\r"));
    ASSERT_TRUE(wait_for_exit(session));

    EXPECT_NE(read_file(out).find(SETTINGS_123), std::string::npos) << read_file(out);
    EXPECT_EQ(read_file(err), "");
    // Between the shell's lines and its own the program shows the line again, once, and
    // the terminal itself echoed nothing.
    const std::string shown = first_answer_on_terminal(session);
    EXPECT_EQ(occurrences(shown, "12"), 2u) << show_bytes(shown);
    EXPECT_EQ(occurrences(shown, "3\r\r\n"), 1u) << show_bytes(shown);
    EXPECT_EQ(occurrences(shown, "33"), 0u) << show_bytes(shown);
    const std::string last_line = std::string(INPUT_PROMPT) + "123\r\r\n";
    EXPECT_TRUE(shown.ends_with(last_line)) << show_bytes(shown);
    EXPECT_LT(shown.find("Stopped"), shown.rfind(last_line)) << show_bytes(shown);
}

}  // namespace
