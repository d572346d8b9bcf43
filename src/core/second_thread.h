// A task run on a second thread while the search goes on with another route to the same
// answer: the first to finish answers, and the other is abandoned. Where the library is
// built without threads (the browser's WebAssembly), or the machine has a single core, or
// no thread can be started, nothing is started and the search takes its routes one after
// the other.
#pragma once

#include <atomic>
#include <exception>
#include <optional>
#include <utility>

#if QUILLMERE_THREADS
#include <system_error>
#include <thread>
#endif

namespace quillmere::inline v2::core {

/// One task of result type Result, started at most once.
template <typename Result>
class SecondThread {
public:
    SecondThread() = default;
    SecondThread(const SecondThread&) = delete;
    SecondThread& operator=(const SecondThread&) = delete;
    ~SecondThread() { abandon(); }

    /// Whether a second thread can help at all here.
    static bool available() {
#if QUILLMERE_THREADS
        return std::thread::hardware_concurrency() >= 2;
#else
        return false;
#endif
    }

    /// Starts task(abandoned), which should end soon once `abandoned` (a flag it is given)
    /// becomes true. False when no thread was started.
    template <typename Task>
    bool start(Task&& task) {
#if QUILLMERE_THREADS
        if (started_ || !available()) return false;
        try {
            thread_ = std::thread([this, task = std::forward<Task>(task)]() mutable {
                try {
                    result_.emplace(task(abandoned_));
                } catch (...) {
                    error_ = std::current_exception();
                }
                done_.store(true, std::memory_order_release);
            });
        } catch (const std::system_error&) {
            return false;
        }
        started_ = true;
        return true;
#else
        (void)task;
        return false;
#endif
    }

    bool started() const {
        return started_;
    }

    /// Whether the task has ended (with a result or an exception).
    bool done() const {
        return done_.load(std::memory_order_acquire);
    }

    /// The task's result, once done(): an exception it threw is thrown again here.
    Result take() {
        join();
        if (error_) std::rethrow_exception(error_);
        return std::move(*result_);
    }

    /// Tells the task to stop and waits for it; its result is dropped.
    void abandon() {
        abandoned_.store(true, std::memory_order_relaxed);
        join();
    }

private:
    void join() {
#if QUILLMERE_THREADS
        if (thread_.joinable()) thread_.join();
#endif
    }

    bool started_ = false;
    std::atomic<bool> abandoned_{false};
    std::atomic<bool> done_{false};
    std::optional<Result> result_;
    std::exception_ptr error_;
#if QUILLMERE_THREADS
    std::thread thread_;
#endif
};

}  // namespace quillmere::inline v2::core
