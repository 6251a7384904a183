#pragma once
// The user guide: a window with the HTML guide that ships inside the
// program, opened at a topic (an anchor of the guide).

#include <QWidget>

class QTextBrowser;

namespace dalimor {

// The guide's address inside the program.
inline constexpr const char* kHelpDocument = "qrc:/help/prirucka.html";
// The topic F1 opens.
inline constexpr const char* kHelpStartTopic = "JakCistTutoPrirucku";

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows the guide at the anchor `topic` and brings the window forward.
  void ShowTopic(const QString& topic);

  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_ = nullptr;
};

}  // namespace dalimor
