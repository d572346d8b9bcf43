// Long calls into the library without the GIL, stoppable with Ctrl+C.
//
// Python runs its signal handlers on the main thread only, between bytecodes; a thread
// inside a C++ search never gets there. So on the main thread the work runs on a worker
// thread while the calling thread waits in short slices, each time taking the GIL to let
// Python run its handlers (PyErr_CheckSignals). When a handler raises (KeyboardInterrupt
// from SIGINT), the library's stop flag is set and the exception goes up at once; a worker
// that has not ended within a short grace period finishes on its own, detached, with no
// Python object in reach. On any other thread no signal handler can run, and the work
// runs right there, the GIL released so that other threads go on meanwhile.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <pybind11/pybind11.h>

namespace quillmere::python {

/// How long the waiting thread sleeps between looks at Python's signal handlers.
inline constexpr std::chrono::milliseconds signal_check_interval{10};
/// How long a stopped call waits for the worker to end before leaving it to end alone.
inline constexpr std::chrono::milliseconds stop_grace_period{20};

/// Notes the main thread; called once when the module is imported.
void remember_main_thread();
/// True on the thread that runs Python's signal handlers.
bool on_main_thread();

/// Runs `work(stop_flag)` without the GIL and returns what it returns. `work` is copied to
/// the worker, so it must own everything it uses (no references to the caller's locals,
/// no Python objects). Raises what a signal handler raised (KeyboardInterrupt), with the
/// stop flag set; rethrows what `work` threw.
template <typename Work>
auto run_stoppable(Work work) -> decltype(work(std::declval<const std::atomic<bool>*>())) {
    using Result = decltype(work(std::declval<const std::atomic<bool>*>()));
    if (!on_main_thread()) {
        const pybind11::gil_scoped_release release;
        return work(nullptr);
    }

    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::optional<Result> result;
        std::exception_ptr error;
        std::atomic<bool> stop{false};
    };
    auto shared = std::make_shared<Shared>();
    std::thread worker;
    try {
        worker = std::thread([shared, work]() mutable {
            std::optional<Result> result;
            std::exception_ptr error;
            try {
                result.emplace(work(&shared->stop));
            } catch (...) {
                error = std::current_exception();
            }
            const std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            shared->error = error;
            shared->done = true;
            shared->ended.notify_all();
        });
    } catch (const std::system_error&) {
        // No thread to be had: run here, not stoppable, but still without the GIL.
        const pybind11::gil_scoped_release release;
        return work(nullptr);
    }

    const auto wait_for_end = [&shared](std::chrono::milliseconds slice) {
        const pybind11::gil_scoped_release release;
        std::unique_lock lock(shared->mutex);
        return shared->ended.wait_for(lock, slice, [&shared] { return shared->done; });
    };
    while (!wait_for_end(signal_check_interval)) {
        if (PyErr_CheckSignals() != 0) {
            shared->stop.store(true);
            if (wait_for_end(stop_grace_period)) {
                worker.join();
            } else {
                worker.detach();
            }
            throw pybind11::error_already_set();
        }
    }
    worker.join();
    if (shared->error) std::rethrow_exception(shared->error);
    return std::move(*shared->result);
}

}  // namespace quillmere::python
