#pragma once
// What the program sets up on its QApplication before the first window
// opens; the window tests set up theirs the same way.

#include <QString>

class QApplication;

namespace dalimor {

// Qt's own Czech texts: the file of Qt's translations the program loads.
QString QtCzechTranslationFile();

// Names the application and gives Qt's own texts (the folder dialog, the
// context menus of text boxes, standard buttons) in Czech, with Czech as
// the default locale.  Returns false when Qt's Czech translations are not
// installed (QtCzechTranslationFile is missing); Qt's texts then stay
// English and everything else works.
bool SetUpApplication(QApplication& application);

}  // namespace dalimor
