// The console on Windows: the Win32 console, event and control-handler functions.
//
// Console input is the process's standard input handle. Console output is the standard
// output handle while that is a console; once standard output is redirected, the
// console's own screen buffer (CONOUT$) takes its place, so the prompts and the echo
// still reach the user and the redirected stream holds only what the program prints.
// The shutdown event is the Win32 event handle itself, seen above this layer as an
// opaque ShutdownEvent pointer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace quillmere::platform {

namespace {

static_assert(sizeof(DWORD) <= sizeof(ConsoleMode::opaque));
static_assert(CONSOLE_KEY_BATCH <= 128, "one read takes at most 128 input records");
static_assert(std::atomic<ControlHandler>::is_always_lock_free);

// The system calls the control handler on a thread of its own, at any moment: the
// trampoline only loads this lock-free atomic and calls the handler, which keeps to the
// same rules (see its comment).

/// The program's control handler, read by the trampoline on the system's handler thread.
std::atomic<ControlHandler> control_handler{nullptr};

/// The console as the reader uses it, on the main thread only.
struct Console {
    /// The input mode a read switched from, while the read holds raw mode.
    DWORD initial_input_mode = 0;
    bool raw_active = false;
    /// The console output handle once found; kept for the life of the process.
    HANDLE output = nullptr;
};

Console& console() {
    static Console state;
    return state;
}

ConsoleResult failure(DWORD error) {
    return ConsoleResult{false, error};
}

bool is_usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

HANDLE console_input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

/// Standard output when it is a console, else the console's screen buffer; null if neither.
HANDLE find_console_output() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (is_usable(output) && GetConsoleMode(output, &mode) != 0) return output;
    // WriteConsoleA fails on a redirected handle; CONOUT$ is the console itself. Read
    // access lets GetConsoleMode work on it too.
    output = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return is_usable(output) ? output : nullptr;
}

HANDLE console_output() {
    Console& state = console();
    if (state.output == nullptr) state.output = find_console_output();
    return state.output;
}

DWORD load_mode(const ConsoleMode& mode) {
    DWORD value = 0;
    std::memcpy(&value, mode.opaque, sizeof value);
    return value;
}

/// Runs on the thread the system starts for each console control event.
BOOL WINAPI control_trampoline(DWORD control_type) {
    const ControlHandler handler = control_handler.load();
    return handler != nullptr && handler(static_cast<ControlEvent>(control_type)) ? TRUE : FALSE;
}

}  // namespace

bool console_open_standard_descriptors() {
    // Nothing to do here: the shutdown event and the console handles are system handles,
    // never C runtime descriptors, so a missing standard stream cannot be taken over by
    // them; a missing standard input fails the terminal check at start-up.
    return true;
}

int console_stdin_descriptor() {
    return _fileno(stdin);
}

bool console_is_terminal(int descriptor) {
    return _isatty(descriptor) != 0;
}

bool console_open_handles() {
    return is_usable(console_input()) && console_output() != nullptr;
}

ConsoleResult console_get_input_mode(ConsoleMode& mode) {
    DWORD value = 0;
    if (GetConsoleMode(console_input(), &value) == 0) return failure(GetLastError());
    mode = ConsoleMode{};
    std::memcpy(mode.opaque, &value, sizeof value);
    return {};
}

ConsoleResult console_set_raw_input_mode(const ConsoleMode& initial) {
    DWORD raw = load_mode(initial);
    // Ctrl+C becomes a control event for the handler instead of a key in the queue.
    raw |= ENABLE_PROCESSED_INPUT;
    // Keys arrive one by one, not as a finished line after Enter.
    raw &= ~static_cast<DWORD>(ENABLE_LINE_INPUT);
    // The console shows nothing by itself; the reader echoes what it accepts.
    raw &= ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
    // No window-size records in the input queue.
    raw &= ~static_cast<DWORD>(ENABLE_WINDOW_INPUT);
    // No mouse records in the input queue.
    raw &= ~static_cast<DWORD>(ENABLE_MOUSE_INPUT);
    // Every other bit (quick edit, insert mode, extended flags, virtual terminal input)
    // stays as the user had it.
    if (SetConsoleMode(console_input(), raw) == 0) return failure(GetLastError());
    Console& state = console();
    state.initial_input_mode = load_mode(initial);
    state.raw_active = true;
    return {};
}

ConsoleResult console_restore_input_mode(const ConsoleMode& initial) {
    console().raw_active = false;
    if (SetConsoleMode(console_input(), load_mode(initial)) == 0) return failure(GetLastError());
    return {};
}

void console_leave_raw_mode() {
    Console& state = console();
    if (!state.raw_active) return;
    state.raw_active = false;
    SetConsoleMode(console_input(), state.initial_input_mode);
}

ConsoleWait console_wait_for_input(ShutdownEvent* event) {
    const HANDLE handles[2] = {console_input(), reinterpret_cast<HANDLE>(event)};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return ConsoleWait{WaitResult::input, 0, 0};
    if (result == WAIT_OBJECT_0 + 1) return ConsoleWait{WaitResult::shutdown, 0, 0};
    return ConsoleWait{WaitResult::failed, result, GetLastError()};
}

ConsoleResult console_read_keys(std::span<KeyEvent> keys, std::size_t& count) {
    count = 0;
    INPUT_RECORD records[CONSOLE_KEY_BATCH];
    const DWORD wanted =
        static_cast<DWORD>(keys.size() < CONSOLE_KEY_BATCH ? keys.size() : CONSOLE_KEY_BATCH);
    if (wanted == 0) return {};
    // Take the records only up to the first Enter: what follows it belongs to the next
    // line and stays queued in the console, so pasted or typed-ahead answers are kept.
    DWORD queued = 0;
    if (PeekConsoleInputA(console_input(), records, wanted, &queued) == 0) {
        return failure(GetLastError());
    }
    DWORD take = queued == 0 ? 1 : queued;
    for (DWORD i = 0; i < queued; ++i) {
        const INPUT_RECORD& record = records[i];
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            take = i + 1;
            break;
        }
    }
    DWORD read = 0;
    // The wait has seen records queued, so this returns without blocking.
    if (ReadConsoleInputA(console_input(), records, take, &read) == 0) {
        return failure(GetLastError());
    }
    std::size_t found = 0;
    for (DWORD i = 0; i < read; ++i) {
        const INPUT_RECORD& record = records[i];
        // Key-up, focus, menu, mouse and size records carry no key press.
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        KeyEvent& out = keys[found++];
        out.character = key.uChar.AsciiChar;
        if (key.wVirtualKeyCode == VK_RETURN) {
            out.kind = KeyKind::enter;
        } else if (key.wVirtualKeyCode == VK_BACK) {
            out.kind = KeyKind::backspace;
        } else {
            out.kind = KeyKind::other;
        }
    }
    count = found;
    return {};
}

void console_write(std::string_view text) {
    HANDLE output = console_output();
    if (output == nullptr || text.empty()) return;
    DWORD written = 0;
    WriteConsoleA(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void console_beep() {
    MessageBeep(MB_ICONASTERISK);
}

ShutdownEvent* shutdown_event_create(unsigned long& error) {
    // Manual reset, not signalled, unnamed: once set it stays set for every later wait.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) error = GetLastError();
    return reinterpret_cast<ShutdownEvent*>(event);
}

void shutdown_event_signal(ShutdownEvent* event) {
    if (event != nullptr) SetEvent(reinterpret_cast<HANDLE>(event));
}

void shutdown_event_close(ShutdownEvent* event) {
    if (event != nullptr) CloseHandle(reinterpret_cast<HANDLE>(event));
}

ConsoleResult console_install_control_handler(ControlHandler handler) {
    control_handler.store(handler);
    if (SetConsoleCtrlHandler(control_trampoline, TRUE) == 0) return failure(GetLastError());
    return {};
}

}  // namespace quillmere::platform
