// The dialog's vocabulary for a library status, in one table: the name its messages and
// reports print, whether the status ends the conversion loop as a failure, and the
// process exit code it leads to. Nothing below the dialog and its report texts knows it.
#pragma once

#include "quillmere/quillmere.h"

namespace quillmere::report {

/// What a status means to the dialog.
struct DialogStatus {
    /// The display name: "SUCCESS", "FAILURE" (nothing found, stopped or cancelled),
    /// "Memory Allocation Error", "Invalid Input Error", "Calculation Error",
    /// "Arithmetic Overflow Error"; "Unknown Error Code" for a value out of range.
    const char* name = "Unknown Error Code";
    /// A failure that ends the conversion loop at once, without asking for another
    /// conversion; false for success and the ordinary ends (nothing found, stopped,
    /// cancelled by the user).
    bool critical = true;
    /// The exit code of a program that ends with this status: 0 for success, else 1.
    int exit_code = 1;
};

/// The dialog's meaning of a status.
DialogStatus dialog_status(Status status);

}  // namespace quillmere::report
