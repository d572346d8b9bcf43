// Capture of the standard streams and a scoped stop request, shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "interactive/shutdown.h"

/// What the code under test wrote to standard output and standard error.
struct CapturedStreams {
    std::string out;
    std::string err;
};

/// Runs `body` with both standard streams captured. Assertions belong after it: a
/// failure printed while the streams are captured would be swallowed.
template <typename Body>
CapturedStreams capture_streams(Body&& body) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::forward<Body>(body)();
    CapturedStreams streams;
    streams.out = testing::internal::GetCapturedStdout();
    streams.err = testing::internal::GetCapturedStderr();
    return streams;
}

/// Sets or clears the program's shutdown flag, as a stop request would, without touching
/// the shutdown event.
inline void set_shutdown_flag(bool requested) {
    quillmere::interactive::set_shutdown_state(requested, quillmere::interactive::shutdown_event());
}

/// Sets the shutdown flag for one scope and clears it again, also when an assertion ends
/// the test early.
struct ShutdownFlagScope {
    ShutdownFlagScope() { set_shutdown_flag(true); }
    ~ShutdownFlagScope() { set_shutdown_flag(false); }
    ShutdownFlagScope(const ShutdownFlagScope&) = delete;
    ShutdownFlagScope& operator=(const ShutdownFlagScope&) = delete;
};
