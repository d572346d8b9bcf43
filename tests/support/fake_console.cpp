// Scripted console for unit tests; see fake_console.h for the rules it plays by.
#include "fake_console.h"

#include <cstring>
#include <deque>

#include "interactive/shutdown.h"

namespace quillmere::platform {

struct ShutdownEvent {
    bool in_use = false;
    bool signalled = false;
};

}  // namespace quillmere::platform

namespace {

using quillmere::platform::ConsoleMode;
using quillmere::platform::ConsoleResult;
using quillmere::platform::ConsoleWait;
using quillmere::platform::WaitResult;

enum class StepKind { keys, shutdown, resume };

struct Step {
    StepKind kind = StepKind::keys;
    std::vector<KeyEvent> keys;
    bool shutdown_during_read = false;
};

struct Failure {
    unsigned long error = 0;
    int skip = 0;
    int times = 0;
};

/// The mode the fake reports as the console's own; the raw mode is this with bit 0x100.
constexpr unsigned long INITIAL_MODE = 0x1F7;

struct FakeState {
    std::deque<Step> script;
    std::string output;
    int beeps = 0;
    int calls[FAKE_OP_COUNT] = {};
    bool armed[FAKE_OP_COUNT] = {};
    Failure failures[FAKE_OP_COUNT] = {};
    unsigned long wait_failure_result = FAKE_WAIT_FAILED;
    bool raw = false;
    int raw_sets = 0;
    int restores = 0;
    bool restored_saved_mode = true;
    int overruns = 0;
    int stdin_descriptor = 0;
    bool stdin_is_terminal = true;
    ControlHandler handler = nullptr;
    ShutdownEvent events[FAKE_EVENT_POOL] = {};
};

FakeState& state() {
    static FakeState s;
    return s;
}

std::size_t index_of(FakeConsoleOp op) {
    return static_cast<std::size_t>(op);
}

/// Counts the call and tells whether it is one of the injected failures; `error` gets
/// the injected error number.
bool fails(FakeConsoleOp op, unsigned long& error) {
    FakeState& s = state();
    const std::size_t i = index_of(op);
    ++s.calls[i];
    if (!s.armed[i]) return false;
    Failure& f = s.failures[i];
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    if (f.times == 0) return false;
    if (f.times > 0) --f.times;
    error = f.error;
    return true;
}

/// The result of a console operation that may be made to fail.
ConsoleResult result_of(FakeConsoleOp op) {
    unsigned long error = 0;
    if (fails(op, error)) return ConsoleResult{false, error};
    return ConsoleResult{};
}

/// What the control handler does for a stop event: the flag, then the event.
void request_shutdown(ShutdownEvent* event) {
    quillmere::interactive::set_shutdown_state(true, quillmere::interactive::shutdown_event());
    if (event != nullptr) event->signalled = true;
}

KeyEvent key_for_byte(char byte) {
    if (byte == '\r' || byte == '\n') return KeyEvent{KeyKind::enter, '\r'};
    if (byte == '\b') return KeyEvent{KeyKind::backspace, '\b'};
    return KeyEvent{KeyKind::other, byte};
}

std::vector<KeyEvent> keys_for_text(std::string_view text) {
    std::vector<KeyEvent> keys;
    keys.reserve(text.size());
    for (char byte : text) keys.push_back(key_for_byte(byte));
    return keys;
}

ConsoleMode initial_mode() {
    ConsoleMode mode;
    std::memset(mode.opaque, 0xA5, sizeof mode.opaque);
    std::memcpy(mode.opaque, &INITIAL_MODE, sizeof INITIAL_MODE);
    return mode;
}

}  // namespace

// --- Test controls ----------------------------------------------------------------

void fake_console_reset() {
    state() = FakeState{};
    quillmere::interactive::set_shutdown_state(false, nullptr);
}

ShutdownEvent* fake_console_install_shutdown_event() {
    unsigned long error = 0;
    ShutdownEvent* event = quillmere::platform::shutdown_event_create(error);
    quillmere::interactive::set_shutdown_state(quillmere::interactive::shutdown_requested(), event);
    return event;
}

void fake_console_queue_keys(const std::vector<KeyEvent>& keys) {
    state().script.push_back(Step{StepKind::keys, keys, false});
}

void fake_console_queue_text(std::string_view text) {
    fake_console_queue_keys(keys_for_text(text));
}

void fake_console_queue_typed(std::string_view text) {
    for (char byte : text) fake_console_queue_keys({key_for_byte(byte)});
}

void fake_console_queue_shutdown() {
    state().script.push_back(Step{StepKind::shutdown, {}, false});
}

void fake_console_queue_resume() {
    state().script.push_back(Step{StepKind::resume, {}, false});
}

void fake_console_queue_text_then_shutdown(std::string_view text) {
    state().script.push_back(Step{StepKind::keys, keys_for_text(text), true});
}

void fake_console_fail(FakeConsoleOp op, unsigned long error, int skip, int times) {
    FakeState& s = state();
    s.armed[index_of(op)] = true;
    s.failures[index_of(op)] = Failure{error, skip, times};
}

void fake_console_set_wait_failure_result(unsigned long result) {
    state().wait_failure_result = result;
}

void fake_console_set_stdin(int descriptor, bool is_terminal) {
    state().stdin_descriptor = descriptor;
    state().stdin_is_terminal = is_terminal;
}

const std::string& fake_console_output() {
    return state().output;
}
void fake_console_clear_output() {
    state().output.clear();
}
int fake_console_beeps() {
    return state().beeps;
}
int fake_console_calls(FakeConsoleOp op) {
    return state().calls[index_of(op)];
}
bool fake_console_is_raw() {
    return state().raw;
}
int fake_console_raw_sets() {
    return state().raw_sets;
}
int fake_console_restores() {
    return state().restores;
}
bool fake_console_restored_saved_mode() {
    return state().restored_saved_mode;
}
std::size_t fake_console_pending_steps() {
    return state().script.size();
}
int fake_console_script_overruns() {
    return state().overruns;
}
ControlHandler fake_console_control_handler() {
    return state().handler;
}

bool fake_console_event_is_signalled(ShutdownEvent* event) {
    return event != nullptr && event->signalled;
}

int fake_console_open_events() {
    int open = 0;
    for (const ShutdownEvent& event : state().events) open += event.in_use ? 1 : 0;
    return open;
}

// --- The console interface ----------------------------------------------------------

namespace quillmere::platform {

int console_stdin_descriptor() {
    return state().stdin_descriptor;
}
bool console_is_terminal(int descriptor) {
    return descriptor == state().stdin_descriptor && state().stdin_is_terminal;
}

bool console_open_handles() {
    unsigned long error = 0;
    return !fails(FakeConsoleOp::open_handles, error);
}

ConsoleResult console_get_input_mode(ConsoleMode& mode) {
    const ConsoleResult result = result_of(FakeConsoleOp::get_mode);
    if (result.ok) mode = initial_mode();
    return result;
}

ConsoleResult console_set_raw_input_mode(const ConsoleMode&) {
    const ConsoleResult result = result_of(FakeConsoleOp::set_raw);
    if (!result.ok) return result;
    state().raw = true;
    ++state().raw_sets;
    return result;
}

ConsoleResult console_restore_input_mode(const ConsoleMode& initial) {
    const ConsoleResult result = result_of(FakeConsoleOp::restore);
    if (!result.ok) return result;
    const ConsoleMode expected = initial_mode();
    if (std::memcmp(initial.opaque, expected.opaque, sizeof expected.opaque) != 0) {
        state().restored_saved_mode = false;
    }
    state().raw = false;
    ++state().restores;
    return result;
}

void console_leave_raw_mode() {
    state().raw = false;
}

ConsoleWait console_wait_for_input(ShutdownEvent* event) {
    FakeState& s = state();
    unsigned long error = 0;
    if (fails(FakeConsoleOp::wait, error)) {
        return ConsoleWait{WaitResult::failed, s.wait_failure_result, error};
    }
    if (event != nullptr && event->signalled) return ConsoleWait{WaitResult::shutdown, 0, 0};
    if (s.script.empty()) {
        ++s.overruns;
        request_shutdown(event);
        return ConsoleWait{WaitResult::shutdown, 0, 0};
    }
    if (s.script.front().kind == StepKind::shutdown) {
        s.script.pop_front();
        request_shutdown(event);
        return ConsoleWait{WaitResult::shutdown, 0, 0};
    }
    if (s.script.front().kind == StepKind::resume) {
        s.script.pop_front();
        return ConsoleWait{WaitResult::resumed, 0, 0};
    }
    return ConsoleWait{WaitResult::input, 0, 0};
}

ConsoleResult console_read_keys(std::span<KeyEvent> keys, std::size_t& count) {
    FakeState& s = state();
    count = 0;
    const ConsoleResult result = result_of(FakeConsoleOp::read);
    if (!result.ok) return result;
    if (s.script.empty() || s.script.front().kind != StepKind::keys) return result;
    Step& step = s.script.front();
    const std::size_t n = step.keys.size() < keys.size() ? step.keys.size() : keys.size();
    for (std::size_t i = 0; i < n; ++i) keys[i] = step.keys[i];
    count = n;
    if (n < step.keys.size()) {
        step.keys.erase(step.keys.begin(), step.keys.begin() + static_cast<std::ptrdiff_t>(n));
        return result;
    }
    const bool shutdown = step.shutdown_during_read;
    s.script.pop_front();
    if (shutdown) request_shutdown(quillmere::interactive::shutdown_event());
    return result;
}

void console_write(std::string_view text) {
    state().output.append(text);
}

void console_beep() {
    ++state().beeps;
    state().output.push_back('\a');
}

ShutdownEvent* shutdown_event_create(unsigned long& error) {
    if (fails(FakeConsoleOp::create_event, error)) return nullptr;
    for (ShutdownEvent& event : state().events) {
        if (!event.in_use) {
            event = ShutdownEvent{true, false};
            return &event;
        }
    }
    error = 24;  // too many open: the pool is used up
    return nullptr;
}

void shutdown_event_signal(ShutdownEvent* event) {
    if (event != nullptr) event->signalled = true;
}

void shutdown_event_close(ShutdownEvent* event) {
    if (event != nullptr) *event = ShutdownEvent{false, false};
}

ConsoleResult console_install_control_handler(ControlHandler handler) {
    const ConsoleResult result = result_of(FakeConsoleOp::install_handler);
    if (result.ok) state().handler = handler;
    return result;
}

}  // namespace quillmere::platform
