#pragma once
// The folder dialog of "Procházet": Qt's own directory dialog, which speaks
// Czech with the rest of the program whatever language the desktop's
// dialog would speak (on Windows the system's dialog, as Czech as Windows).

#include <QString>
#include <memory>

class QFileDialog;
class QWidget;

namespace dalimor {

// The dialog, not yet shown: folders only, titled `title`, opened at
// `initial` (or at the working folder when that is empty).
std::unique_ptr<QFileDialog> MakeFolderDialog(QWidget* parent, const QString& title,
                                              const QString& initial);

// Runs MakeFolderDialog's dialog; the folder chosen, or empty when cancelled.
QString ChooseFolder(QWidget* parent, const QString& title, const QString& initial);

}  // namespace dalimor
