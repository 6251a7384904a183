#pragma once
// A label for a folder path: when the path is wider than the label, the
// middle of it gives way to "…", so both the start and the end stay
// readable.  text() and the tooltip keep the whole path.

#include <QLabel>

namespace dalimor {

class PathLabel : public QLabel {
 public:
  explicit PathLabel(QWidget* parent = nullptr);

  // Sets the path shown and its tooltip.
  void SetPath(const QString& path);

  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace dalimor
