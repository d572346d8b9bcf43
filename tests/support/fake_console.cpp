// Scripted console for unit tests; see fake_console.h for the rules it plays by.
#include "fake_console.h"

#include <cstring>
#include <deque>

#include "interactive/request_record.h"
#include "interactive/shutdown.h"

struct ShutdownEvent {
    bool in_use;
    bool signalled;
};

namespace {

enum StepKind { STEP_KEYS, STEP_SHUTDOWN, STEP_RESUME };

struct Step {
    StepKind kind;
    std::vector<KeyEvent> keys;
    bool shutdown_during_read;
};

struct Failure {
    unsigned long error;
    int skip;
    int times;
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

/// Counts the call and tells whether it is one of the injected failures.
bool fails(FakeConsoleOp op, unsigned long* error) {
    FakeState& s = state();
    ++s.calls[op];
    if (!s.armed[op]) return false;
    Failure& f = s.failures[op];
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    if (f.times == 0) return false;
    if (f.times > 0) --f.times;
    if (error != nullptr) *error = f.error;
    return true;
}

void request_shutdown(ShutdownEvent* event) {
    g_shutdown_requested.store(true);
    if (event != nullptr) event->signalled = true;
}

KeyEvent key_for_byte(char byte) {
    if (byte == '\r' || byte == '\n') return KeyEvent{KEY_ENTER, '\r'};
    if (byte == '\b') return KeyEvent{KEY_BACKSPACE, '\b'};
    return KeyEvent{KEY_OTHER, byte};
}

std::vector<KeyEvent> keys_for_text(std::string_view text) {
    std::vector<KeyEvent> keys;
    keys.reserve(text.size());
    for (char byte : text) keys.push_back(key_for_byte(byte));
    return keys;
}

}  // namespace

// --- Test controls ----------------------------------------------------------------

void fake_console_reset() {
    state() = FakeState{};
    g_shutdown_requested.store(false);
    g_hShutdownEvent.store(nullptr);
}

ShutdownEvent* fake_console_install_shutdown_event() {
    ShutdownEvent* event = shutdown_event_create(nullptr);
    g_hShutdownEvent.store(event);
    return event;
}

void fake_console_queue_keys(const std::vector<KeyEvent>& keys) {
    state().script.push_back(Step{STEP_KEYS, keys, false});
}

void fake_console_queue_text(std::string_view text) {
    fake_console_queue_keys(keys_for_text(text));
}

void fake_console_queue_typed(std::string_view text) {
    for (char byte : text) fake_console_queue_keys({key_for_byte(byte)});
}

void fake_console_queue_shutdown() {
    state().script.push_back(Step{STEP_SHUTDOWN, {}, false});
}

void fake_console_queue_resume() {
    state().script.push_back(Step{STEP_RESUME, {}, false});
}

void fake_console_queue_text_then_shutdown(std::string_view text) {
    state().script.push_back(Step{STEP_KEYS, keys_for_text(text), true});
}

void fake_console_fail(FakeConsoleOp op, unsigned long error, int skip, int times) {
    FakeState& s = state();
    s.armed[op] = true;
    s.failures[op] = Failure{error, skip, times};
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
    return state().calls[op];
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

int console_stdin_descriptor() {
    return state().stdin_descriptor;
}
bool console_is_terminal(int descriptor) {
    return descriptor == state().stdin_descriptor && state().stdin_is_terminal;
}

bool console_open_handles() {
    return !fails(FAKE_OP_OPEN_HANDLES, nullptr);
}

bool console_get_input_mode(ConsoleMode* mode, unsigned long* error) {
    if (fails(FAKE_OP_GET_MODE, error)) return false;
    std::memset(mode->opaque, 0xA5, sizeof mode->opaque);
    std::memcpy(mode->opaque, &INITIAL_MODE, sizeof INITIAL_MODE);
    return true;
}

bool console_set_raw_input_mode(const ConsoleMode*, unsigned long* error) {
    if (fails(FAKE_OP_SET_RAW, error)) return false;
    state().raw = true;
    ++state().raw_sets;
    return true;
}

bool console_restore_input_mode(const ConsoleMode* initial, unsigned long* error) {
    if (fails(FAKE_OP_RESTORE, error)) return false;
    ConsoleMode expected;
    std::memset(expected.opaque, 0xA5, sizeof expected.opaque);
    std::memcpy(expected.opaque, &INITIAL_MODE, sizeof INITIAL_MODE);
    if (std::memcmp(initial->opaque, expected.opaque, sizeof expected.opaque) != 0) {
        state().restored_saved_mode = false;
    }
    state().raw = false;
    ++state().restores;
    return true;
}

void console_leave_raw_mode() {
    state().raw = false;
}

unsigned long console_wait_for_input(ShutdownEvent* event, unsigned long* error) {
    FakeState& s = state();
    if (fails(FAKE_OP_WAIT, error)) return s.wait_failure_result;
    if (event != nullptr && event->signalled) return CONSOLE_WAIT_SHUTDOWN;
    if (s.script.empty()) {
        ++s.overruns;
        request_shutdown(event);
        return CONSOLE_WAIT_SHUTDOWN;
    }
    if (s.script.front().kind == STEP_SHUTDOWN) {
        s.script.pop_front();
        request_shutdown(event);
        return CONSOLE_WAIT_SHUTDOWN;
    }
    if (s.script.front().kind == STEP_RESUME) {
        s.script.pop_front();
        return CONSOLE_WAIT_RESUMED;
    }
    return CONSOLE_WAIT_INPUT;
}

bool console_read_keys(KeyEvent* keys, std::size_t capacity, std::size_t* count,
                       unsigned long* error) {
    FakeState& s = state();
    *count = 0;
    if (fails(FAKE_OP_READ, error)) return false;
    if (s.script.empty() || s.script.front().kind != STEP_KEYS) return true;
    Step& step = s.script.front();
    std::size_t n = step.keys.size() < capacity ? step.keys.size() : capacity;
    for (std::size_t i = 0; i < n; ++i) keys[i] = step.keys[i];
    *count = n;
    if (n < step.keys.size()) {
        step.keys.erase(step.keys.begin(), step.keys.begin() + static_cast<std::ptrdiff_t>(n));
        return true;
    }
    bool shutdown = step.shutdown_during_read;
    s.script.pop_front();
    if (shutdown) request_shutdown(g_hShutdownEvent.load());
    return true;
}

void console_write(const char* text, std::size_t length) {
    state().output.append(text, length);
}

void console_beep() {
    ++state().beeps;
    state().output.push_back('\a');
}

ShutdownEvent* shutdown_event_create(unsigned long* error) {
    if (fails(FAKE_OP_CREATE_EVENT, error)) return nullptr;
    for (ShutdownEvent& event : state().events) {
        if (!event.in_use) {
            event = ShutdownEvent{true, false};
            return &event;
        }
    }
    if (error != nullptr) *error = 24;  // too many open: the pool is used up
    return nullptr;
}

void shutdown_event_signal(ShutdownEvent* event) {
    if (event != nullptr) event->signalled = true;
}

void shutdown_event_close(ShutdownEvent* event) {
    if (event != nullptr) *event = ShutdownEvent{false, false};
}

bool console_install_control_handler(ControlHandler handler, unsigned long* error) {
    if (fails(FAKE_OP_INSTALL_HANDLER, error)) return false;
    state().handler = handler;
    return true;
}
