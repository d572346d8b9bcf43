// The operating system behind one small interface: the interactive console,
// the shutdown event and the control handler. One implementation file per
// platform (console_posix.cpp, console_win32.cpp); nothing above this header
// knows which one it runs on.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace quillmere::platform {

/// The event a console wait watches besides the input; signalled once a stop is requested.
struct ShutdownEvent;

/// What one key press means to the line reader.
enum class KeyKind : unsigned char {
    enter,      ///< Enter (VK_RETURN; CR or LF on a terminal)
    backspace,  ///< Backspace (VK_BACK; DEL or BS on a terminal)
    other,      ///< any other key; `character` is its byte, 0 when it has none
};

/// One key-down event of the console input.
struct KeyEvent {
    KeyKind kind = KeyKind::other;
    char character = 0;
};

/// Most key events one read delivers (one batch).
inline constexpr std::size_t CONSOLE_KEY_BATCH = 128;

/// Saved console input mode, opaque above this layer.
struct ConsoleMode {
    alignas(8) unsigned char opaque[256] = {};
};

/// How a console operation ended: done, or failed with the system's error number (errno,
/// or GetLastError on Windows), which the dialog prints.
struct ConsoleResult {
    bool ok = true;
    unsigned long error = 0;
};

/// What ended a wait for console input.
enum class WaitResult {
    input,     ///< the console has input
    shutdown,  ///< the shutdown event is signalled
    /// POSIX only: the read was stopped (Ctrl+Z) and has been continued (fg). The screen
    /// now shows what the shell wrote meanwhile, so the reader shows its line again.
    resumed,
    failed,  ///< the wait failed
};

/// The outcome of a wait for console input.
struct ConsoleWait {
    WaitResult result = WaitResult::failed;
    /// For a failed wait: what the system's wait returned (WAIT_FAILED, or a value the
    /// program does not expect), as the dialog prints it.
    unsigned long code = 0;
    /// For a failed wait: the system's error number.
    unsigned long error = 0;
};

/// A console control event, numbered as the Windows console numbers it (CTRL_C_EVENT, ...);
/// a handler may also be given numbers that none of these names.
enum class ControlEvent : unsigned long {
    ctrl_c = 0,
    ctrl_break = 1,
    close = 2,  ///< the console window is closed (POSIX: the terminal hung up)
    logoff = 5,
    shutdown = 6,  ///< the system shuts down (POSIX: SIGTERM)
};

/// The program's control handler: true when it handled the event.
using ControlHandler = bool (*)(ControlEvent event);

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
/// Reads the current console input mode into `mode`.
ConsoleResult console_get_input_mode(ConsoleMode& mode);
/// Switches to raw input derived from `initial`: keys arrive one by one, unechoed,
/// while the interrupt keys still raise control events.
ConsoleResult console_set_raw_input_mode(const ConsoleMode& initial);
/// Puts a saved input mode back.
ConsoleResult console_restore_input_mode(const ConsoleMode& initial);
/// Waits without a time-out until the console has input or the event is signalled;
/// `resumed` once after the read has been stopped and continued.
ConsoleWait console_wait_for_input(ShutdownEvent* event);
/// Reads the keys that are ready, at most keys.size(), without waiting further; `count`
/// gets the number read.
ConsoleResult console_read_keys(std::span<KeyEvent> keys, std::size_t& count);
/// Writes to the console itself, past standard output; the result is not looked at.
void console_write(std::string_view text);
/// The audible signal for a refused key.
void console_beep();

/// Creates the manual-reset shutdown event, not signalled; null with `error` on failure.
ShutdownEvent* shutdown_event_create(unsigned long& error);
/// Signals the event; it stays signalled. Async-signal-safe.
void shutdown_event_signal(ShutdownEvent* event);
/// Releases the event.
void shutdown_event_close(ShutdownEvent* event);

/// Registers the control handler (POSIX: for SIGINT, SIGQUIT, SIGHUP and SIGTERM).
ConsoleResult console_install_control_handler(ControlHandler handler);

}  // namespace quillmere::platform
