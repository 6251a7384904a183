// The desktop program: reads its command line, creates the main window and
// runs the event loop until the window closes.
//
//   dalimor [--installation DIR]
//
// DIR takes the place of the program's own folder as the folder Kalmeo's
// data are found from (DataPrg\Kalmeo.cfg, DATA\...); the window-state file
// stays where StateFilesFor puts it.

#include <QApplication>
#include <cstdio>

#include "app/app_options.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_text.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (!dalimor::SetUpApplication(application))
    std::fprintf(stderr, "dalimor: Qt's Czech translations are missing (%s)\n",
                 dalimor::QtCzechTranslationFile().toLocal8Bit().constData());

  dalimor::AppOptions options;
  QString error;
  const std::string executable = dalimor::ToStd(QCoreApplication::applicationFilePath());
  if (!dalimor::ParseProgramArguments(QCoreApplication::arguments(), executable, options, error)) {
    std::fprintf(stderr, "dalimor: %s\npoužití: dalimor [--installation DIR]\n",
                 error.toLocal8Bit().constData());
    return 2;
  }

  dalimor::TfmMain window(options);
  window.show();
  return application.exec();
}
