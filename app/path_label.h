#pragma once
// Widgets that show folder paths: when a path is wider than the widget, the
// middle of it gives way to "…", so both the start and the end stay
// readable; the whole path is in the tooltip.

#include <QLabel>
#include <QLineEdit>

namespace dalimor {

// `path` as it fits into `width` pixels of `metrics`' font.
QString ElidePath(const QFontMetrics& metrics, const QString& path, int width);

// A label for a folder path.  text() and the tooltip keep the whole path.
class PathLabel : public QLabel {
 public:
  explicit PathLabel(QWidget* parent = nullptr);

  // Sets the path shown and its tooltip.
  void SetPath(const QString& path);

  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A line edit for a folder path (the editor of an editable combo box).
// Without the focus it shows a path too wide for it shortened in the middle,
// with the whole path as its tooltip; with the focus it shows and edits the
// whole text as any line edit.
class PathLineEdit : public QLineEdit {
 public:
  explicit PathLineEdit(QWidget* parent = nullptr);

  // What the box shows now: text(), or text() shortened to the box.
  QString ShownText() const;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextArea() const;
};

}  // namespace dalimor
