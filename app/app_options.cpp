#include "app/app_options.h"

#include <QFileInfo>
#include <QStringList>

#include "app/qt_text.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {

StateFiles StateFilesFor(const std::string& executable_path) {
  // Linux executables have no extension to replace.
  const std::string beside_executable = executable_path + ".INI";
#ifdef _WIN32
  return {beside_executable, ""};
#else
  return {Utf8FromPath(UserConfigFolder() / "dalimor.ini"), beside_executable};
#endif
}

bool ParseProgramArguments(const QStringList& arguments, const std::string& executable_path,
                           AppOptions& options, QString& error) {
  options.executable_folder = ToStd(QFileInfo(ToQt(executable_path)).absolutePath());
  StateFiles state = StateFilesFor(executable_path);
  options.state_file = std::move(state.state_file);
  options.earlier_state_file = std::move(state.earlier_state_file);
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
