#pragma once
// How the window shows a message box.  The window asks a presenter, so that
// tests can answer the boxes from a script instead of a person.

#include <string>

#include "util/ui.h"

class QWidget;

namespace dalimor {

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // Shows the box over `parent` and returns kIdOk, kIdYes or kIdNo.
  // `buttons` is kMbOk, kMbYesNo or kMbYesNoDefaultNo; `text` may hold CR LF.
  virtual int Show(QWidget* parent, MsgKind kind, const std::string& caption,
                   const std::string& text, int buttons) = 0;
};

// Application-modal QMessageBox with the icon of the kind, Czech buttons and
// the preselected button of the code.  While it is open the mouse shows the
// arrow even when the busy cursor is on.
class QtMessageBoxPresenter final : public MessageBoxPresenter {
 public:
  int Show(QWidget* parent, MsgKind kind, const std::string& caption, const std::string& text,
           int buttons) override;
};

}  // namespace dalimor
