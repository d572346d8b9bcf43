// Capture of the standard streams and a scoped stop request, shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "interactive/request_record.h"
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

/// Sets the shutdown flag for one scope and clears it again, also when an assertion ends
/// the test early.
struct ShutdownFlagScope {
    ShutdownFlagScope() { g_shutdown_requested.store(true); }
    ~ShutdownFlagScope() { g_shutdown_requested.store(false); }
    ShutdownFlagScope(const ShutdownFlagScope&) = delete;
    ShutdownFlagScope& operator=(const ShutdownFlagScope&) = delete;
};
