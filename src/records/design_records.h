// The designed filters in a record: the JSON object `design`, and the sentence that says
// why a design fails a request.
#pragma once

#include <nlohmann/json.hpp>

#include "records/records.h"

namespace quillmere::records {

/// The `design` object of a record with --design (see the README's JSON schema): the
/// method, each stage's filter and measurement, the cascade's, the rounded filters', the
/// coefficient file and why the design failed; null without --design.
nlohmann::ordered_json design_json(const Record& record);

}  // namespace quillmere::records
