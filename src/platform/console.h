// The operating system behind one small interface: the interactive console,
// the shutdown event and the control handler. One implementation file per
// platform (console_posix.cpp, console_win32.cpp); nothing above this header
// knows which one it runs on.
#pragma once

#include <cstddef>

struct ShutdownEvent;

/// What one key press means to the line reader.
enum KeyKind : unsigned char {
    KEY_ENTER,      ///< Enter (VK_RETURN; CR or LF on a terminal)
    KEY_BACKSPACE,  ///< Backspace (VK_BACK; DEL or BS on a terminal)
    KEY_OTHER,      ///< any other key; `character` is its byte, 0 when it has none
};

/// One key-down event of the console input.
struct KeyEvent {
    KeyKind kind;
    char character;
};

/// Most key events one read delivers (one batch).
constexpr std::size_t CONSOLE_KEY_BATCH = 128;

/// Saved console input mode, opaque above this layer.
struct ConsoleMode {
    alignas(8) unsigned char opaque[256];
};

/// Results of console_wait_for_input other than a failure.
constexpr unsigned long CONSOLE_WAIT_INPUT = 0;
constexpr unsigned long CONSOLE_WAIT_SHUTDOWN = 1;
/// POSIX only: the read was stopped (Ctrl+Z) and has been continued (fg). The screen now
/// shows what the shell wrote meanwhile, so the reader shows its line again.
constexpr unsigned long CONSOLE_WAIT_RESUMED = 2;

/// Makes sure the standard descriptors (input, output, error) are open, giving the null
/// device to each one that is closed, so that nothing the program opens later takes
/// their place. To be called first, before anything is opened; false when a closed one
/// cannot be given the null device.
bool console_open_standard_descriptors();
/// The descriptor of standard input, negative on failure.
int console_stdin_descriptor();
/// True when the descriptor is an interactive terminal.
bool console_is_terminal(int descriptor);

/// Makes the console input and output usable; false when either is missing.
bool console_open_handles();
/// Puts back the input mode that a read switched from, if a read holds raw mode now; for a
/// program that must end in the middle of a read. Allocates nothing.
void console_leave_raw_mode();
/// Reads the current console input mode.
bool console_get_input_mode(ConsoleMode* mode, unsigned long* error);
/// Switches to raw input derived from `initial`: keys arrive one by one, unechoed,
/// while the interrupt keys still raise control events.
bool console_set_raw_input_mode(const ConsoleMode* initial, unsigned long* error);
/// Puts a saved input mode back.
bool console_restore_input_mode(const ConsoleMode* initial, unsigned long* error);
/// Waits without a time-out until the console has input or the event is signalled.
/// Returns CONSOLE_WAIT_INPUT, CONSOLE_WAIT_SHUTDOWN, CONSOLE_WAIT_RESUMED once after
/// the read has been stopped and continued, or another value on failure.
unsigned long console_wait_for_input(ShutdownEvent* event, unsigned long* error);
/// Reads the keys that are ready, at most `capacity`, without waiting further.
bool console_read_keys(KeyEvent* keys, std::size_t capacity, std::size_t* count,
                       unsigned long* error);
/// Writes to the console itself, past standard output; the result is not looked at.
void console_write(const char* text, std::size_t length);
/// The audible signal for a refused key.
void console_beep();

/// Creates the manual-reset shutdown event, not signalled; null on failure.
ShutdownEvent* shutdown_event_create(unsigned long* error);
/// Signals the event; it stays signalled. Async-signal-safe.
void shutdown_event_signal(ShutdownEvent* event);
/// Releases the event.
void shutdown_event_close(ShutdownEvent* event);

/// The program's control handler: takes a console control event type
/// (0 Ctrl+C, 1 Ctrl+Break, 2 close, 5 log-off, 6 shutdown) and returns true when handled.
using ControlHandler = bool (*)(unsigned long control_type);
/// Registers the control handler (POSIX: for SIGINT, SIGQUIT, SIGHUP and SIGTERM).
bool console_install_control_handler(ControlHandler handler, unsigned long* error);
