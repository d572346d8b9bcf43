#include "interactive/shutdown.h"

#include "interactive/messages.h"
#include "platform/console.h"

std::atomic<bool> g_shutdown_requested{false};
std::atomic<ShutdownEvent*> g_hShutdownEvent{nullptr};

namespace {

/// Control event types that ask the program to stop.
constexpr unsigned long CTRL_C_EVENT = 0;
constexpr unsigned long CTRL_BREAK_EVENT = 1;
constexpr unsigned long CTRL_CLOSE_EVENT = 2;
constexpr unsigned long CTRL_LOGOFF_EVENT = 5;
constexpr unsigned long CTRL_SHUTDOWN_EVENT = 6;

// Runs inside a signal handler (POSIX) or on a thread of the system (Windows), at any
// moment. It may only store to lock-free atomics and call async-signal-safe functions
// (signalling the event is one write to a pipe, or SetEvent); it never prints, allocates
// or locks. The flag is set before the event is signalled, so whoever wakes on the event
// finds the flag set; the event is loaded once, because the main loop may clear it.

/// Turns a stop request of the console into the shutdown flag and event.
bool ConsoleHandler(unsigned long control_type) {
    switch (control_type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: break;
    default: return false;
    }
    g_shutdown_requested.store(true);
    ShutdownEvent* const event = g_hShutdownEvent.load();
    if (event != nullptr) shutdown_event_signal(event);
    return true;
}

}  // namespace

bool setup_signal_handlers() {
    unsigned long error = 0;
    ShutdownEvent* const event = shutdown_event_create(&error);
    g_hShutdownEvent.store(event);
    if (event == nullptr) {
        print_stderr("Fatal Error: Could not create shutdown event object (Error %lu).", error);
        return false;
    }
    if (!console_install_control_handler(ConsoleHandler, &error)) {
        print_stderr("Fatal Error: Could not set Windows console control handler (Error %lu).",
                     error);
        // Cleared before closing, so a handler installed in part never signals a closed event.
        g_hShutdownEvent.store(nullptr);
        shutdown_event_close(event);
        return false;
    }
    return true;
}

void close_shutdown_event() {
    ShutdownEvent* const event = g_hShutdownEvent.exchange(nullptr);
    if (event != nullptr) shutdown_event_close(event);
}
