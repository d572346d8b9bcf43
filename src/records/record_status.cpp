#include "records/records.h"

namespace quillmere::records {

const char* record_status(const Record& record) {
    if (!record.error.empty() || !record.request) return "error";
    Status status = Status::calculation_error;
    Outcome outcome = Outcome::not_found;
    if (record.single) {
        status = record.single->status;
        outcome = record.single->outcome;
    } else if (record.two) {
        status = record.two->status;
        outcome = record.two->outcome;
    } else if (record.plan) {
        status = record.plan->status;
        outcome = record.plan->outcome;
    }
    if (status == Status::not_found) return "not_found";
    if (status != Status::ok) return "error";
    // The factors stand, but the request asked for their cost too.
    if (record.request->cost && (!record.cost || record.cost->status != Status::ok)) {
        return "error";
    }
    if (!design_failure(record).empty()) return "error";
    return outcome_name(outcome);
}

std::string record_error(const Record& record) {
    if (!record.error.empty()) return record.error;
    if (record.single && record.single->status != Status::ok) return record.single->message;
    if (record.two && record.two->status != Status::ok) return record.two->message;
    // A plan that found nothing says why when it knows (a tolerance gives the best error).
    if (record.plan && record.plan->status != Status::ok) return record.plan->message;
    if (record.request && record.request->cost && record.cost &&
        record.cost->status != Status::ok) {
        return record.cost->message;
    }
    return design_failure(record);
}

bool record_succeeded(const Record& record) {
    const std::string status = record_status(record);
    return status == "match" || status == "approximation";
}

std::string solver_message(const Record& record) {
    if (record.single) return record.single->message;
    if (record.two) return record.two->message;
    if (record.plan) return record.plan->message;
    return {};
}

}  // namespace quillmere::records
