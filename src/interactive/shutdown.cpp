#include "interactive/shutdown.h"

#include "interactive/messages.h"

namespace quillmere::interactive {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<platform::ShutdownEvent*>::is_always_lock_free);

// Shared with the control handler, which runs inside a signal handler (POSIX) or on a
// thread of the system (Windows), at any moment. It may only store to lock-free atomics
// and call async-signal-safe functions (signalling the event is one write to a pipe, or
// SetEvent); it never prints, allocates or locks. The flag is set before the event is
// signalled, so whoever wakes on the event finds the flag set; the event is loaded once,
// because the main thread may clear it.

/// True once a stop was requested.
std::atomic<bool> stop_requested{false};
/// The event a pending console read waits on; null when none exists.
std::atomic<platform::ShutdownEvent*> stop_event{nullptr};

/// Turns a stop request of the console into the shutdown flag and event.
bool on_control_event(platform::ControlEvent event) {
    switch (event) {
    case platform::ControlEvent::ctrl_c:
    case platform::ControlEvent::ctrl_break:
    case platform::ControlEvent::close:
    case platform::ControlEvent::logoff:
    case platform::ControlEvent::shutdown: break;
    default: return false;
    }
    stop_requested.store(true);
    platform::ShutdownEvent* const pending_read = stop_event.load();
    if (pending_read != nullptr) platform::shutdown_event_signal(pending_read);
    return true;
}

}  // namespace

const std::atomic<bool>& shutdown_flag() {
    return stop_requested;
}

platform::ShutdownEvent* shutdown_event() {
    return stop_event.load();
}

bool setup_signal_handlers() {
    unsigned long error = 0;
    platform::ShutdownEvent* const event = platform::shutdown_event_create(error);
    stop_event.store(event);
    if (event == nullptr) {
        print_stderr("Fatal Error: Could not create shutdown event object (Error %lu).", error);
        return false;
    }
    const platform::ConsoleResult installed =
        platform::console_install_control_handler(on_control_event);
    if (!installed.ok) {
        // The dialog's own words on every platform: POSIX has no console control handler,
        // but the message stays as the program has always printed it.
        print_stderr("Fatal Error: Could not set Windows console control handler (Error %lu).",
                     installed.error);
        // Cleared before closing, so a handler installed in part never signals a closed event.
        stop_event.store(nullptr);
        platform::shutdown_event_close(event);
        return false;
    }
    return true;
}

void close_shutdown_event() {
    platform::ShutdownEvent* const event = stop_event.exchange(nullptr);
    if (event != nullptr) platform::shutdown_event_close(event);
}

void set_shutdown_state(bool requested, platform::ShutdownEvent* event) {
    stop_requested.store(requested);
    stop_event.store(event);
}

}  // namespace quillmere::interactive
