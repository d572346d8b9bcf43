// The caller's stop request as the design reads it: the options' stop token where the
// standard library has one, and their stop flag everywhere.
#pragma once

#include <atomic>

#include "quillmere/quillmere.h"

namespace quillmere::inline v2::design {

class StopRequest {
public:
    StopRequest() = default;
    explicit StopRequest(const DesignOptions& options) : flag_(options.stop_flag) {
#if QUILLMERE_HAS_STOP_TOKEN
        token_ = options.stop_token;
#endif
    }

    /// True once the caller asked the design to stop.
    [[nodiscard]] bool requested() const {
        if (flag_ != nullptr && flag_->load()) return true;
#if QUILLMERE_HAS_STOP_TOKEN
        return token_.stop_requested();
#else
        return false;
#endif
    }

private:
#if QUILLMERE_HAS_STOP_TOKEN
    std::stop_token token_{};
#endif
    const std::atomic<bool>* flag_ = nullptr;
};

}  // namespace quillmere::inline v2::design
