// The dialog that fills a conversion request.
#pragma once

#include "interactive/request_record.h"

/// Fills a conversion request, question by question. STATUS_SUCCESS with the record
/// complete; STATUS_FAILURE on a stop request or when the user gives up the request at
/// the intermediate target warning; STATUS_CALCULATION_ERROR when the console fails
/// (at any question, yes/no questions included); STATUS_INVALID_INPUT_ERROR when
/// inputs is null.
StatusCode get_user_inputs(UserInputs* inputs);
