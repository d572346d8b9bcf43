// A scripted console for unit tests: key batches go in, everything the program writes
// to the console comes out as a string, and every operation can be made to fail.
//
// The script is a queue of steps consumed by console_wait_for_input and
// console_read_keys:
//   - a key batch: the wait reports input, the next read delivers the batch (at most
//     keys.size() keys per read; the rest stays queued as the next batch);
//   - a shutdown: the wait sets the program's shutdown flag, signals the event it was
//     given and returns WaitResult::shutdown, as the control handler would during a wait;
//   - a resume: the wait returns WaitResult::resumed, as after Ctrl+Z and fg.
// A wait on an event that is already signalled returns WaitResult::shutdown at once.
// When the script has run out, a wait behaves like a shutdown (so a test whose script
// is too short ends instead of hanging) and counts an overrun: tests that expect the
// script to be consumed exactly check fake_console_script_overruns() == 0.
//
// A beep is counted and also appears as the BEL byte in the console output, where the
// terminal would receive it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

using quillmere::platform::ControlHandler;
using quillmere::platform::KeyEvent;
using quillmere::platform::KeyKind;
using quillmere::platform::ShutdownEvent;

/// Console operations whose failure a test can inject.
enum class FakeConsoleOp {
    open_handles,
    get_mode,
    set_raw,
    restore,
    wait,
    read,
    create_event,
    install_handler,
};
/// Number of FakeConsoleOp values.
constexpr int FAKE_OP_COUNT = 8;

/// `times` value for a failure that never stops.
constexpr int FAKE_FAIL_ALWAYS = -1;
/// What a failing wait returns unless the test chooses another value (WAIT_FAILED).
constexpr unsigned long FAKE_WAIT_FAILED = 0xFFFFFFFFul;
/// Number of shutdown events that can exist at once.
constexpr int FAKE_EVENT_POOL = 16;

/// Forgets the script, the captured output, the counters, the injected failures, the
/// installed handler and all events; clears the program's shutdown flag and forgets its
/// shutdown event; standard input becomes descriptor 0, a terminal.
void fake_console_reset();

/// Creates a fake shutdown event and makes it the program's shutdown event, as start-up
/// would.
ShutdownEvent* fake_console_install_shutdown_event();

/// Queues one batch decoded from text: '\r' or '\n' is Enter, '\b' is Backspace, any
/// other byte is KeyKind::other carrying that byte.
void fake_console_queue_text(std::string_view text);
/// Queues one batch of raw key events.
void fake_console_queue_keys(const std::vector<KeyEvent>& keys);
/// Queues each byte of text as a batch of its own (keys typed one by one).
void fake_console_queue_typed(std::string_view text);
/// Queues a shutdown that arrives during the next wait that reaches this step.
void fake_console_queue_shutdown();
/// Queues a stop and continue of the read (Ctrl+Z, then fg) for the next wait.
void fake_console_queue_resume();
/// Queues a text batch whose read succeeds while a shutdown arrives during it.
void fake_console_queue_text_then_shutdown(std::string_view text);

/// Makes an operation fail with `error` after `skip` successful calls, `times` times
/// (FAKE_FAIL_ALWAYS: for good).
void fake_console_fail(FakeConsoleOp op, unsigned long error, int skip = 0,
                       int times = FAKE_FAIL_ALWAYS);
/// The value a failing wait returns (FAKE_WAIT_FAILED by default).
void fake_console_set_wait_failure_result(unsigned long result);
/// What console_stdin_descriptor and console_is_terminal report.
void fake_console_set_stdin(int descriptor, bool is_terminal);

/// Everything written to the console so far (prompts, echo, "\b \b", "\r\n", BEL).
const std::string& fake_console_output();
/// Empties the captured console output.
void fake_console_clear_output();
/// Number of beeps sounded.
int fake_console_beeps();
/// Number of calls made to an operation, failed ones included.
int fake_console_calls(FakeConsoleOp op);
/// True while the raw mode is set and not yet put back.
bool fake_console_is_raw();
/// Successful switches to the raw mode.
int fake_console_raw_sets();
/// Successful restores of the saved mode.
int fake_console_restores();
/// True when every restore was given the mode that console_get_input_mode delivered.
bool fake_console_restored_saved_mode();
/// Steps of the script not yet consumed.
std::size_t fake_console_pending_steps();
/// Waits that found the script empty (each ended like a shutdown).
int fake_console_script_overruns();

/// The handler last given to console_install_control_handler, null when none.
ControlHandler fake_console_control_handler();
/// True when the fake event has been signalled since it was created.
bool fake_console_event_is_signalled(ShutdownEvent* event);
/// Number of fake events created and not yet closed.
int fake_console_open_events();
