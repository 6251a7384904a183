#include "app/error_report.h"

namespace dalimor {

std::string ErrorReportText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ReportError(Ui& ui, const std::string& message) {
  MsgError(ui, "", ErrorReportText(message));
}

}  // namespace dalimor
