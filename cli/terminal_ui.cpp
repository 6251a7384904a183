#include "cli/terminal_ui.h"

#include <csignal>
#include <istream>
#include <ostream>

namespace dalimor {
namespace {

volatile std::sig_atomic_t g_stop_signals = 0;

extern "C" void OnStopSignal(int signal_number) {
  if (g_stop_signals != 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
  }
  g_stop_signals = 1;
}

}  // namespace

void InstallStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

bool TerminalUi::StopRequested() const { return g_stop_signals > 0; }

namespace {

// Message texts use CR LF line breaks; a terminal wants LF.
std::string TerminalText(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      result.push_back('\n');
    } else {
      result.push_back(text[i]);
    }
  }
  return result;
}

const char* KindLabel(MsgKind kind) {
  switch (kind) {
    case MsgKind::kWarning: return "Upozornění";
    case MsgKind::kError: return "Chyba";
    case MsgKind::kInfo: return "Informace";
    case MsgKind::kQuestion: return "Dotaz";
  }
  return "";
}

}  // namespace

TerminalUi::TerminalUi(std::ostream& out, std::ostream& err, std::istream& in, Answers answers)
    : out_(out), err_(err), in_(in), answers_(answers) {}

int TerminalUi::ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                               int buttons) {
  (void)caption;
  ++boxes_shown_;
  const std::string shown = TerminalText(text);
  if (buttons == kMbOk) {
    // Notices are the result of a command; warnings and errors are diagnostics.
    std::ostream& stream = (kind == MsgKind::kInfo) ? out_ : err_;
    stream << shown << std::endl;
    return kIdOk;
  }
  const bool yes_preselected = buttons == kMbYesNo;
  int answer = yes_preselected ? kIdYes : kIdNo;
  if (answers_ == Answers::kYes) {
    answer = kIdYes;
    err_ << KindLabel(kind) << ": " << shown << " -> ano (--yes)" << std::endl;
  } else if (answers_ == Answers::kAsk) {
    err_ << KindLabel(kind) << ": " << shown << (yes_preselected ? " [A/n] " : " [a/N] ")
         << std::flush;
    std::string line;
    if (std::getline(in_, line)) {
      if (!line.empty()) {
        const char c = line[0];
        answer = (c == 'a' || c == 'A' || c == 'y' || c == 'Y') ? kIdYes : kIdNo;
      }
    } else {
      answer = kIdNo;  // no one to ask: the safe answer
      err_ << std::endl;
    }
  } else {
    err_ << KindLabel(kind) << ": " << shown << (answer == kIdYes ? " -> ano" : " -> ne")
         << std::endl;
  }
  if (answer == kIdNo) answered_no_ = true;
  return answer;
}

void TerminalUi::SetStatusText(const std::string& text) {
  if (text.empty() || text == last_status_) {
    last_status_ = text;
    return;
  }
  last_status_ = text;
  err_ << text << std::endl;
}

void TerminalUi::ShowDoneMark(RunPage page, const std::string& agenda) {
  (void)page;
  err_ << "  hotovo: " << agenda << std::endl;
}

void TerminalUi::SetProgress(int done, int total, int within) {
  if (total <= 0) return;
  // A finished step gets its line; a long step one every tenth of its rows.
  if (within == 0) {
    tenths_shown_ = 0;
    err_ << "  [" << done << "/" << total << "]" << std::endl;
    return;
  }
  if (within / 100 <= tenths_shown_) return;
  tenths_shown_ = within / 100;
  err_ << "  [" << done << "/" << total << "] " << tenths_shown_ * 10 << " %" << std::endl;
}

}  // namespace dalimor
