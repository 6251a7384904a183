#include "tests/app/app_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <filesystem>
#include <map>

#include "demo/demo_installation.h"

namespace dalimor::apptest {
namespace {}  // namespace

std::map<std::string, SuiteFactory>& AllSuites() {
  static std::map<std::string, SuiteFactory> suites;
  return suites;
}

bool RegisterSuite(const char* name, SuiteFactory factory) {
  AllSuites()[name] = std::move(factory);
  return true;
}

int ScriptedBoxes::Show(QWidget*, MsgKind kind, const std::string& caption, const std::string& text,
                        int buttons) {
  int answer = kIdOk;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if (buttons != kMbOk) {
    unexpected.push_back(text);
    answer = kIdNo;
  }
  shown.push_back({kind, caption, text, buttons, answer});
  if (on_show) on_show(shown.back());
  return answer;
}

WindowFixture::WindowFixture(bool demo) {
  installation_ = MakeFolder("kalmeo");
  if (demo) WriteDemoInstallation(installation_, DemoOptions{});
}

std::string WindowFixture::MakeFolder(const std::string& name) const {
  const std::filesystem::path path = temp_.path() / name;
  std::filesystem::create_directories(path);
  return path.string();
}

TfmMain& WindowFixture::Open() {
  AppOptions options;
  options.executable_folder = installation_;
  options.state_file = state_file();
  if (!executable.empty()) {
    StateFiles files = StateFilesFor(executable);
    options.state_file = files.state_file;
    options.earlier_state_file = files.earlier_state_file;
  }
  options.engine_config_path = engine_config();
  options.clock = &clock;
  options.message_boxes = &boxes;
  // The run log stays in the fixture's folder.
  options.run_log_folder = Path("historie");
  options.choose_archive = [this](QWidget*, const QString&, const QString&) {
    if (chosen_archives.empty()) return QString();
    QString archive = chosen_archives.front();
    chosen_archives.pop_front();
    return archive;
  };
  if (!real_folder_dialog) {
    options.choose_folder = [this](QWidget*, const QString&, const QString&) {
      if (chosen_folders.empty()) return QString();
      QString folder = chosen_folders.front();
      chosen_folders.pop_front();
      return folder;
    };
  }
  options.run_dialog = [this](QDialog& dialog) {
    ++dialogs_run;
    if (on_dialog) on_dialog(dialog);
  };
  window_ = std::make_unique<TfmMain>(options);
  return *window_;
}

void WindowFixture::Close() {
  window_.reset();
  Settle();
}

bool ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

ShownBox LastBox(const ScriptedBoxes& boxes) {
  if (boxes.shown.empty()) return {MsgKind::kInfo, "", "", kMbOk, 0};
  return boxes.shown.back();
}

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

}  // namespace dalimor::apptest
