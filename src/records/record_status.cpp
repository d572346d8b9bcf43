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
    if (!design_failure(record).empty()) return "error";
    return outcome_name(outcome);
}

bool record_succeeded(const Record& record) {
    const std::string status = record_status(record);
    if (status != "match" && status != "approximation") return false;
    if (record.request->cost && (!record.cost || record.cost->status != Status::ok)) return false;
    return true;
}

std::string solver_message(const Record& record) {
    if (record.single) return record.single->message;
    if (record.two) return record.two->message;
    if (record.plan) return record.plan->message;
    return {};
}

std::string failure_message(const Record& record) {
    const std::string solver = solver_message(record);
    return solver.empty() ? design_failure(record) : solver;
}

}  // namespace quillmere::records
