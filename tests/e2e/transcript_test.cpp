// Golden transcripts: each <case>.script in the transcripts directory is played at a
// terminal; standard output and standard error must equal <case>.stdout and
// <case>.stderr byte for byte, the terminal must show <case>.tty when that file exists,
// and the terminal's settings must be those it had before.
//
// Script lines (after "# comments"), the argument with the escapes of decode_escapes:
//   tty TEXT | out TEXT | err TEXT   wait for TEXT on that stream (after the last match)
//   type KEYS                        type KEYS once the program reads the keyboard
//   typeahead KEYS                   type KEYS at once, whatever the program is doing
//   pause MS                         let MS milliseconds pass (to split what is typed)
//   signal NAME [COUNT]              send the signal (INT QUIT TERM HUP TSTP CONT WINCH),
//                                    COUNT times in a row
//   exit CODE                        the program ends with CODE (the last line)
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pty_session.h"

namespace {

const std::filesystem::path TRANSCRIPTS = QUILLMERE_TRANSCRIPTS;

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

/// A terminal transcript: line breaks of the file are layout only, bytes are escapes.
std::string read_terminal_transcript(const std::filesystem::path& path) {
    std::string text = read_file(path);
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return decode_escapes(text);
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TRANSCRIPTS)) {
        if (entry.path().extension() == ".script") names.push_back(entry.path().stem());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int signal_named(const std::string& name) {
    if (name == "INT") return SIGINT;
    if (name == "QUIT") return SIGQUIT;
    if (name == "TERM") return SIGTERM;
    if (name == "HUP") return SIGHUP;
    if (name == "TSTP") return SIGTSTP;
    if (name == "CONT") return SIGCONT;
    if (name == "WINCH") return SIGWINCH;
    ADD_FAILURE() << "unknown signal " << name;
    return 0;
}

class Transcript : public testing::TestWithParam<std::string> {};

TEST_P(Transcript, MatchesByteForByte) {
    const std::filesystem::path base = TRANSCRIPTS / GetParam();
    Session session;
    ASSERT_TRUE(start_session(session, SessionOptions{}));

    std::istringstream script(read_file(base.string() + ".script"));
    std::string line;
    int expected_exit = -1;
    while (std::getline(script, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string argument =
            space == std::string::npos ? "" : decode_escapes(line.substr(space + 1));
        SCOPED_TRACE(line);
        if (verb == "tty") {
            ASSERT_TRUE(expect_text(session, SessionStream::tty, argument));
        } else if (verb == "out") {
            ASSERT_TRUE(expect_text(session, SessionStream::out, argument));
        } else if (verb == "err") {
            ASSERT_TRUE(expect_text(session, SessionStream::err, argument));
        } else if (verb == "type") {
            ASSERT_TRUE(type_keys(session, argument));
        } else if (verb == "typeahead") {
            ASSERT_TRUE(write_keys(session, argument));
        } else if (verb == "pause") {
            pump_session(session, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argument)));
        } else if (verb == "signal") {
            std::istringstream words(argument);
            std::string name;
            int count = 1;
            words >> name >> count;
            for (int i = 0; i < count; ++i) send_signal(session, signal_named(name));
        } else if (verb == "exit") {
            expected_exit = std::stoi(argument);
        } else {
            FAIL() << "unknown script step";
        }
    }
    ASSERT_NE(expected_exit, -1) << "the script names no exit code";

    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), expected_exit);
    EXPECT_EQ(session.out_text, read_file(base.string() + ".stdout"));
    EXPECT_EQ(session.err_text, read_file(base.string() + ".stderr"));
    const std::filesystem::path terminal = base.string() + ".tty";
    if (std::filesystem::exists(terminal)) {
        EXPECT_EQ(show_bytes(session.tty), show_bytes(read_terminal_transcript(terminal)));
    }
    EXPECT_TRUE(terminal_unchanged(session));
}

INSTANTIATE_TEST_SUITE_P(Cases, Transcript, testing::ValuesIn(case_names()),
                         // Not named `info`: the macro's own parameter has that name.
                         [](const testing::TestParamInfo<std::string>& test) {
                             return test.param;
                         });

}  // namespace
