#include "app/folder_dialog.h"

#include <QFileDialog>

namespace dalimor {

std::unique_ptr<QFileDialog> MakeFolderDialog(QWidget* parent, const QString& title,
                                              const QString& initial) {
  auto dialog = std::make_unique<QFileDialog>(parent, title, initial);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly, true);
#ifndef _WIN32
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
#endif
  return dialog;
}

QString ChooseFolder(QWidget* parent, const QString& title, const QString& initial) {
  const std::unique_ptr<QFileDialog> dialog = MakeFolderDialog(parent, title, initial);
  if (dialog->exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog->selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.front();
}

}  // namespace dalimor
