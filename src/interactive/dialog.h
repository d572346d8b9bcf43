// The dialog that fills a conversion request.
#pragma once

#include "interactive/conversion_request.h"
#include "quillmere/quillmere.h"

namespace quillmere::interactive {

/// Fills a conversion request, question by question, starting from an empty one.
/// Status::ok with the request complete; Status::stopped on a stop request or when the
/// user gives up the request at the intermediate target warning;
/// Status::calculation_error when the console fails (at any question, yes/no questions
/// included). On any other status than ok the request is partly filled and unusable.
Status get_user_inputs(ConversionRequest& request);

}  // namespace quillmere::interactive
