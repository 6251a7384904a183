#pragma once
// The about box (TfmAbout): the program's name and version and an OK button.

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace dalimor {

// The program's version as four numbers joined by "." (from the build).
QString FileVersionText();

class TfmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfmAbout(QWidget* parent = nullptr);

  QLabel* version_label() const { return version_; }
  QPushButton* ok_button() const { return ok_; }

 private:
  QLabel* version_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace dalimor
