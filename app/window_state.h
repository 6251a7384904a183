#pragma once
// The saved state of the main window's pages in the window-state file: the
// keys of the sections "Odeslani" and "Prijem" in the order they are loaded,
// and the folder box with its history.

#include <string>
#include <vector>

#include "app/agenda_page.h"

class QComboBox;

namespace dalimor {

class IniFile;

inline constexpr const char* kFormSection = "fmMain";
inline constexpr const char* kSendSection = "Odeslani";
inline constexpr const char* kReceiveSection = "Prijem";
inline constexpr const char* kFolderHistorySection = "SendPathHist";
inline constexpr const char* kFolderHistoryKey = "SendPathDir";
inline constexpr const char* kCompanyNameKey = "CompanyName";
inline constexpr const char* kArchiveKey = "ckVytvoritArchiv";

inline const char* PageSection(PageKind kind) {
  return kind == PageKind::kSend ? kSendSection : kReceiveSection;
}

// Makes the window-state file ready for reading and writing: creates its
// folder and, while it does not exist yet but `earlier` (non-empty) does,
// starts it as a copy of `earlier`.  Returns the file the window is to use:
// `state_file`, or `earlier` when the copy could not be made (so that the
// settings are still read; the first write reports what is wrong).
std::string PrepareStateFile(const std::string& state_file, const std::string& earlier);

// The controls of a page's section in load order: include boxes, date boxes
// and the options (ckVseO, edVseDatOdO, edVseDatDoO, ckPFO, ...).  Series
// boxes are not among them.
std::vector<std::string> PageStateKeys(PageKind kind);
// The nine series boxes of a page in the order they are saved.
std::vector<std::string> SeriesStateKeys(PageKind kind);

// Sets every control of PageStateKeys from the page's section: a check box
// from a boolean (its click rules run), a date box from a text.
void LoadPageState(const IniFile& ini, AgendaPage& page);
// Writes the controls of PageStateKeys, then the series positions (-1 for
// none).  Throws IniFileError.
void SavePageState(IniFile& ini, const AgendaPage& page);

// Empties the box, sets its text from `key` and appends key + "History" + i
// for i below key + "HistoryCount" (a missing entry appends an empty item).
void LoadComboHistory(const IniFile& ini, QComboBox& box, const std::string& section,
                      const std::string& key);
// Writes the box's text under `key`, its non-empty items as key + "History"
// + 0, 1, ... and their number as key + "HistoryCount".  Throws IniFileError.
void SaveComboHistory(IniFile& ini, const QComboBox& box, const std::string& section,
                      const std::string& key);

}  // namespace dalimor
