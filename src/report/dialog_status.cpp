#include "report/dialog_status.h"

namespace quillmere::report {

DialogStatus dialog_status(Status status) {
    switch (status) {
    case Status::ok: return {"SUCCESS", false, 0};
    case Status::not_found:
    case Status::stopped: return {"FAILURE", false, 1};
    case Status::memory_error: return {"Memory Allocation Error", true, 1};
    case Status::invalid_request: return {"Invalid Input Error", true, 1};
    case Status::calculation_error: return {"Calculation Error", true, 1};
    case Status::overflow_error: return {"Arithmetic Overflow Error", true, 1};
    }
    return {};
}

}  // namespace quillmere::report
