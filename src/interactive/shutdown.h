// Shutdown signalling: the console's control events (Ctrl+C, Ctrl+Break, closing the
// console, log-off, system shutdown; on POSIX SIGINT, SIGQUIT, SIGHUP and SIGTERM) become
// the shutdown flag, which every step of the dialog and the searches look at, and the
// shutdown event, which ends a pending console read.
#pragma once

#include <atomic>

#include "platform/console.h"

namespace quillmere::interactive {

/// The flag a stop request sets; never reset by the program. A search gets it as its stop
/// flag.
const std::atomic<bool>& shutdown_flag();

/// True once a stop was requested; read afresh at every call.
inline bool shutdown_requested() {
    return shutdown_flag().load();
}

/// The event that a pending console read waits on; null before setup_signal_handlers and
/// after close_shutdown_event.
platform::ShutdownEvent* shutdown_event();

/// Creates the shutdown event and installs the control handler; prints its own error.
bool setup_signal_handlers();

/// Releases the shutdown event; it is forgotten first, so a late control event never
/// signals a closed event.
void close_shutdown_event();

/// Sets the flag to `requested` and makes `event` (may be null) the shutdown event,
/// without signalling, creating or closing any event. For tests, which run many dialogs
/// in one process; the program never calls it.
void set_shutdown_state(bool requested, platform::ShutdownEvent* event);

}  // namespace quillmere::interactive
