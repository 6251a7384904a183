#pragma once
// The application's default error report: an error that no handler deals
// with ends the handler and is shown in a stop box with the application
// title as caption.

#include <string>

#include "util/ui.h"

namespace dalimor {

// The error's text with a full stop appended when its last character sorts
// after "." (letters and digits do; ".", "!" and ")" do not).
std::string ErrorReportText(const std::string& message);

// Shows the report: MsgError with the application title and an OK button.
void ReportError(Ui& ui, const std::string& message);

}  // namespace dalimor
