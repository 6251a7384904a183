#include "app/window_state.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/qt_text.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

// The dated agendas in the order of the saved sections (this is not the
// order of the rows on the page).
constexpr const char* kDatedStateOrder[] = {"Vse",   "PF", "VF",      "SklOper", "Pokl",
                                            "Banka", "PZ", "IntDokl", "Denik"};
constexpr const char* kSeriesOrder[] = {"PF",    "VF",      "SklOper", "Obj",  "Pokl",
                                        "Banka", "IntDokl", "PZ",      "Denik"};

void AddDatedRow(std::vector<std::string>& keys, const std::string& code, const std::string& page) {
  keys.push_back("ck" + code + page);
  keys.push_back("ed" + code + "DatOd" + page);
  keys.push_back("ed" + code + "DatDo" + page);
}

constexpr int kMaxHistoryLoaded = 1000;

}  // namespace

std::string PrepareStateFile(const std::string& state_file, const std::string& earlier) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path = PathFromUtf8(state_file);
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  if (earlier.empty() || fs::exists(path, error) ||
      !fs::is_regular_file(PathFromUtf8(earlier), error))
    return state_file;
  // Copied under a temporary name and renamed, so that an interrupted copy
  // leaves no half file that would stand for the state from then on.
  const fs::path copy = PathFromUtf8(state_file + ".new");
  if (fs::copy_file(PathFromUtf8(earlier), copy, fs::copy_options::overwrite_existing, error)) {
    fs::rename(copy, path, error);
    if (!error) return state_file;
  }
  fs::remove(copy, error);
  return earlier;
}

std::vector<std::string> PageStateKeys(PageKind kind) {
  const std::string page = kind == PageKind::kSend ? "O" : "P";
  std::vector<std::string> keys;
  for (const char* code : kDatedStateOrder) AddDatedRow(keys, code, page);
  keys.push_back("ckCenik" + page);
  keys.push_back("ckCenikVse" + page);
  AddDatedRow(keys, "Obj", page);
  keys.push_back("ckDoklPrepsat" + page);
  if (kind == PageKind::kSend) keys.push_back("ckDoklSmazatO");
  return keys;
}

std::vector<std::string> SeriesStateKeys(PageKind kind) {
  const std::string page = kind == PageKind::kSend ? "O" : "P";
  std::vector<std::string> keys;
  for (const char* code : kSeriesOrder) keys.push_back(std::string("cb") + code + "DR" + page);
  return keys;
}

void LoadPageState(const IniFile& ini, AgendaPage& page) {
  const char* section = PageSection(page.kind());
  for (const std::string& key : PageStateKeys(page.kind())) {
    QWidget* control = page.findChild<QWidget*>(ToQt(key));
    if (auto* box = qobject_cast<QCheckBox*>(control))
      box->setChecked(ini.ReadBool(section, key, false));
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
      edit->setText(ToQt(ini.ReadString(section, key, "")));
  }
}

void SavePageState(IniFile& ini, const AgendaPage& page) {
  const char* section = PageSection(page.kind());
  for (const std::string& key : PageStateKeys(page.kind())) {
    QWidget* control = page.findChild<QWidget*>(ToQt(key));
    if (auto* box = qobject_cast<QCheckBox*>(control))
      ini.WriteBool(section, key, box->isChecked());
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
      ini.WriteString(section, key, ToStd(edit->text()));
  }
  for (const std::string& key : SeriesStateKeys(page.kind())) {
    const auto* box = page.findChild<QComboBox*>(ToQt(key));
    ini.WriteInteger(section, key, box ? box->currentIndex() : -1);
  }
}

void LoadComboHistory(const IniFile& ini, QComboBox& box, const std::string& section,
                      const std::string& key) {
  box.clear();
  const QString text = ToQt(ini.ReadString(section, key, ""));
  // Every read goes through the file, so a damaged count is not followed
  // beyond what a person could have collected.
  const int count = std::min(ini.ReadInteger(section, key + "HistoryCount", 0), kMaxHistoryLoaded);
  for (int i = 0; i < count; ++i)
    box.addItem(ToQt(ini.ReadString(section, key + "History" + std::to_string(i), "")));
  // Adding the first item would have made it the text; the text comes last.
  box.setCurrentIndex(-1);
  box.setEditText(text);
}

void SaveComboHistory(IniFile& ini, const QComboBox& box, const std::string& section,
                      const std::string& key) {
  ini.WriteString(section, key, ToStd(box.currentText()));
  int written = 0;
  for (int i = 0; i < box.count(); ++i) {
    const std::string item = ToStd(box.itemText(i));
    if (item.empty()) continue;
    ini.WriteString(section, key + "History" + std::to_string(written), item);
    ++written;
  }
  ini.WriteInteger(section, key + "HistoryCount", written);
}

}  // namespace dalimor
