#include "app/app_options.h"

#include <QFileInfo>
#include <QStringList>

#include "app/qt_text.h"

namespace dalimor {

std::string StateFilePathFor(const std::string& executable_path) {
  return executable_path + ".INI";
}

bool ParseProgramArguments(const QStringList& arguments, const std::string& executable_path,
                           AppOptions& options, QString& error) {
  options.executable_folder = ToStd(QFileInfo(ToQt(executable_path)).absolutePath());
  options.state_file = StateFilePathFor(executable_path);
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--installation")) {
      if (i + 1 >= arguments.size()) {
        error = QStringLiteral("--installation potřebuje složku");
        return false;
      }
      options.executable_folder = ToStd(QFileInfo(arguments[++i]).absoluteFilePath());
    } else {
      error = QStringLiteral("neznámý argument: ") + argument;
      return false;
    }
  }
  return true;
}

}  // namespace dalimor
