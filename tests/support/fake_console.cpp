// Minimal stand-in console for tests that never read from it.
#include "platform/console.h"

int console_stdin_descriptor() { return 0; }
bool console_is_terminal(int) { return true; }
bool console_open_handles() { return false; }
bool console_get_input_mode(ConsoleMode*, unsigned long*) { return false; }
bool console_set_raw_input_mode(const ConsoleMode*, unsigned long*) { return false; }
bool console_restore_input_mode(const ConsoleMode*, unsigned long*) { return false; }
unsigned long console_wait_for_input(ShutdownEvent*, unsigned long*) { return 2; }
bool console_read_keys(KeyEvent*, std::size_t, std::size_t* count, unsigned long*) {
    *count = 0;
    return false;
}
void console_write(const char*, std::size_t) {}
void console_beep() {}
ShutdownEvent* shutdown_event_create(unsigned long*) { return nullptr; }
void shutdown_event_signal(ShutdownEvent*) {}
void shutdown_event_close(ShutdownEvent*) {}
bool console_install_control_handler(ControlHandler, unsigned long*) { return false; }
