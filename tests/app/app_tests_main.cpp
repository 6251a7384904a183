// Runs the window test classes: the one named as the first argument, or all
// of them.  Further arguments go to Qt Test.

#include <QApplication>
#include <QTest>
#include <cstring>
#include <map>
#include <vector>

#include "app/application.h"
#include "tests/app/app_test_support.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // As the program does; a suite of its own reports missing translations.
  dalimor::SetUpApplication(application);
  auto& suites = dalimor::apptest::AllSuites();

  std::vector<char*> rest = {argv[0]};
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (only.empty() && suites.count(argv[i]) != 0)
      only = argv[i];
    else
      rest.push_back(argv[i]);
  }
  int failed = 0;
  for (auto& [name, factory] : suites) {
    if (!only.empty() && name != only) continue;
    std::unique_ptr<QObject> suite = factory();
    failed += QTest::qExec(suite.get(), static_cast<int>(rest.size()), rest.data());
  }
  return failed == 0 ? 0 : 1;
}
