#include "app/application.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace dalimor {
namespace {

constexpr const char* kQtCzechTranslation = "qtbase_cs";

}  // namespace

QString QtCzechTranslationFile() {
  return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath))
      .filePath(QLatin1String(kQtCzechTranslation) + QLatin1String(".qm"));
}

bool SetUpApplication(QApplication& application) {
  QApplication::setApplicationName(QStringLiteral("Dalimor"));
  QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
  // The translator lives as long as the application.
  auto* translator = new QTranslator(&application);
  if (!translator->load(QLatin1String(kQtCzechTranslation),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QApplication::installTranslator(translator);
  return true;
}

}  // namespace dalimor
